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
from cli_harness import HERE, Agent, Failure, caller_args, run_case, spawn, tcp_listening, wait_ready  # noqa: E402

TCP_PORT = 5260
TLS_PORT = 5261


def openssl(workdir, *args):
    done = subprocess.run(["openssl"] + list(args), cwd=workdir, capture_output=True, text=True, timeout=60)
    if done.returncode != 0:
        raise Failure("openssl " + " ".join(args) + ": " + done.stderr[-1000:])


def make_certificates(workdir, names="DNS:localhost"):
    """A CA and a server certificate it signs for `names`; returns the CA file."""
    openssl(workdir, "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.pem",
            "-days", "2", "-subj", "/CN=Booth Test CA",
            "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    openssl(workdir, "req", "-newkey", "rsa:2048", "-nodes", "-keyout", "server.key", "-out", "server.csr",
            "-subj", "/CN=booth test server")
    with open(os.path.join(workdir, "server.ext"), "w") as ext:
        ext.write(f"subjectAltName={names}\nextendedKeyUsage=serverAuth\n")
    openssl(workdir, "x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
            "-CAcreateserial", "-out", "server.pem", "-days", "2", "-extfile", "server.ext")
    with open(os.path.join(workdir, "tls.cfg"), "w") as cfg:
        cfg.write("[server:default]\nmethod = TLSv1.2+\nverify_certificate = no\nrequire_certificate = no\n"
                  f"private_key = {workdir}/server.key\ncertificate = {workdir}/server.pem\n\n"
                  "[client:default]\nverify_certificate = no\nrequire_certificate = no\n")
    return os.path.join(workdir, "ca.pem")


def start_kamailio(workdir):
    run = os.path.join(workdir, "run")
    os.makedirs(run, exist_ok=True)
    log = open(os.path.join(workdir, "kamailio.log"), "w")
    proc = spawn(
        ["kamailio", "-f", os.path.join(HERE, "kamailio_streams.cfg"), "-P", os.path.join(workdir, "kamailio.pid"),
         "-Y", run, "-w", workdir, "-m", "64", "-M", "8", "-DD", "-E",
         "-A", f'CTLSOCK="unix:{os.path.join(workdir, "ctl")}"',
         "-A", f'TLSCFG="{os.path.join(workdir, "tls.cfg")}"'],
        stdout=log, stderr=subprocess.STDOUT)
    wait_ready(proc, "Kamailio on TCP 5260 and TLS 5261",
               lambda: tcp_listening(TCP_PORT) and tcp_listening(TLS_PORT))
    return proc


def stop(proc):
    proc.terminate()
    try:
        proc.wait(timeout=5)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()


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


def calls_both_ways(cli, workdir, transport, server, extra, drop_mid_call=False):
    """Both agents register over `transport`; alice calls bob with a re-INVITE
    (hold, resume) and INFO digits, bob calls alice back; each call ends with
    BYE. With `drop_mid_call` alice's connection is cut during her call: she
    connects and registers again and her BYE still reaches bob."""
    proxy = start_kamailio(workdir)
    alice = bob = None
    # Keys travel only where nobody on the way reads them: every call over
    # TLS is encrypted end to end, none over TCP.
    answered = (lambda n: f"answered {n} srtp") if transport == "tls" else (lambda n: f"answered {n}")

    def expect_answered(one, n):
        line = one.expect("answered %d" % n)
        if line != answered(n):
            raise Failure(f"{one.name}: '{line}', not '{answered(n)}'")

    # Alice's tone must reach bob's recording of the first call: the voice
    # crosses whatever the signalling's transport made of the media.
    tone = os.path.join(workdir, "tone.wav")
    heard = os.path.join(workdir, "heard.wav")
    write_tone_wav(tone)
    try:
        bob = agent(cli, workdir, "bob", CALLEE_PORT, "bob", server, ["--transport", transport] + extra,
                    speaker=heard)
        alice = agent(cli, workdir, "alice", CALLER_PORT, "alice", server, ["--transport", transport] + extra,
                      mic=tone)
        for one in (bob, alice):
            one.send("register")
            one.expect("registered")
        alice.send("call bob")
        bob.expect("incoming alice")
        expect_answered(bob, 1)
        expect_answered(alice, 1)
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
        bob.send("call alice")
        alice.expect("incoming bob")
        expect_answered(alice, 2)
        expect_answered(bob, 2)
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
    finally:
        for one in (alice, bob):
            if one:
                one.kill()
        stop(proxy)


