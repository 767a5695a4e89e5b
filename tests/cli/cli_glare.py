#!/usr/bin/env python3
"""Two softphone-cli agents holding and resuming at the same moment.

Usage: cli_glare.py CLI_PATH CASE. The agents call each other through a
small record-routing relay on 127.0.0.1 that, when armed, keeps the first
re-INVITE until the other side's has arrived and then lets both go: the two
requests cross for certain, however fast or slow the agents are. The relay
also carries every answer (it adds its own Via), so the case reads from the
wire who answered what.
"""
import hashlib
import re
import socket
import sys
import threading
import time

from cli_harness import EVENT_CEILING, PORT_OFFSET, Agent, Failure, caller_args, drain, run_case

CALLER_PORT = 15180 + PORT_OFFSET
CALLEE_PORT = 15181 + PORT_OFFSET
RELAY_PORT = 15182 + PORT_OFFSET


def header(text, name):
    match = re.search(rf"^{name}:[ \t]*(.*?)\r$", text, re.MULTILINE | re.IGNORECASE)
    return match.group(1) if match else ""


def direction(text):
    for value in ("sendonly", "recvonly", "inactive", "sendrecv"):
        if "a=" + value in text:
            return value
    return "sendrecv" if "m=audio" in text else ""


class GlareRelay:
    """A stateless proxy between two agents: it record-routes the first
    INVITE, forwards requests to their Request-URI (the first INVITE to the
    callee) and answers along the Via lines. Every message is noted as
    (time, kind, cseq, sender port, sdp direction); armed, it pairs the next
    two re-INVITEs."""

    def __init__(self, port, callee_port):
        self.port = port
        self.callee_port = callee_port
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind(("127.0.0.1", port))
        self.sock.settimeout(0.1)
        self.lock = threading.Lock()
        self.changed = threading.Condition(self.lock)
        self.notes = []
        self.held = None
        self.armed = False
        self.releases = []
        self.running = True
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def arm(self):
        with self.lock:
            self.armed = True

    def close(self):
        self.running = False
        self.thread.join()
        self.sock.close()

    def wait_for(self, what, predicate, timeout=EVENT_CEILING):
        deadline = time.monotonic() + timeout
        with self.lock:
            while not predicate(self.notes):
                left = deadline - time.monotonic()
                if left <= 0:
                    raise Failure(f"relay: no {what} within {timeout} s; saw {self.summary()}")
                self.changed.wait(left)

    def summary(self):
        return [(round(t, 2), kind, cseq, port, way) for t, kind, cseq, port, way in self.notes]

    def _run(self):
        while self.running:
            try:
                data, source = self.sock.recvfrom(65535)
            except socket.timeout:
                continue
            text = data.decode("latin-1")
            if not text.strip():
                continue
            if text.startswith("SIP/2.0 "):
                self._answer(text, source)
            else:
                self._request(text, source)

    def _note(self, kind, text, source):
        self.notes.append((time.monotonic(), kind, header(text, "CSeq"), source[1], direction(text)))
        self.changed.notify_all()

    def _request(self, text, source):
        method = text.split(" ", 1)[0]
        head, _, body = text.partition("\r\n\r\n")
        lines = head.split("\r\n")
        request_line, rest = lines[0], lines[1:]
        own_route = re.compile(rf"^Route:\s*<sip:127\.0\.0\.1:{self.port};lr>\s*$", re.IGNORECASE)
        rest = [line for line in rest if not own_route.match(line)]
        initial = method == "INVITE" and ";tag=" not in header(text, "To")
        if initial:
            rest.insert(0, f"Record-Route: <sip:127.0.0.1:{self.port};lr>")
            target = ("127.0.0.1", self.callee_port)
        else:
            uri = re.search(r"sip:(?:[^@ ]*@)?([0-9.]+):(\d+)", request_line)
            target = (uri.group(1), int(uri.group(2)))
        # Named after the sender's branch, so the ACK of a failure reaches
        # the INVITE's transaction on the far side.
        branch = re.search(r"branch=([^;\s]+)", header(text, "Via")).group(1)
        via = (f"Via: SIP/2.0/UDP 127.0.0.1:{self.port};"
               f"branch=z9hG4bKrelay{hashlib.md5(branch.encode()).hexdigest()[:16]}")
        with self.lock:
            out = "\r\n".join([request_line, via] + rest) + "\r\n\r\n" + body
            self._note(method, text, source)
            if method == "INVITE" and not initial and self.armed:
                if self.held is None:
                    self.held = (out, target)
                    return
                first, self.held, self.armed = self.held, None, False
                self.releases.append(time.monotonic())
                self.sock.sendto(first[0].encode("latin-1"), first[1])
        self.sock.sendto(out.encode("latin-1"), target)

    def _answer(self, text, source):
        head, _, body = text.partition("\r\n\r\n")
        lines = head.split("\r\n")
        vias = [i for i, line in enumerate(lines) if line.lower().startswith("via:")]
        if len(vias) < 2 or f"127.0.0.1:{self.port}" not in lines[vias[0]]:
            return
        del lines[vias[0]]
        next_via = lines[vias[1] - 1]
        sent_by = re.search(r"SIP/2.0/UDP\s+([0-9.]+):(\d+)", next_via, re.IGNORECASE)
        with self.lock:
            self._note(text.split(" ")[1], text, source)
        self.sock.sendto(("\r\n".join(lines) + "\r\n\r\n" + body).encode("latin-1"),
                         (sent_by.group(1), int(sent_by.group(2))))


