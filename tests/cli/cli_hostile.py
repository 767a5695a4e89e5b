#!/usr/bin/env python3
"""softphone-cli given hostile options and commands, against a peer on
127.0.0.1 that reads every datagram back.

Usage: cli_hostile.py CLI_PATH CASE. The peer is a plain UDP socket playing
registrar and callee: each message the agent sends is parsed and must be well
formed (every header line a name and a value, quoted strings closed, URIs
with nothing but URI characters, the typed value reading back from it), or
the agent must have refused the input with an error on standard error.
"""
import os
import re
import socket
import subprocess
import sys
import tempfile
import time
import urllib.parse
import wave

from cli_harness import EVENT_CEILING, Agent, Failure

PEER_NAME = "peer"


class WirePeer:
    """One UDP socket on loopback; receives, parses and answers messages."""

    def __init__(self):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind(("127.0.0.1", 0))
        self.port = self.sock.getsockname()[1]
        self.rtp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.rtp.bind(("127.0.0.1", 0))

    def _messages(self, timeout):
        """Parsed messages as (message, address) until `timeout` runs out;
        keep-alives are skipped."""
        deadline = time.monotonic() + timeout
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                return
            self.sock.settimeout(left)
            try:
                data, address = self.sock.recvfrom(65535)
            except socket.timeout:
                return
            if data.strip() == b"":
                continue  # keep-alive
            yield parse_message(data), address

    def receive(self, method=None, timeout=EVENT_CEILING):
        """The next request (of `method` when given) as (message, address);
        None when nothing came in time. Responses and other methods are
        skipped."""
        for message, address in self._messages(timeout):
            if message["status"] is None and (method is None or message["method"] == method):
                return message, address
        return None

    def reply(self, request, address, status, extra="", body="", to_tag="peer1"):
        lines = [f"SIP/2.0 {status}"]
        lines += [f"Via: {v}" for v in request["all"].get("via", [])]
        lines.append(f"From: {request['h']['from']}")
        to = request["h"]["to"]
        if to_tag and ";tag=" not in to:
            to += f";tag={to_tag}"
        lines.append(f"To: {to}")
        lines.append(f"Call-ID: {request['h']['call-id']}")
        lines.append(f"CSeq: {request['h']['cseq']}")
        lines.append(f"Contact: <sip:{PEER_NAME}@127.0.0.1:{self.port}>")
        if extra:
            lines.append(extra)
        if body:
            lines.append("Content-Type: application/sdp")
        lines.append(f"Content-Length: {len(body)}")
        text = "\r\n".join(lines) + "\r\n\r\n" + body
        self.sock.sendto(text.encode(), address)

    def answer(self, request, address):
        rtp_port = self.rtp.getsockname()[1]
        sdp = ("v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=-\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\n"
               f"m=audio {rtp_port} RTP/AVP 0\r\na=rtpmap:0 PCMU/8000\r\n")
        self.reply(request, address, "200 OK", body=sdp)

    def response(self, call_id, status, timeout=EVENT_CEILING):
        """The next response with this Call-ID and status, or None."""
        for message, _ in self._messages(timeout):
            if message["status"] == status and message["h"].get("call-id") == call_id:
                return message
        return None

    def invite(self, agent_port, call_id, user="alice"):
        """Calls the agent from this peer."""
        rtp_port = self.rtp.getsockname()[1]
        sdp = ("v=0\r\no=- 2 2 IN IP4 127.0.0.1\r\ns=-\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\n"
               f"m=audio {rtp_port} RTP/AVP 0\r\n")
        text = (f"INVITE sip:{user}@127.0.0.1:{agent_port} SIP/2.0\r\n"
                f"Via: SIP/2.0/UDP 127.0.0.1:{self.port};branch=z9hG4bK{call_id}\r\n"
                f"From: <sip:caller@127.0.0.1>;tag={call_id}t\r\n"
                f"To: <sip:{user}@127.0.0.1>\r\n"
                f"Call-ID: {call_id}\r\nCSeq: 1 INVITE\r\n"
                f"Contact: <sip:caller@127.0.0.1:{self.port}>\r\n"
                f"Content-Type: application/sdp\r\nContent-Length: {len(sdp)}\r\n\r\n{sdp}")
        self.sock.sendto(text.encode(), ("127.0.0.1", agent_port))

    def close(self):
        self.sock.close()
        self.rtp.close()


