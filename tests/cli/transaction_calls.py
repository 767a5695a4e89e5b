#!/usr/bin/env python3
"""softphone-cli over lossy and racing signalling, against real peers on
127.0.0.1: lost datagrams (a UDP relay that drops chosen ones), a registrar
granting a short expiry, a callee whose 200 crosses the CANCEL, a caller that
never acknowledges, and a server on a port other than 5060.

Usage: transaction_calls.py CLI_PATH CASE; exit codes as cli_calls.py.
"""
import datetime
import os
import re
import select
import socket
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from cli_calls import CALLEE_PORT, CALLER_PORT  # noqa: E402
from cli_harness import (HERE, SIPP_PORT, Agent, Failure, caller_args, run_case, sipp, spawn,  # noqa: E402
                         udp_bound, wait_port_free, wait_ready, wait_sipp)

KAMAILIO_PORT = 15090


class LossyRelay:
    """Forwards datagrams between one agent and one peer, dropping the first
    copies of chosen requests: drops maps a request-line prefix ("INVITE ")
    to how many to lose. Every datagram is noted (direction, first line)."""

    def __init__(self, peer_port, drops):
        self.peer = ("127.0.0.1", peer_port)
        self.drops = dict(drops)
        self.log = []
        self.agent = None
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind(("127.0.0.1", 0))
        self.port = self.sock.getsockname()[1]
        self.stopping = False
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _run(self):
        while not self.stopping:
            ready, _, _ = select.select([self.sock], [], [], 0.1)
            if not ready:
                continue
            data, source = self.sock.recvfrom(65536)
            first = data.split(b"\r\n", 1)[0].decode("latin-1")
            if source == self.peer:
                if self.agent:
                    self.log.append(("in", first, False))
                    self.sock.sendto(data, self.agent)
                continue
            self.agent = source
            dropped = False
            for prefix, left in self.drops.items():
                if left > 0 and first.startswith(prefix):
                    self.drops[prefix] = left - 1
                    dropped = True
            self.log.append(("out", first, dropped))
            if not dropped:
                self.sock.sendto(data, self.peer)

    def count(self, direction, prefix, dropped=None):
        return sum(1 for d, first, lost in self.log
                   if d == direction and first.startswith(prefix) and (dropped is None or lost == dropped))

    def close(self):
        self.stopping = True
        self.thread.join()
        self.sock.close()


def start_kamailio(workdir, extra_alias_port=None):
    """Kamailio as registrar and proxy on KAMAILIO_PORT (not 5060), from the
    interop configuration with its listen address moved."""
    wait_port_free(KAMAILIO_PORT)
    cfg = open(os.path.join(HERE, "kamailio.cfg")).read()
    cfg = cfg.replace("listen=udp:127.0.0.1:5060", f"listen=udp:127.0.0.1:{KAMAILIO_PORT}")
    cfg = cfg.replace('alias="localhost:5060"', f'alias="localhost:{KAMAILIO_PORT}"')
    if extra_alias_port:
        # The relay in front of it is the same server to the agents.
        cfg = cfg.replace(f'alias="localhost:{KAMAILIO_PORT}"',
                          f'alias="localhost:{KAMAILIO_PORT}"\nalias=udp:127.0.0.1:{extra_alias_port}')
    path = os.path.join(workdir, "kamailio.cfg")
    open(path, "w").write(cfg)
    run = os.path.join(workdir, "run")
    os.makedirs(run, exist_ok=True)
    log = open(os.path.join(workdir, "kamailio.log"), "w")
    proc = spawn(
        ["kamailio", "-f", path, "-P", os.path.join(workdir, "kamailio.pid"),
         "-Y", run, "-w", workdir, "-m", "64", "-M", "8", "-DD", "-E",
         "-A", f'CTLSOCK="unix:{os.path.join(workdir, "ctl")}"'],
        stdout=log, stderr=subprocess.STDOUT)
    wait_ready(proc, f"Kamailio on port {KAMAILIO_PORT}", lambda: udp_bound(KAMAILIO_PORT))
    if proc.poll() is not None:
        raise Failure("Kamailio did not start: " + open(os.path.join(workdir, "kamailio.log")).read()[-2000:])
    return proc


