"""softphone-cli over TCP and TLS through Kamailio on 127.0.0.1.

Usage: cli_streams.py CLI_PATH CASE. Kamailio listens on UDP and TCP port
5260 and on TLS port 5261 with a CA and server certificate the case makes
with openssl in its scratch folder. Exit 0 on success, 77 when a program is
missing.
"""
import os
import re
import socket
import ssl
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from cli_calls import (CALLEE_PORT, CALLER_PORT, TONE_LEAD, TONE_SECONDS, check_tone_recorded,  # noqa: E402
                       write_tone_wav)
from cli_harness import (Agent, Failure, caller_args, run_case, running, start_kamailio, tcp_listening,  # noqa: E402
                         wait_ready)

TCP_PORT = 5260
TLS_PORT = 5261


def openssl(workdir, *args):
    done = subprocess.run(["openssl"] + list(args), cwd=workdir, capture_output=True, text=True, timeout=60)
    if done.returncode != 0:
        raise Failure("openssl " + " ".join(args) + ": " + done.stderr[-1000:])


def make_certificates(workdir, names="DNS:localhost", verify_agents=False):
    """A CA and a server certificate it signs for `names`; returns the CA file.
    With `verify_agents` Kamailio, when it connects to an agent, accepts
    only a certificate this CA signed."""
    openssl(workdir, "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.pem",
            "-days", "2", "-subj", "/CN=Booth Test CA",
            "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    openssl(workdir, "req", "-newkey", "rsa:2048", "-nodes", "-keyout", "server.key", "-out", "server.csr",
            "-subj", "/CN=booth test server")
    with open(os.path.join(workdir, "server.ext"), "w") as ext:
        ext.write(f"subjectAltName={names}\nextendedKeyUsage=serverAuth\n")
    openssl(workdir, "x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
            "-CAcreateserial", "-out", "server.pem", "-days", "2", "-extfile", "server.ext")
    client = (f"verify_certificate = yes\nrequire_certificate = yes\nca_list = {workdir}/ca.pem\n"
              if verify_agents else "verify_certificate = no\nrequire_certificate = no\n")
    with open(os.path.join(workdir, "tls.cfg"), "w") as cfg:
        cfg.write("[server:default]\nmethod = TLSv1.2+\nverify_certificate = no\nrequire_certificate = no\n"
                  f"private_key = {workdir}/server.key\ncertificate = {workdir}/server.pem\n\n"
                  "[client:default]\n" + client)
    return os.path.join(workdir, "ca.pem")


def start_streams_kamailio(workdir, defines=()):
    return start_kamailio(workdir, "kamailio_streams.cfg", udp_port=TCP_PORT, tcp_ports=(TCP_PORT, TLS_PORT),
                          defines=[f'TLSCFG="{os.path.join(workdir, "tls.cfg")}"'] + list(defines))


def agent(cli, workdir, name, port, user, server, extra, mic="null", speaker="null"):
    args = caller_args(port, user, server, ["--password", user + "pw", "--auto-answer", "--dtmf", "info"] + extra)
    args[args.index("--mic") + 1] = mic
    args[args.index("--speaker") + 1] = speaker
    return Agent(cli, name, args, workdir)


def connection_ports(pid, server_port):
    """The local ports of the TCP connections process `pid` holds to the server."""
    done = subprocess.run(["ss", "-Htnp", "state", "established", "dport", "=", f":{server_port}"],
                          capture_output=True, text=True, timeout=10)
    return [int(row.split()[2].rsplit(":", 1)[1]) for row in done.stdout.splitlines() if f"pid={pid}," in row]


def accepted_connections(pid, listen_port):
    """The peer ports of the connections process `pid` took on its listener."""
    done = subprocess.run(["ss", "-Htnp", "state", "established", "sport", "=", f":{listen_port}"],
                          capture_output=True, text=True, timeout=10)
    return [int(row.split()[3].rsplit(":", 1)[1]) for row in done.stdout.splitlines() if f"pid={pid}," in row]


