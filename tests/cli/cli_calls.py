#!/usr/bin/env python3
"""Whole calls of softphone-cli against real peers on 127.0.0.1.

Usage: cli_calls.py CLI_PATH CASE. Each case starts its peers and agents as
child processes, drives the agents through their standard input, checks the
events they print, and stops everything within its own time bound. Exit 0 on
success; 77 when a peer program is not installed (CTest reports a skip).
"""
import json
import os
import queue
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SIPP_PORT = 15160
CALLER_PORT = 15175
CALLEE_PORT = 15176


class Failure(Exception):
    pass


class Agent:
    """One softphone-cli child: commands in, one event per line out."""

    def __init__(self, cli, name, args, workdir):
        self.name = name
        self.stderr = open(os.path.join(workdir, name + ".err"), "w+")
        self.proc = subprocess.Popen([cli] + args, stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=self.stderr,
                                     text=True, bufsize=1)
        self.events = queue.Queue()
        self.seen = []
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for line in self.proc.stdout:
            self.events.put(line.rstrip("\n"))
        self.events.put(None)

    def send(self, command):
        self.proc.stdin.write(command + "\n")
        self.proc.stdin.flush()

    def expect(self, prefix, timeout=10):
        """Waits for an event starting with prefix; returns the whole line."""
        deadline = time.monotonic() + timeout
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                raise Failure(f"{self.name}: no '{prefix}' within {timeout}s; saw {self.seen}")
            try:
                line = self.events.get(timeout=left)
            except queue.Empty:
                continue
            if line is None:
                raise Failure(f"{self.name}: exited before '{prefix}'; saw {self.seen}")
            self.seen.append(line)
            if line.startswith(prefix):
                return line

    def finish(self, timeout=10):
        """Ends input, expects exit code 0."""
        try:
            self.proc.stdin.close()
        except BrokenPipeError:
            pass
        try:
            code = self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            raise Failure(f"{self.name}: did not exit after end of input")
        if code != 0:
            raise Failure(f"{self.name}: exit code {code}; stderr: {self.errors()}")

    def errors(self):
        self.stderr.seek(0)
        return self.stderr.read()

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()


def sipp(scenario, workdir, extra=(), target=None):
    args = ["sipp", "-sf", os.path.join(HERE, "scenarios", scenario),
            "-i", "127.0.0.1", "-mi", "127.0.0.1", "-p", str(SIPP_PORT),
            "-m", "1", "-nostdin", "-timeout", "30", "-timeout_error",
            "-trace_err", "-error_file", os.path.join(workdir, "sipp_errors.log")]
    args += list(extra)
    if target:
        args.append(target)
    out = open(os.path.join(workdir, "sipp.out"), "w")
    return subprocess.Popen(args, stdout=out, stderr=subprocess.STDOUT, cwd=workdir)


def wait_sipp(proc, workdir, timeout=20):
    try:
        code = proc.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        proc.kill()
        raise Failure("SIPp did not finish")
    if code != 0:
        log = ""
        for name in ("sipp.out", "sipp_errors.log"):
            path = os.path.join(workdir, name)
            if os.path.exists(path):
                log += open(path).read()[-2000:]
        raise Failure(f"SIPp exit code {code}: {log}")


def caller_args(port, user, server, extra=()):
    return ["--local-port", str(port), "--server", server, "--user", user,
            "--rtp-ports", f"{26000 + (port % 100) * 10}-{26009 + (port % 100) * 10}",
            "--mic", "null", "--speaker", "null"] + list(extra)


def case_sipp_answer(cli, workdir):
    peer = sipp("uas_answer.xml", workdir)
    time.sleep(0.5)  # SIPp binds its port
    agent = Agent(cli, "caller", caller_args(CALLER_PORT, "alice", f"127.0.0.1:{SIPP_PORT}"), workdir)
    try:
        agent.send("call 100")
        agent.expect("ringback")
        agent.expect("answered")
        agent.send("wait 1")
        agent.send("hangup")
        agent.expect("bye")
        agent.finish()
        wait_sipp(peer, workdir)
    finally:
        agent.kill()
        peer.kill()


def case_sipp_busy(cli, workdir):
    peer = sipp("uas_reject486.xml", workdir)
    time.sleep(0.5)
    agent = Agent(cli, "caller", caller_args(CALLER_PORT, "alice", f"127.0.0.1:{SIPP_PORT}"), workdir)
    try:
        agent.send("call 100")
        line = agent.expect("bye")
        if "486" not in line:
            raise Failure(f"expected the 486 status in '{line}'")
        agent.finish()
        wait_sipp(peer, workdir)
    finally:
        agent.kill()
        peer.kill()