def parse_message(data):
    """Start line, headers and body of a datagram, checking its shape."""
    text = data.decode("utf-8", errors="strict")
    if "\r\n\r\n" not in text:
        raise Failure(f"no empty line ending the head: {text!r}")
    head, body = text.split("\r\n\r\n", 1)
    lines = head.split("\r\n")
    for line in lines:
        if re.search(r"[\x00-\x1f\x7f]", line):
            raise Failure(f"control character in line {line!r}")
    start = lines[0]
    message = {"start": start, "status": None, "method": None, "uri": None,
               "h": {}, "all": {}, "body": body, "text": text}
    if start.startswith("SIP/2.0 "):
        message["status"] = start[8:11]
    else:
        parts = start.split(" ")
        if len(parts) != 3 or parts[2] != "SIP/2.0":
            raise Failure(f"request line not METHOD URI SIP/2.0: {start!r}")
        message["method"], message["uri"] = parts[0], parts[1]
    for line in lines[1:]:
        match = re.fullmatch(r"([A-Za-z-]+): (.*)", line)
        if not match:
            raise Failure(f"not a header line: {line!r} in\n{text}")
        name = match.group(1).lower()
        message["all"].setdefault(name, []).append(match.group(2))
        message["h"].setdefault(name, match.group(2))
    length = message["h"].get("content-length")
    if length is None or int(length) != len(body.encode()):
        raise Failure(f"Content-Length {length} for a body of {len(body.encode())} bytes")
    return message


QUOTED = r'"((?:[^"\\\x00-\x1f]|\\[\x00-\x09\x0b\x0c\x0e-\x7f])*)"'
URI = r"sip:([A-Za-z0-9\-_.!~*'()+$,%]+)@([A-Za-z0-9.\-]+(?::[0-9]+)?)"


def unquote(text):
    return re.sub(r"\\(.)", r"\1", text)


def check_name_addr(value, header, display=None, user=None, tag_required=False):
    """`value` is ["display" ]<sip:user@host>[;tag=token]; the display name
    and user read back as typed."""
    match = re.fullmatch(f"(?:{QUOTED} )?<{URI}>(;tag=[A-Za-z0-9]+)?", value)
    if not match:
        raise Failure(f"{header} is not a name-addr: {value!r}")
    if display is not None and unquote(match.group(1) or "") != display:
        raise Failure(f"{header} display name reads {match.group(1)!r}, typed {display!r}")
    if user is not None and urllib.parse.unquote(match.group(2)) != urllib.parse.unquote(user):
        raise Failure(f"{header} user reads {match.group(2)!r}, typed {user!r}")
    if tag_required and not match.group(4):
        raise Failure(f"{header} without a tag: {value!r}")


def check_uri(uri, what, user):
    match = re.fullmatch(URI, uri)
    # Escapes typed as such stay escapes: both sides read decoded.
    if not match or urllib.parse.unquote(match.group(1)) != urllib.parse.unquote(user):
        raise Failure(f"{what} {uri!r} does not carry the typed {user!r}")


def new_errors(agent, seen):
    """stderr lines the agent wrote since the last call."""
    lines = agent.error_lines()
    fresh = lines[seen[0]:]
    seen[0] = len(lines)
    return fresh


def expect_refused(agent, peer, seen, method, what):
    """The agent printed an error and sent no `method` request."""
    deadline = time.monotonic() + EVENT_CEILING
    while time.monotonic() < deadline:
        errors = new_errors(agent, seen)
        if errors:
            if not errors[0].startswith("error: "):
                raise Failure(f"{what}: unexpected stderr {errors}")
            break
        time.sleep(0.05)
    else:
        raise Failure(f"{what}: no error printed")
    if peer.receive(method, timeout=0.3):
        raise Failure(f"{what}: refused, yet a {method} went out")


def cli_args(peer_port, extra):
    return ["--local-port", "15177", "--server", f"127.0.0.1:{peer_port}",
            "--rtp-ports", "26900-26909", "--mic", "null", "--speaker", "null"] + extra


# Values typed on one command line; None: refused.
TYPED = [
    ("2001", True),
    ('q"uote', True),
    ("back\\slash\\", True),
    ("<sip:evil@203.0.113.9>;tag=evil", False),  # "@" names a host that is not one
    ("a b;lr?x=1&y", True),
    ("x%0D%0AX-Injected: 1", True),  # typed escapes stay escapes
    ("\u00d1and\u00fa", True),
    ("evil@203.0.113.9>;x", False),
    ("9" * 200, False),
    ("12\x0134", False),
    ("12\x1b[31m", False),
]