def crossed_round(relay, caller, callee, command, offers, settled):
    """Both agents send `command` together; the relay makes the re-INVITEs
    cross. Each must answer the other's with 491 and send its own again after
    its RFC 3261 14.1 wait (the caller, owner of the Call-ID, 2.1 to 4 s; the
    callee up to 2 s), taken with 200. `offers` gives the directions each
    agent's two offers must name (the later retry sees the earlier one's
    outcome); the last answer must name `settled`."""
    start = len(relay.notes)
    relay.arm()
    caller.send(command)
    callee.send(command)

    def reinvites(notes):
        return [n for n in notes[start:] if n[1] == "INVITE"]

    def answered(notes, port):
        # The 200 to the agent's retried re-INVITE: the answer travels back
        # from the other agent's port.
        retries = [n for n in reinvites(notes) if n[3] == port][1:]
        return retries and any(n[1] == "200" and n[2] == retries[-1][2] and n[3] != port
                               for n in notes[start:])

    relay.wait_for("491 to both crossed re-INVITEs",
                   lambda notes: sum(n[1] == "491" for n in notes[start:]) >= 2)
    relay.wait_for("both re-INVITEs retried and answered 200",
                   lambda notes: answered(notes, CALLER_PORT) and answered(notes, CALLEE_PORT))
    notes = relay.notes[start:]
    released = relay.releases[-1]
    for agent, port, least, most in ((caller, CALLER_PORT, 2.1, 4.0), (callee, CALLEE_PORT, 0.0, 2.0)):
        want = offers[agent.name]
        sent = [n for n in notes if n[1] == "INVITE" and n[3] == port]
        if len(sent) != 2:
            raise Failure(f"{agent.name}: {len(sent)} re-INVITEs in one round: {relay.summary()}")
        if (sent[0][4], sent[1][4]) != want:
            raise Failure(f"{agent.name}: re-INVITEs offered {sent[0][4]}/{sent[1][4]}, not {want}")
        if sent[1][2] == sent[0][2]:
            raise Failure(f"{agent.name}: the retry kept CSeq {sent[0][2]}")
        # Measured from the moment the relay let the pair go, before either
        # 491 was even sent; the ceiling allows for a loaded machine.
        waited = sent[1][0] - released
        if waited < least or waited > most + 3.0:
            raise Failure(f"{agent.name}: retried {waited:.2f} s after the crossing, "
                          f"expected {least} to {most} s")
    last = [n for n in notes if n[1] == "200" and n[4]][-1]
    if last[4] != settled:
        raise Failure(f"the round settled {last[4]}, not {settled}: {relay.summary()}")
    failures = [n for n in notes if n[1] not in ("INVITE", "ACK", "100", "200", "491")]
    if failures:
        raise Failure(f"unexpected messages in the round: {failures}")


def case_glare_hold_resume(cli, workdir):
    relay = GlareRelay(RELAY_PORT, CALLEE_PORT)
    server = f"127.0.0.1:{RELAY_PORT}"
    caller = callee = None
    try:
        callee = Agent(cli, "callee", caller_args(CALLEE_PORT, "bob", server,
                                                  ["--auto-answer", "--dtmf", "rfc2833"]), workdir)
        caller = Agent(cli, "caller", caller_args(CALLER_PORT, "alice", server,
                                                  ["--dtmf", "rfc2833"]), workdir)
        caller.send("call bob")
        callee.expect("answered 1")
        caller.expect("answered 1")
        # The callee retries first, so the caller's retry finds itself held
        # already and offers inactive.
        crossed_round(relay, caller, callee, "hold",
                      {"caller": ("sendonly", "inactive"), "callee": ("sendonly", "sendonly")}, "inactive")
        crossed_round(relay, caller, callee, "resume",
                      {"caller": ("sendrecv", "sendrecv"), "callee": ("sendrecv", "sendrecv")}, "sendrecv")
        # The media runs again both ways after the resume.
        caller.send("dtmf 4")
        callee.expect("dtmf 4")
        callee.send("dtmf 7")
        caller.expect("dtmf 7")
        for agent in (caller, callee):
            agent.send("calls")
            line = agent.expect("call ")
            if not line.startswith("call 1 connected"):
                raise Failure(f"{agent.name} after both rounds: '{line}'")
        caller.send("hangup")
        caller.expect("bye 1")
        callee.expect("bye 1")
        caller.finish()
        callee.finish()
        for agent in (caller, callee):
            agent.seen += drain(agent)
            if sum(line.startswith("bye") for line in agent.seen) != 1:
                raise Failure(f"{agent.name}: the call ended more than once: {agent.seen}")
    finally:
        for agent in (caller, callee):
            if agent:
                agent.kill()
        relay.close()


CASES = {
    "glare_hold_resume": (case_glare_hold_resume, []),
}


if __name__ == "__main__":
    sys.exit(run_case(CASES, "cli_glare_", lambda file: file.endswith(".err")))