def sipp_trace(path):
    """SIPp's message trace as (seconds, "sent" or "received", first line)."""
    messages = []
    stamp = re.compile(r"^-{10,} (\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d+)")
    with open(path, errors="replace") as trace:
        lines = trace.read().splitlines()
    for i, line in enumerate(lines):
        match = stamp.match(line)
        if not match or i + 3 >= len(lines):
            continue
        at = datetime.datetime.strptime(match[1], "%Y-%m-%d %H:%M:%S.%f").timestamp()
        way = "sent" if " sent " in lines[i + 1] else "received"
        messages.append((at, way, lines[i + 3].strip()))
    return messages


def stop(proc):
    if proc is None:
        return
    proc.terminate()
    try:
        proc.wait(timeout=5)
    except subprocess.TimeoutExpired:
        proc.kill()


def kamailio_call(cli, workdir, lossy):
    """alice calls bob through Kamailio on a port other than 5060, both
    registered with digest. With lossy, alice reaches Kamailio through a relay
    that loses her first REGISTER and her first INVITE: the call still
    completes, a little later."""
    relay = None
    proxy = caller = callee = None
    try:
        if lossy:
            relay = LossyRelay(KAMAILIO_PORT, {"REGISTER ": 1, "INVITE ": 1})
        proxy = start_kamailio(workdir, relay.port if relay else None)
        server = f"127.0.0.1:{relay.port if relay else KAMAILIO_PORT}"
        callee = Agent(cli, "callee", caller_args(CALLEE_PORT, "bob", f"127.0.0.1:{KAMAILIO_PORT}",
                                                  ["--password", "bobpw", "--auto-answer", "--log"]), workdir)
        caller = Agent(cli, "caller", caller_args(CALLER_PORT, "alice", server,
                                                  ["--password", "alicepw", "--log"]), workdir)
        callee.send("register")
        callee.expect("registered")
        caller.send("register")
        caller.expect("registered")
        caller.send("call bob")
        callee.expect("incoming alice")
        caller.expect("answered")
        caller.send("wait 1")
        caller.send("hangup")
        caller.expect("bye")
        callee.expect("bye")
        caller.send("quit")
        caller.expect("unregistered")
        callee.send("quit")
        callee.expect("unregistered")
        caller.finish()
        callee.finish()
        if relay:
            if relay.count("out", "REGISTER ", dropped=True) != 1 or relay.count("out", "INVITE ", dropped=True) != 1:
                raise Failure(f"the relay did not lose the first REGISTER and INVITE: {relay.log}")
            if relay.count("out", "INVITE ", dropped=False) < 1:
                raise Failure("the INVITE was never sent again")
        else:
            # The port stays in every URI naming the domain.
            sent = open(os.path.join(workdir, "kamailio.log")).read()
            if f"REQ REGISTER sip:127.0.0.1:{KAMAILIO_PORT}" not in sent or \
                    f"REQ INVITE sip:bob@127.0.0.1:{KAMAILIO_PORT}" not in sent:
                raise Failure("Request-URIs without the server's port: " + "".join(
                    line for line in sent.splitlines(True) if "REQ " in line)[-1500:])
    finally:
        for agent in (caller, callee):
            if agent:
                agent.kill()
        stop(proxy)
        if relay:
            relay.close()


def case_kamailio_other_port(cli, workdir):
    kamailio_call(cli, workdir, lossy=False)


def case_lossy_booth_call(cli, workdir):
    kamailio_call(cli, workdir, lossy=True)


def case_sipp_lost_invite(cli, workdir):
    """The first INVITE never reaches the callee, which answers the copy."""
    peer = sipp("uas_answer.xml", workdir)
    relay = LossyRelay(SIPP_PORT, {"INVITE ": 1})
    agent = None
    try:
        agent = Agent(cli, "caller", caller_args(CALLER_PORT, "alice", f"127.0.0.1:{relay.port}",
                                                 ["--dtmf", "rfc2833"]), workdir)
        started = time.monotonic()
        agent.send("call 100")
        agent.expect("answered")
        if time.monotonic() - started < 0.4:
            raise Failure("answered before the INVITE could have been sent again")
        agent.send("hangup")
        agent.expect("bye")
        agent.finish()
        wait_sipp(peer, workdir)
    finally:
        if agent:
            agent.kill()
        peer.kill()
        relay.close()


def crossed_cancel(cli, workdir, scenario, bye=None):
    peer = sipp(scenario, workdir)
    agent = None
    try:
        agent = Agent(cli, "caller", caller_args(CALLER_PORT, "alice", f"127.0.0.1:{SIPP_PORT}"), workdir)
        agent.send("call 100")
        agent.expect("ringback")
        agent.send("hangup")
        line = agent.expect("bye")
        if bye and line != bye:
            raise Failure(f"expected '{bye}', got '{line}'")
        # SIPp passes only once it had the ACK and the BYE.
        wait_sipp(peer, workdir)
        if any(line.startswith("answered") for line in agent.seen):
            raise Failure("a cancelled call was reported answered")
        agent.finish()
    finally:
        if agent:
            agent.kill()
        peer.kill()