def case_options_refused(cli, workdir):
    for option in ("--display-name", "--user", "--server", "--proxy", "--stun"):
        for value in ("a\r\nX-Injected: 1", "a\x01b", "a\tb"):
            done = subprocess.run([cli, option, value, "--user", "u"], input="",
                                                text=True, capture_output=True, timeout=15)
            if done.returncode != 2 or f"bad {option}: control characters" not in done.stderr:
                raise Failure(f"{option} {value!r}: exit {done.returncode}, {done.stderr!r}")


def register_with(cli, workdir, peer, user, display):
    """Registers with a challenge; checks From, To, Contact and the digest
    username of both REGISTERs."""
    agent = Agent(cli, "agent", cli_args(peer.port, ["--user", user, "--password", "pw",
                                                     "--display-name", display]), workdir)
    agent.send("register")
    got = peer.receive("REGISTER")
    if not got:
        raise Failure(f"user {user!r}: no REGISTER")
    request, address = got
    for header in ("from", "to"):
        check_name_addr(request["h"][header], header, display, user, tag_required=header == "from")
    check_name_addr(request["h"]["contact"].split(";expires")[0], "Contact", None, user)
    peer.reply(request, address, "401 Unauthorized",
               'WWW-Authenticate: Digest realm="telvira", nonce="n0nce", algorithm=MD5')
    got = peer.receive("REGISTER")
    if not got:
        raise Failure(f"user {user!r}: no REGISTER after the challenge")
    request, address = got
    auth = request["h"].get("authorization", "")
    match = re.match(f"Digest username={QUOTED},realm=", auth)
    if not match or unquote(match.group(1)) != user:
        raise Failure(f"digest username of {user!r} reads {auth!r}")
    peer.reply(request, address, "200 OK")
    agent.expect("registered")
    return agent


def case_header_injection(cli, workdir):
    case_options_refused(cli, workdir)
    peer = WirePeer()
    agent = None
    try:
        for user, display in (('a"lice\\', 'Cabina "1" \\ <sip:evil@x>;tag=evil'),
                              ("al ice;tag=x@h", "\u00c1ngela")):
            agent = register_with(cli, workdir, peer, user, display)
            agent.kill()
        agent = register_with(cli, workdir, peer, "alice", "Linea 1")
        seen = [len(agent.error_lines())]

        for value, accepted in TYPED:
            what = f"call {value!r}"
            agent.send(f"call {value}")
            if not accepted:
                expect_refused(agent, peer, seen, "INVITE", what)
                continue
            got = peer.receive("INVITE")
            if not got:
                raise Failure(f"{what}: no INVITE; stderr {new_errors(agent, seen)}")
            request, address = got
            check_uri(request["uri"], what, value)
            check_name_addr(request["h"]["to"], "To", None, value)
            check_name_addr(request["h"]["from"], "From", "Linea 1", "alice", tag_required=True)
            peer.reply(request, address, "486 Busy Here")
            agent.expect("bye")

        for value, accepted in TYPED:
            if " " in value:
                continue  # the user ends at the first blank
            what = f"message {value!r}"
            agent.send(f"message {value} hola")
            if not accepted:
                expect_refused(agent, peer, seen, "MESSAGE", what)
                continue
            got = peer.receive("MESSAGE")
            if not got:
                raise Failure(f"{what}: no MESSAGE; stderr {new_errors(agent, seen)}")
            request, address = got
            check_uri(request["uri"], what, value)
            peer.reply(request, address, "200 OK")

        agent.send("call 100")
        request, address = peer.receive("INVITE")
        peer.answer(request, address)
        agent.expect("answered")
        for value, accepted in TYPED:
            what = f"transfer {value!r}"
            agent.send(f"transfer {value}")
            if not accepted:
                expect_refused(agent, peer, seen, "REFER", what)
                continue
            got = peer.receive("REFER")
            if not got:
                raise Failure(f"{what}: no REFER; stderr {new_errors(agent, seen)}")
            request, address = got
            check_name_addr(request["h"]["refer-to"], "Refer-To", None, value)
            peer.reply(request, address, "202 Accepted")
        agent.kill()
    finally:
        if agent:
            agent.kill()
        peer.close()