def call(caller, callee, listen_port, fresh):
    """The caller calls the callee by name and the callee rings. With
    `fresh` the INVITE must have come over a connection the proxy opened to
    the callee's own listener (the only one it takes), else over the
    callee's connection to the proxy."""
    before = accepted_connections(callee.proc.pid, listen_port)
    caller.send("call " + callee.name)
    callee.expect("incoming " + caller.name)
    after = accepted_connections(callee.proc.pid, listen_port)
    if fresh and (before or len(after) != 1):
        raise Failure(f"{callee.name}: connections on its listener {before} before the INVITE, {after} after; "
                      "the proxy should have opened one for it")
    if not fresh and after:
        raise Failure(f"{callee.name}: the proxy opened {after} to its listener, not reusing its connection")


def calls_both_ways(cli, workdir, transport, server, extra, drop_mid_call=False, fresh=False):
    """Both agents register over `transport`; alice calls bob with a re-INVITE
    (hold, resume) and INFO digits, bob calls alice back; each call ends with
    BYE. With `drop_mid_call` alice's connection is cut during her call: she
    connects and registers again and her BYE still reaches bob. With `fresh`
    the proxy ignores the connections the agents opened and reaches each one
    by a connection of its own to the listener its Contact names, checking
    the agent's certificate."""
    # Keys travel only where nobody on the way reads them: every call over
    # TLS is encrypted end to end, none over TCP.
    answered = (lambda n: f"answered {n} srtp") if transport == "tls" else (lambda n: f"answered {n}")
    # Alice's tone must reach bob's recording of the first call: the voice
    # crosses whatever the signalling's transport made of the media.
    tone = os.path.join(workdir, "tone.wav")
    heard = os.path.join(workdir, "heard.wav")
    write_tone_wav(tone)
    with running(start_streams_kamailio(workdir, ["FRESH_CONNECTIONS"] if fresh else [])):
        bob = agent(cli, workdir, "bob", CALLEE_PORT, "bob", server, ["--transport", transport] + extra,
                    speaker=heard)
        alice = agent(cli, workdir, "alice", CALLER_PORT, "alice", server, ["--transport", transport] + extra,
                      mic=tone)
        for one in (bob, alice):
            one.send("register")
            one.expect("registered")
        call(alice, bob, CALLEE_PORT, fresh)
        bob.expect_exactly("answered 1", answered(1))
        alice.expect_exactly("answered 1", answered(1))
        # The tone plays out before hold stops the voice.
        alice.send(f"wait {TONE_LEAD + TONE_SECONDS + 0.5}")
        alice.send("dtmf 4")
        bob.expect("dtmf 4")
        alice.send("hold")
        alice.expect("held")
        alice.send("resume")
        alice.expect("resumed")
        port = server.rsplit(":", 1)[1]
        if drop_mid_call:
            ports = connection_ports(alice.proc.pid, int(port))
            if len(ports) != 1:
                raise Failure(f"alice holds {len(ports)} connections to the server, not one")
            subprocess.run(["ss", "-K", "-t", "src", "127.0.0.1", "sport", "=", f":{ports[0]}"],
                           capture_output=True, timeout=10)
            wait_ready(alice.proc, "alice on a new connection",
                       lambda: connection_ports(alice.proc.pid, int(port)) not in ([], ports))
            # Registered again without a word to the host.
            alice.send("wait 2")
        alice.send("hangup")
        alice.expect("bye")
        bob.expect("bye")
        if any(line.startswith("registration-lost") for line in alice.seen):
            raise Failure(f"alice reported a loss: {alice.seen}")
        call(bob, alice, CALLER_PORT, fresh)
        alice.expect_exactly("answered 2", answered(2))
        bob.expect_exactly("answered 2", answered(2))
        bob.send("dtmf 7")
        alice.expect("dtmf 7")
        bob.send("hangup")
        bob.expect("bye")
        alice.expect("bye")
        for one in (alice, bob):
            one.send("quit")
            one.expect("unregistered")
            one.finish()
    check_tone_recorded(heard, f"alice to bob over {transport}")
    log = open(os.path.join(workdir, "kamailio.log")).read()
    # Every request reached the proxy over the transport asked for.
    seen = set(re.findall(r"REQ \w+ \S+ from (\w+):", log))
    if seen != {transport}:
        raise Failure(f"requests reached Kamailio over {seen}, not {transport} alone")


def encrypted_call_with_tone(caller, callee, target):
    """The first call: the caller calls `target`, the callee rings, both
    say the call is encrypted, and the caller's tone plays out."""
    caller.send("call " + target)
    callee.expect("incoming " + caller.name)
    for one in (callee, caller):
        one.expect_exactly("answered 1", "answered 1 srtp")
    caller.send(f"wait {TONE_LEAD + TONE_SECONDS + 0.5}")