def case_sipp_cancel_crossed_ok_first(cli, workdir):
    crossed_cancel(cli, workdir, "uas_cancel_crossed_ok_first.xml")


def case_sipp_cancel_crossed_cancel_first(cli, workdir):
    # Our own CANCEL ended it: the bye line says so, not a bare "bye 1".
    crossed_cancel(cli, workdir, "uas_cancel_crossed_cancel_first.xml", "bye 1 487 Request Terminated")


def case_sipp_no_ack(cli, workdir):
    """A caller that never sends the ACK: our 200 goes out again and again,
    then the call ends with BYE."""
    agent = Agent(cli, "callee", caller_args(CALLER_PORT, "alice", f"127.0.0.1:{SIPP_PORT}",
                                             ["--auto-answer"]), workdir)
    peer = None
    try:
        peer = sipp("uac_no_ack.xml", workdir, ["-s", "alice", "-timeout", "50", "-trace_msg", "-message_file",
                                                os.path.join(workdir, "messages.log")],
                    f"127.0.0.1:{CALLER_PORT}")
        agent.expect("incoming")
        agent.expect("bye", timeout=90)
        wait_sipp(peer, workdir)
        # Timed by the caller's own trace, from the first 200 to the BYE: the
        # agent's 64*T1 starts when it sends that 200.
        heard = [(at, first) for at, way, first in sipp_trace(os.path.join(workdir, "messages.log"))
                 if way == "received"]
        answered = next((at for at, first in heard if first.startswith("SIP/2.0 200")), None)
        bye = next((at for at, first in heard if first.startswith("BYE ")), None)
        if answered is None or bye is None:
            raise Failure(f"the caller saw no 200 or no BYE: {heard}")
        if not 30 <= bye - answered <= 40:
            raise Failure(f"the unacknowledged call ended {bye - answered:.1f} s after its 200, not after 64*T1")
        received = open(os.path.join(workdir, "messages.log"), errors="replace").read()
        copies = len(re.findall(r"SIP/2\.0 200 OK[^\n]*\n(?:[^\n]+\n)*?CSeq: 1 INVITE", received))
        if copies < 5:
            raise Failure(f"the 200 reached the caller {copies} times; it must be resent until the ACK")
        agent.finish()
    finally:
        agent.kill()
        if peer:
            peer.kill()


def case_sipp_registrar_expires30(cli, workdir):
    """A registrar granting 30 s: refreshed before each expiry, one
    'registered' for the whole time, the removal answered on leaving."""
    peer = sipp("registrar_expires30.xml", workdir, ["-timeout", "50"])
    agent = None
    try:
        agent = Agent(cli, "agent", caller_args(CALLER_PORT, "alice", f"127.0.0.1:{SIPP_PORT}",
                                                ["--expires", "3600"]), workdir)
        agent.send("register")
        agent.expect("registered")
        # Two refreshes (at about 15 s and 30 s) before leaving.
        time.sleep(33)
        agent.send("quit")
        agent.expect("unregistered")
        agent.finish()
        wait_sipp(peer, workdir, timeout=10)
        if agent.seen.count("registered") != 1:
            raise Failure(f"refreshes are no news to the host: {agent.seen}")
    finally:
        if agent:
            agent.kill()
        peer.kill()


CASES = {
    "kamailio_other_port": (case_kamailio_other_port, ["kamailio"]),
    "lossy_booth_call": (case_lossy_booth_call, ["kamailio"]),
    "sipp_lost_invite": (case_sipp_lost_invite, ["sipp"]),
    "sipp_cancel_crossed_ok_first": (case_sipp_cancel_crossed_ok_first, ["sipp"]),
    "sipp_cancel_crossed_cancel_first": (case_sipp_cancel_crossed_cancel_first, ["sipp"]),
    "sipp_no_ack": (case_sipp_no_ack, ["sipp"]),
    "sipp_registrar_expires30": (case_sipp_registrar_expires30, ["sipp"]),
}


def main():
    return run_case(CASES, "tx_",
                    lambda file: file.endswith(".err") or file in ("sipp.out", "sipp_errors.log"))


if __name__ == "__main__":
    sys.exit(main())