def write_wav(path, tag=1, bits=16, frames=1600):
    with wave.open(path, "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(8000)
        out.writeframes(b"\x10\x00" * frames)
    if tag != 1:
        with open(path, "r+b") as raw:
            raw.seek(20)
            raw.write(tag.to_bytes(2, "little"))
            raw.seek(34)
            raw.write(bits.to_bytes(2, "little"))


def case_sounds(cli, workdir):
    """play names the reason a file cannot be played and never opens a pipe;
    say is bounded and synthesises while commands go on."""
    fifo = os.path.join(workdir, "fifo.wav")
    os.mkfifo(fifo)
    mp3 = os.path.join(workdir, "mp3.wav")
    write_wav(mp3, tag=85, bits=0)
    good = os.path.join(workdir, "good.wav")
    write_wav(good)
    peer = WirePeer()
    agent = Agent(cli, "agent", cli_args(peer.port, ["--user", "alice"]), workdir)
    try:
        seen = [0]
        agent.send("call 100")
        request, address = peer.receive("INVITE")
        peer.answer(request, address)
        agent.expect("answered")
        for command, error in (
                (f"play {fifo}", f'error: cannot play "{fifo}": not a regular file'),
                (f"play {workdir}", f'error: cannot play "{workdir}": not a regular file'),
                (f"play {good};{os.path.join(workdir, 'none.wav')}", "error: cannot play"),
                (f"play {mp3}", f'error: cannot play "{mp3}": unsupported encoding (format 85'),
                ("say " + "a" * 501, "error: say: text longer than 500 characters")):
            agent.send(command)
            deadline = time.monotonic() + EVENT_CEILING
            errors = []
            while not errors and time.monotonic() < deadline:
                time.sleep(0.05)
                errors = new_errors(agent, seen)
            if not errors or not errors[0].startswith(error):
                raise Failure(f"{command[:60]}: stderr {errors}, expected {error!r}")
        agent.send(f"play {good}")
        agent.expect("wav-stopped")
        # The hang-up is taken while the text is still being synthesised.
        agent.send("say " + "uno dos tres cuatro cinco seis siete ocho nueve diez " * 9)
        agent.send("hangup")
        request, address = peer.receive("BYE")
        peer.reply(request, address, "200 OK", to_tag="")
        agent.expect("bye")
        deadline = time.monotonic() + 20
        errors = []
        while time.monotonic() < deadline and not errors:
            time.sleep(0.1)
            errors = new_errors(agent, seen)
        if errors != ["error: cannot say: the call ended before the speech was ready"]:
            raise Failure(f"say then hangup: stderr {errors}")
        agent.finish()
    finally:
        agent.kill()
        peer.close()


def case_call_waiting(cli, workdir):
    """A call offered during a connected call waits: it is announced with
    its number, commands still act on the first call, `answer N` takes it,
    and one nobody answers is refused busy after --busy-after."""
    peer = WirePeer()
    agent = Agent(cli, "agent", cli_args(peer.port, ["--user", "alice", "--busy-after", "2"]), workdir)
    try:
        agent.send("call 100")
        first, address = peer.receive("INVITE")
        peer.answer(first, address)
        agent.expect("answered")
        peer.invite(15177, "waiting2")
        line = agent.expect("incoming")
        if line != "incoming caller waiting 2":
            raise Failure(f"expected 'incoming caller waiting 2', got '{line}'")
        # The first call is still the current one.
        agent.send("hangup")
        got = peer.receive("BYE")
        if not got or got[0]["h"]["call-id"] != first["h"]["call-id"]:
            raise Failure(f"hangup did not end the first call: {got and got[0]['text']}")
        peer.reply(got[0], got[1], "200 OK", to_tag="")
        agent.expect("bye")
        agent.send("answer 2")
        if not peer.response("waiting2", "200"):
            raise Failure("answer 2 sent no 200 for the waiting call")
        # Timed from our INVITE, which is sent before the agent's wait can
        # start: a busy machine only lengthens the interval. The ceiling
        # stays well under the 30 s the agent waits without --busy-after.
        started = time.monotonic()
        peer.invite(15177, "waiting3")
        line = agent.expect("incoming")
        if line != "incoming caller waiting 3":
            raise Failure(f"expected 'incoming caller waiting 3', got '{line}'")
        if not peer.response("waiting3", "486", timeout=15):
            raise Failure("the unanswered waiting call was not refused busy within 15 s")
        waited = time.monotonic() - started
        if waited < 1.5:
            raise Failure(f"refused after {waited:.1f} s, --busy-after was 2")
        agent.kill()
    finally:
        agent.kill()
        peer.close()


CASES = {
    "call_waiting": case_call_waiting,
    "header_injection": case_header_injection,
    "sounds": case_sounds,
}


def main():
    cli, name = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory(prefix="cli_" + name + "_") as workdir:
        try:
            CASES[name](cli, workdir)
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