def case_tcp_calls(cli, workdir):
    make_certificates(workdir)
    calls_both_ways(cli, workdir, "tcp", f"localhost:{TCP_PORT}", [])


def case_tls_calls(cli, workdir):
    ca = make_certificates(workdir)
    calls_both_ways(cli, workdir, "tls", f"localhost:{TLS_PORT}", ["--tls-ca", ca])


def case_tls_fresh_connections(cli, workdir):
    # As a booth: calls from the server only, which now come from a port
    # of the server's that the agent never wrote to.
    ca = make_certificates(workdir, names="DNS:localhost,IP:127.0.0.1", verify_agents=True)
    own = ["--tls-ca", ca, "--tls-cert", os.path.join(workdir, "server.pem"),
           "--tls-key", os.path.join(workdir, "server.key"), "--calls-from-server-only"]
    calls_both_ways(cli, workdir, "tls", f"localhost:{TLS_PORT}", own, fresh=True)


def case_tcp_dropped_mid_call(cli, workdir):
    make_certificates(workdir)
    calls_both_ways(cli, workdir, "tcp", f"localhost:{TCP_PORT}", [], drop_mid_call=True)


def case_sips_calls(cli, workdir):
    """Alice and bob registered over TLS; alice calls bob's sips: address.
    Both dialogs are secure: each side's Contact is sips:, bob is reached
    by a sips: Request-URI and alice's BYE keeps it. Alice's tone reaches
    bob's recording."""
    ca = make_certificates(workdir)
    tone = os.path.join(workdir, "tone.wav")
    heard = os.path.join(workdir, "heard.wav")
    write_tone_wav(tone)
    server = f"localhost:{TLS_PORT}"
    extra = ["--transport", "tls", "--tls-ca", ca, "--log"]
    with running(start_streams_kamailio(workdir)):
        bob = agent(cli, workdir, "bob", CALLEE_PORT, "bob", server, extra, speaker=heard)
        alice = agent(cli, workdir, "alice", CALLER_PORT, "alice", server, extra, mic=tone)
        for one in (bob, alice):
            one.send("register")
            one.expect("registered")
        encrypted_call_with_tone(alice, bob, f"sips:bob@localhost:{TLS_PORT}")
        alice.send("hangup")
        alice.expect("bye")
        bob.expect("bye")
        for one in (alice, bob):
            one.send("quit")
            one.expect("unregistered")
            one.finish()
    check_tone_recorded(heard, "alice to bob's sips: address")
    # What each side received says what the other sent (the log holds
    # received messages).
    to_bob = bob.errors()
    to_alice = alice.errors()
    checks = [
        (re.search(r"^INVITE sips:bob@", to_bob, re.M), "bob's INVITE has a sips: Request-URI"),
        (re.search(r"^BYE sips:bob@", to_bob, re.M), "alice's BYE goes to bob's sips: Contact"),
        (re.search(r"^Contact: <sips:alice@", to_bob, re.M), "alice's Contact is sips:"),
        (re.search(r"^Contact: <sips:bob@", to_alice, re.M), "bob's Contact is sips:"),
    ]
    for found, what in checks:
        if not found:
            raise Failure(f"not so: {what}")


def case_tls_refused(cli, workdir):
    """A certificate for another name, and one from a CA the agent was not
    given: the registration fails with the reason, nothing is sent in clear."""
    ca = make_certificates(workdir)
    with running(start_streams_kamailio(workdir)):
        wrong_name = agent(cli, workdir, "wrongname", CALLER_PORT, "alice", f"127.0.0.1:{TLS_PORT}",
                           ["--transport", "tls", "--tls-ca", ca])
        unknown_ca = agent(cli, workdir, "unknownca", CALLEE_PORT, "bob", f"localhost:{TLS_PORT}",
                           ["--transport", "tls"])
        wrong_name.send("register")
        line = wrong_name.expect("registration-lost")
        if "not for 127.0.0.1" not in line:
            raise Failure(f"wrong name reported as: {line}")
        unknown_ca.send("register")
        line = unknown_ca.expect("registration-lost")
        if "unknown authority" not in line:
            raise Failure(f"unknown CA reported as: {line}")
        if "REQ REGISTER" in open(os.path.join(workdir, "kamailio.log")).read():
            raise Failure("a REGISTER reached Kamailio over a connection the agent should have refused")
        for one in (wrong_name, unknown_ca):
            one.send("quit")
            one.finish()