def case_sipp_cancel(cli, workdir):
    # The agent must be listening before SIPp calls it.
    agent = Agent(cli, "callee", caller_args(CALLER_PORT, "alice", f"127.0.0.1:{SIPP_PORT}"), workdir)
    peer = None
    try:
        time.sleep(0.5)
        peer = sipp("uac_cancel.xml", workdir, ["-s", "alice"], f"127.0.0.1:{CALLER_PORT}")
        line = agent.expect("incoming")
        if line != "incoming caller":
            raise Failure(f"expected 'incoming caller', got '{line}'")
        agent.expect("bye")
        wait_sipp(peer, workdir)
        agent.finish()
    finally:
        agent.kill()
        if peer:
            peer.kill()


def wait_port_free(port, timeout=30):
    """Waits until nothing holds the UDP port. Kamailio binds with address
    reuse, so a second one started by another test run would not fail but
    split the traffic; a plain bind of ours does fail while one runs."""
    deadline = time.monotonic() + timeout
    while True:
        probe = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        try:
            probe.bind(("127.0.0.1", port))
            return
        except OSError:
            if time.monotonic() > deadline:
                raise Failure(f"UDP port {port} stayed taken")
            time.sleep(0.5)
        finally:
            probe.close()


def start_kamailio(workdir):
    wait_port_free(5060)
    run = os.path.join(workdir, "run")
    os.makedirs(run, exist_ok=True)
    log = open(os.path.join(workdir, "kamailio.log"), "w")
    proc = subprocess.Popen(
        ["kamailio", "-f", os.path.join(HERE, "kamailio.cfg"), "-P", os.path.join(workdir, "kamailio.pid"),
         "-Y", run, "-w", workdir, "-m", "64", "-M", "8", "-DD", "-E",
         "-A", f'CTLSOCK="unix:{os.path.join(workdir, "ctl")}"'],
        stdout=log, stderr=subprocess.STDOUT)
    time.sleep(1.0)
    if proc.poll() is not None:
        raise Failure("Kamailio did not start: " + open(os.path.join(workdir, "kamailio.log")).read()[-2000:])
    return proc


def two_agents_through_kamailio(cli, workdir, hold_resume, caller_hangs_up):
    """Digest registration and a call through Kamailio (INVITE challenged with
    407), DTMF by SIP INFO, optionally hold and resume (the call must survive
    them), then one side hangs up and both see bye."""
    proxy = start_kamailio(workdir)
    callee = caller = None
    try:
        callee = Agent(cli, "callee", caller_args(CALLEE_PORT, "bob", "127.0.0.1",
                                                  ["--password", "bobpw", "--auto-answer"]), workdir)
        caller = Agent(cli, "caller", caller_args(CALLER_PORT, "alice", "127.0.0.1",
                                                  ["--password", "alicepw", "--dtmf", "info"]), workdir)
        callee.send("register")
        callee.expect("registered")
        caller.send("register")
        caller.expect("registered")
        caller.send("call bob")
        callee.expect("incoming alice")
        caller.expect("answered", timeout=15)
        caller.send("dtmf 12")
        callee.expect("dtmf 1")
        callee.expect("dtmf 2")
        if hold_resume:
            # Hold and resume re-INVITE through the proxy; the call must survive.
            caller.send("hold")
            caller.send("wait 1")
            caller.send("resume")
            caller.send("wait 1")
            caller.send("dtmf 3")
            callee.expect("dtmf 3", timeout=5)
            if any(line.startswith("bye") for line in caller.seen + callee.seen):
                raise Failure("the call ended during hold and resume")
        ender, other = (caller, callee) if caller_hangs_up else (callee, caller)
        ender.send("wait 1")
        ender.send("hangup")
        ender.expect("bye")
        other.expect("bye")
        # Leaving unregisters: each agent reports its registration gone.
        caller.send("quit")
        caller.expect("registration-lost")
        callee.send("quit")
        callee.expect("registration-lost")
        caller.finish()
        callee.finish()
    finally:
        for agent in (caller, callee):
            if agent:
                agent.kill()
        proxy.terminate()
        try:
            proxy.wait(timeout=5)
        except subprocess.TimeoutExpired:
            proxy.kill()


def case_kamailio_two_agents(cli, workdir):
    two_agents_through_kamailio(cli, workdir, hold_resume=False, caller_hangs_up=False)


def case_kamailio_hold_resume(cli, workdir):
    two_agents_through_kamailio(cli, workdir, hold_resume=True, caller_hangs_up=True)


def start_baresip(workdir):
    confdir = os.path.join(workdir, "baresip")
    os.makedirs(os.path.join(confdir, "rec"), exist_ok=True)
    config = open(os.path.join(HERE, "baresip.conf.in")).read().replace("@CONFDIR@", confdir)
    open(os.path.join(confdir, "config"), "w").write(config)
    open(os.path.join(confdir, "accounts"), "w").write(
        "<sip:carol@127.0.0.1>;regint=0;answermode=auto;audio_codecs=pcmu,pcma\n")
    env = dict(os.environ, HOME=workdir)
    out = open(os.path.join(workdir, "baresip.out"), "w")
    proc = subprocess.Popen(["baresip", "-f", confdir], stdin=subprocess.DEVNULL,
                            stdout=out, stderr=subprocess.STDOUT, env=env)
    time.sleep(1.0)
    if proc.poll() is not None:
        raise Failure("baresip did not start: " + open(os.path.join(workdir, "baresip.out")).read()[-2000:])
    return proc


