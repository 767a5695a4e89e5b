#!/usr/bin/env python3
"""softphone-cli and linphonec (Debian linphone-cli) through Kamailio.

Usage: cli_linphone.py CLI_PATH CASE. linphonec registers as carol with its
GRUU (its dialogs' Contact is `<sip:carol@127.0.0.1;gr=urn:uuid:...>`, with
no port); the agent is alice. A call each way, the agent hanging up: the
agent's ACK and BYE must name the GRUU as given, Kamailio resolves it from
the registration, and linphonec must see the call end.
"""
import os
import re
import sys
import time

from cli_harness import (EVENT_CEILING, PORT_OFFSET, Agent, Failure, caller_args, kamailio_locations,
                         run_case, start_kamailio, stop_process)

LINPHONE_PORT = 15185 + PORT_OFFSET
AGENT_PORT = 15186 + PORT_OFFSET

LINPHONERC = """[sip]
sip_port={port}
sip_tcp_port=0
sip_tls_port=0
contact=sip:carol@127.0.0.1:{port}
default_proxy=0
supported=replaces, outbound, gruu
[rtp]
audio_rtp_port={rtp}
[sound]
echocancellation=0
[video]
enabled=0
capture=0
display=0
[proxy_0]
reg_proxy=<sip:127.0.0.1:5060>
reg_identity=sip:carol@127.0.0.1
reg_expires=600
reg_sendregister=1
[auth_info_0]
username=carol
userid=carol
passwd=carolpw
realm=127.0.0.1
domain=127.0.0.1
"""


def start_linphonec(workdir):
    home = os.path.join(workdir, "linphone_home")
    # Without its data folder linphonec never leaves its start-up state.
    os.makedirs(os.path.join(home, ".local", "share", "linphone"))
    config = os.path.join(home, "linphonerc")
    rtp = f"{26850 + PORT_OFFSET % 100 * 10}-{26859 + PORT_OFFSET % 100 * 10}"
    with open(config, "w") as out:
        out.write(LINPHONERC.format(port=LINPHONE_PORT, rtp=rtp))
    peer = Agent("linphonec", "linphonec", ["-c", config, "-d", "0", "-a"], workdir,
                 env=dict(os.environ, HOME=home))
    deadline = time.monotonic() + EVENT_CEILING
    while "urn:uuid:" not in kamailio_locations(workdir):
        if peer.proc.poll() is not None or time.monotonic() > deadline:
            raise Failure(f"linphonec did not register with an instance id; saw {peer.seen}")
        time.sleep(0.2)
    return peer


def expect_containing(peer, fragment, timeout=EVENT_CEILING):
    """linphonec writes its prompt in front of some lines: match anywhere."""
    deadline = time.monotonic() + timeout
    while True:
        line = peer.expect("", max(0.1, deadline - time.monotonic()))
        if fragment in line:
            return line


def gruu_contacts(agent, first_line):
    """The Contact lines of the INVITE transaction's messages the agent
    received starting with `first_line` (its --log writes each on standard
    error)."""
    found = []
    for message in agent.errors().split("\n\n"):
        lines = message.strip().splitlines()
        invite = any(line.lower().startswith("cseq:") and line.endswith(" INVITE") for line in lines)
        if lines and lines[0].startswith(first_line) and invite:
            found += [line for line in lines if line.lower().startswith(("contact:", "m:"))]
    return found


def requests_to_gruu(workdir, method):
    """The requests of `method` the agent sent to a GRUU, as Kamailio logged them."""
    log = open(os.path.join(workdir, "kamailio.log"), errors="replace").read()
    return re.findall(rf"REQ {method} sip:carol@127\.0\.0\.1;gr=urn:uuid:\S+ from 127\.0\.0\.1:{AGENT_PORT}\b",
                      log)


def check_gruu_dialog(agent, workdir, first_line):
    contacts = gruu_contacts(agent, first_line)
    if not contacts or not all(re.search(r"sip:carol@127\.0\.0\.1;gr=urn:uuid:[-0-9a-f]+>", c)
                               for c in contacts):
        raise Failure(f"linphonec's {first_line.strip()} Contact: {contacts}")
    for method in ("ACK", "BYE") if first_line.startswith("SIP/2.0") else ("BYE",):
        if not requests_to_gruu(workdir, method):
            raise Failure(f"no {method} from the agent to linphonec's GRUU")


def case_linphonec_gruu(cli, workdir):
    proxy = start_kamailio(workdir)
    peer = agent = None
    try:
        peer = start_linphonec(workdir)
        agent = Agent(cli, "agent", caller_args(AGENT_PORT, "alice", "127.0.0.1",
                                                ["--password", "alicepw", "--auto-answer", "--log"]), workdir)
        agent.send("register")
        agent.expect("registered")

        # The agent calls linphonec, which answers by itself.
        agent.send("call carol")
        agent.expect("answered 1")
        expect_containing(peer, "connected")
        agent.send("hangup")
        agent.expect("bye 1")
        expect_containing(peer, "ended")
        check_gruu_dialog(agent, workdir, "SIP/2.0 200")

        # linphonec calls the agent, which answers and hangs up.
        peer.send("call sip:alice@127.0.0.1")
        agent.expect("incoming carol")
        agent.expect("answered 2")
        expect_containing(peer, "connected")
        agent.send("hangup")
        agent.expect("bye 2")
        expect_containing(peer, "ended")
        check_gruu_dialog(agent, workdir, "INVITE ")
        if len(requests_to_gruu(workdir, "BYE")) < 2:
            raise Failure("the second call's BYE did not name linphonec's GRUU")

        agent.send("quit")
        agent.finish()
        peer.send("quit")
        peer.finish()
    finally:
        for program in (agent, peer):
            if program:
                program.kill()
        stop_process(proxy)


CASES = {
    "linphonec_gruu": (case_linphonec_gruu, ["linphonec", "kamailio"]),
}


if __name__ == "__main__":
    sys.exit(run_case(CASES, "cli_linphone_", lambda file: file.endswith((".err", ".log"))))