def failed_handshakes(port, ca):
    """Peers that fail their handshake with the listener on `port`: one that
    does not trust the certificate, one that sends a handshake's first byte
    and garbage. Each must lose its connection and nothing more."""
    untrusting = ssl.create_default_context()
    with socket.create_connection(("127.0.0.1", port), timeout=10) as raw:
        try:
            untrusting.wrap_socket(raw, server_hostname="localhost")
            raise Failure("a client that does not know the CA finished a handshake")
        except ssl.SSLCertVerificationError:
            pass
    with socket.create_connection(("127.0.0.1", port), timeout=10) as raw:
        raw.sendall(b"\x16GET / HTTP/1.1\r\nHost: booth\r\n\r\n")
        try:
            # An alert may come first; then the close (a reset, when the
            # agent closes with our garbage unread).
            while raw.recv(1024):
                pass
        except ConnectionResetError:
            pass
        except socket.timeout:
            raise Failure("the agent kept a connection whose handshake was garbage")
    # The listener is still there for one that trusts it.
    trusting = ssl.create_default_context(cafile=ca)
    with socket.create_connection(("127.0.0.1", port), timeout=10) as raw:
        with trusting.wrap_socket(raw, server_hostname="localhost") as tls:
            if tls.version() not in ("TLSv1.2", "TLSv1.3"):
                raise Failure(f"handshake made {tls.version()}")


def case_tls_direct_calls(cli, workdir):
    """Two agents with a certificate of their own and no proxy between them:
    each one's server is the other's TLS listener. Clients that fail the
    handshake are dropped first; then alice calls bob, her tone reaches his
    recording, bob ends the call over a connection he opens to alice's
    listener; bob calls alice and alice ends it."""
    ca = make_certificates(workdir, names="DNS:localhost,IP:127.0.0.1")
    tone = os.path.join(workdir, "tone.wav")
    heard = os.path.join(workdir, "heard.wav")
    write_tone_wav(tone)
    own = ["--transport", "tls", "--tls-ca", ca, "--tls-cert", os.path.join(workdir, "server.pem"),
           "--tls-key", os.path.join(workdir, "server.key")]
    bob = agent(cli, workdir, "bob", CALLEE_PORT, "bob", f"127.0.0.1:{CALLER_PORT}", own, speaker=heard)
    alice = agent(cli, workdir, "alice", CALLER_PORT, "alice", f"127.0.0.1:{CALLEE_PORT}", own, mic=tone)
    for port in (CALLER_PORT, CALLEE_PORT):
        wait_ready(alice.proc, f"a listener on TCP {port}", lambda: tcp_listening(port))
    failed_handshakes(CALLEE_PORT, ca)
    encrypted_call_with_tone(alice, bob, "bob")
    alice.send("dtmf 4")
    bob.expect("dtmf 4")
    bob.send("hangup")
    bob.expect("bye")
    alice.expect("bye")
    bob.send("call alice")
    alice.expect("incoming bob")
    alice.expect("answered 2")
    bob.expect("answered 2")
    alice.send("hangup")
    alice.expect("bye")
    bob.expect("bye")
    for one in (alice, bob):
        one.send("quit")
        one.finish()
    check_tone_recorded(heard, "alice to bob over TLS, no proxy")


CASES = {
    "tcp_calls": (case_tcp_calls, ["kamailio", "openssl"]),
    "tls_calls": (case_tls_calls, ["kamailio", "openssl"]),
    "tls_fresh_connections": (case_tls_fresh_connections, ["kamailio", "openssl", "ss"]),
    "tcp_dropped_mid_call": (case_tcp_dropped_mid_call, ["kamailio", "openssl", "ss"]),
    "tls_refused": (case_tls_refused, ["kamailio", "openssl"]),
    "tls_direct_calls": (case_tls_direct_calls, ["openssl"]),
    "sips_calls": (case_sips_calls, ["kamailio", "openssl"]),
}


if __name__ == "__main__":
    sys.exit(run_case(CASES, "cli_streams_", lambda file: file.endswith((".err", ".log"))))