def case_baresip_answers(cli, workdir):
    """We call an independent user agent that answers by itself."""
    peer = start_baresip(workdir)
    agent = None
    try:
        agent = Agent(cli, "caller", caller_args(CALLER_PORT, "alice", "127.0.0.1:5190"), workdir)
        agent.send("call carol")
        agent.expect("answered", timeout=15)
        agent.send("wait 1")
        agent.send("hangup")
        agent.expect("bye")
        agent.finish()
    finally:
        if agent:
            agent.kill()
        peer.terminate()
        try:
            peer.wait(timeout=5)
        except subprocess.TimeoutExpired:
            peer.kill()


def baresip_command(command, params=""):
    """Sends one netstring-framed JSON command to baresip's control port."""
    body = json.dumps({"command": command, "params": params, "token": "t"})
    with socket.create_connection(("127.0.0.1", 5194), timeout=5) as conn:
        conn.sendall(f"{len(body)}:{body},".encode())
        conn.settimeout(5)
        try:
            conn.recv(4096)
        except socket.timeout:
            pass


def case_baresip_calls(cli, workdir):
    """An independent user agent calls us; we answer and hang up."""
    peer = start_baresip(workdir)
    agent = None
    try:
        agent = Agent(cli, "callee", caller_args(CALLER_PORT, "alice", "127.0.0.1:5190"), workdir)
        time.sleep(0.5)
        baresip_command("dial", f"sip:alice@127.0.0.1:{CALLER_PORT}")
        line = agent.expect("incoming", timeout=10)
        if line != "incoming carol":
            raise Failure(f"expected 'incoming carol', got '{line}'")
        agent.send("answer")
        agent.send("wait 1")
        agent.send("hangup")
        agent.expect("bye")
        agent.finish()
    finally:
        if agent:
            agent.kill()
        peer.terminate()
        try:
            peer.wait(timeout=5)
        except subprocess.TimeoutExpired:
            peer.kill()


def case_errors(cli, workdir):
    """Bad commands and arguments are reported and skipped; bad options stop."""
    script = "bogus\ncall\nhangup\nwait x\ndtmf 1\nregister\nwait 0.1\n"
    done = subprocess.run([cli, "--local-port", str(CALLER_PORT)], input=script, text=True,
                          capture_output=True, timeout=15)
    errors = done.stderr.splitlines()
    expected = ["error: unknown command: bogus", "error: call needs NUMBER",
                "error: no current call", 'error: bad wait: "x" (expected 0 to 3600 seconds)',
                "error: no current call", "error: no account: start with --server and --user"]
    if done.returncode != 0 or errors != expected or done.stdout:
        raise Failure(f"exit {done.returncode}, stdout {done.stdout!r}, stderr {errors}")
    for args in (["--dtmf", "morse"], ["--local-port", "70000"], ["--rtp-ports", "9-8"],
                 ["--server", "127.0.0.1"], ["--user"], ["--bogus"]):
        bad = subprocess.run([cli] + args, input="", text=True, capture_output=True, timeout=15)
        if bad.returncode == 0 or not bad.stderr.startswith("error: "):
            raise Failure(f"{args}: exit {bad.returncode}, stderr {bad.stderr!r}")


CASES = {
    "errors": (case_errors, []),
    "sipp_answer": (case_sipp_answer, ["sipp"]),
    "sipp_busy": (case_sipp_busy, ["sipp"]),
    "sipp_cancel": (case_sipp_cancel, ["sipp"]),
    "kamailio_two_agents": (case_kamailio_two_agents, ["kamailio"]),
    "kamailio_hold_resume": (case_kamailio_hold_resume, ["kamailio"]),
    "baresip_answers": (case_baresip_answers, ["baresip"]),
    "baresip_calls": (case_baresip_calls, ["baresip"]),
}


def main():
    cli, name = sys.argv[1], sys.argv[2]
    run, tools = CASES[name]
    for tool in tools:
        if shutil.which(tool) is None:
            print(f"skipped: {tool} not installed")
            return 77
    with tempfile.TemporaryDirectory(prefix="cli_" + name + "_") as workdir:
        try:
            run(cli, workdir)
        except Failure as failure:
            print(f"FAILED {name}: {failure}")
            for file in sorted(os.listdir(workdir)):
                if file.endswith(".err"):
                    print(f"--- {file}\n" + open(os.path.join(workdir, file)).read()[-3000:])
            return 1
    print(f"passed {name}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