def case_tcp_calls(cli, workdir):
    make_certificates(workdir)
    calls_both_ways(cli, workdir, "tcp", f"localhost:{TCP_PORT}", [])


def case_tls_calls(cli, workdir):
    ca = make_certificates(workdir)
    calls_both_ways(cli, workdir, "tls", f"localhost:{TLS_PORT}", ["--tls-ca", ca])


def case_tcp_dropped_mid_call(cli, workdir):
    make_certificates(workdir)
    calls_both_ways(cli, workdir, "tcp", f"localhost:{TCP_PORT}", [], drop_mid_call=True)


def case_sips_calls(cli, workdir):
    """Alice and bob registered over TLS; alice calls bob's sips: address.
    Both dialogs are secure: each side's Contact is sips:, bob is reached
    by a sips: Request-URI and alice's BYE keeps it. Alice's tone reaches
    bob's recording."""
    ca = make_certificates(workdir)
    proxy = start_kamailio(workdir)
    tone = os.path.join(workdir, "tone.wav")
    heard = os.path.join(workdir, "heard.wav")
    write_tone_wav(tone)
    server = f"localhost:{TLS_PORT}"
    extra = ["--transport", "tls", "--tls-ca", ca, "--log"]
    alice = bob = None
    try:
        bob = agent(cli, workdir, "bob", CALLEE_PORT, "bob", server, extra, speaker=heard)
        alice = agent(cli, workdir, "alice", CALLER_PORT, "alice", server, extra, mic=tone)
        for one in (bob, alice):
            one.send("register")
            one.expect("registered")
        alice.send(f"call sips:bob@localhost:{TLS_PORT}")
        bob.expect("incoming alice")
        for one in (bob, alice):
            line = one.expect("answered 1")
            if line != "answered 1 srtp":
                raise Failure(f"{one.name}: '{line}', not 'answered 1 srtp'")
        alice.send(f"wait {TONE_LEAD + TONE_SECONDS + 0.5}")
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
    finally:
        for one in (alice, bob):
            if one:
                one.kill()
        stop(proxy)


def case_tls_refused(cli, workdir):
    """A certificate for another name, and one from a CA the agent was not
    given: the registration fails with the reason, nothing is sent in clear."""
    ca = make_certificates(workdir)
    proxy = start_kamailio(workdir)
    agents = []
    try:
        wrong_name = agent(cli, workdir, "wrongname", CALLER_PORT, "alice", f"127.0.0.1:{TLS_PORT}",
                           ["--transport", "tls", "--tls-ca", ca])
        agents.append(wrong_name)
        unknown_ca = agent(cli, workdir, "unknownca", CALLEE_PORT, "bob", f"localhost:{TLS_PORT}",
                           ["--transport", "tls"])
        agents.append(unknown_ca)
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
        for one in agents:
            one.send("quit")
            one.finish()
    finally:
        for one in agents:
            one.kill()
        stop(proxy)


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
    alice = bob = None
    try:
        bob = agent(cli, workdir, "bob", CALLEE_PORT, "bob", f"127.0.0.1:{CALLER_PORT}", own, speaker=heard)
        alice = agent(cli, workdir, "alice", CALLER_PORT, "alice", f"127.0.0.1:{CALLEE_PORT}", own, mic=tone)
        for port in (CALLER_PORT, CALLEE_PORT):
            wait_ready(alice.proc, f"a listener on TCP {port}", lambda: tcp_listening(port))
        failed_handshakes(CALLEE_PORT, ca)
        alice.send("call bob")
        bob.expect("incoming alice")
        for one in (bob, alice):
            line = one.expect("answered 1")
            if line != "answered 1 srtp":
                raise Failure(f"{one.name}: '{line}', not 'answered 1 srtp'")
        alice.send(f"wait {TONE_LEAD + TONE_SECONDS + 0.5}")
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
    finally:
        for one in (alice, bob):
            if one:
                one.kill()


CASES = {
    "tcp_calls": (case_tcp_calls, ["kamailio", "openssl"]),
    "tls_calls": (case_tls_calls, ["kamailio", "openssl"]),
    "tcp_dropped_mid_call": (case_tcp_dropped_mid_call, ["kamailio", "openssl", "ss"]),
    "tls_refused": (case_tls_refused, ["kamailio", "openssl"]),
    "tls_direct_calls": (case_tls_direct_calls, ["openssl"]),
    "sips_calls": (case_sips_calls, ["kamailio", "openssl"]),
}


if __name__ == "__main__":
    sys.exit(run_case(CASES, "cli_streams_", lambda file: file.endswith((".err", ".log"))))
