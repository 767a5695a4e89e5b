"""softphone-cli against independent user agents on 127.0.0.1, voice measured.

Usage: cli_peers.py CLI_PATH CASE. baresip sends 30 ms packets and RFC 4733
digits to our agent; linphonec calls it and is called by it; a peer killed
mid-call is noticed by the media timeout. Exit 0 on success, 77 when a
program is missing.
"""
import math
import os
import signal
import subprocess
import sys
import time
import wave

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from cli_calls import (BARESIP_TONE_HZ, CALLEE_PORT, CALLER_PORT, FRAME, RATE,  # noqa: E402
                       baresip_command, goertzel_amplitude, read_wav)
from cli_harness import Agent, Failure, caller_args, run_case, spawn, start_baresip, wait_ready  # noqa: E402

LINPHONE_PORT = 15195 + int(os.environ.get("SOFTPHONE_TEST_PORT_OFFSET", "0"))


def stop(proc, sig=signal.SIGTERM):
    if proc.poll() is None:
        proc.send_signal(sig)
    try:
        proc.wait(timeout=5)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()


def tone_frames(path, freq):
    """Per 20 ms frame of the recording: True when it holds an almost pure
    `freq` tone, False when silent or anything else."""
    samples = read_wav(path)
    marks = []
    for start in range(0, len(samples) - FRAME + 1, FRAME):
        frame = samples[start:start + FRAME]
        energy = sum(x * x for x in frame) / FRAME
        amplitude = goertzel_amplitude(frame, freq)
        marks.append(energy > 1000 and (amplitude * amplitude / 2) / energy > 0.9)
    return marks


def check_heard_whole(path, freq, label, at_least, breaks_allowed, frames_allowed):
    """The tone plays from its first frame to its last, broken at most
    `breaks_allowed` times by at most `frames_allowed` frames of anything
    else in all (a digit's time, say). A receive path that mistimes the
    peer's packets breaks the tone all through the stream; a machine too busy
    to run the peer or us for a moment breaks it once, for that moment,
    as it would on a sound card."""
    marks = tone_frames(path, freq)
    if True not in marks:
        raise Failure(f"{label}: no {freq} Hz frame in {len(marks)} frames")
    first = marks.index(True)
    last = len(marks) - 1 - marks[::-1].index(True)
    inside = marks[first:last + 1]
    breaks = [len(run) for run in "".join("x" if mark else "." for mark in inside).split("x") if run]
    seconds = inside.count(True) * FRAME / RATE
    print(f"{label}: {len(marks) * FRAME / RATE:.2f} s recorded, {seconds:.2f} s of {freq} Hz, "
          f"broken {len(breaks)} times for {breaks} frames")
    if seconds < at_least:
        raise Failure(f"{label}: only {seconds:.2f} s of {freq} Hz")
    if len(breaks) > breaks_allowed or sum(breaks) > frames_allowed:
        raise Failure(f"{label}: the tone broken {len(breaks)} times for {sum(breaks)} frames "
                      f"(at most {breaks_allowed} times, {frames_allowed} frames)")


def stats_figures(line):
    """The numbers of a "stats ..." line by name: received, lost, loss."""
    words = line.split()
    figures = {}
    for name in ("received", "lost", "late", "loss"):
        if name in words:
            figures[name] = float(words[words.index(name) + 1].rstrip("%"))
    return figures


def case_baresip_ptime30_digits(cli, workdir):
    """baresip calls us sending 30 ms packets and two RFC 4733 digits beside
    its tone: the tone is recorded whole, each digit reported once, and the
    call's figures show no loss."""
    peer = start_baresip(workdir, "<sip:carol@127.0.0.1>;regint=0;answermode=auto;audio_codecs=pcmu;ptime=30")
    agent = None
    try:
        heard = os.path.join(workdir, "heard_from_baresip.wav")
        args = caller_args(CALLER_PORT, "alice", "127.0.0.1:5190")
        args[args.index("--speaker") + 1] = heard
        agent = Agent(cli, "callee", args, workdir)
        baresip_command("dial", f"sip:alice@127.0.0.1:{CALLER_PORT}")
        agent.expect("incoming")
        agent.send("answer")
        agent.expect("answered")
        agent.send("wait 1")
        agent.send("stats")
        agent.expect("stats")
        for digit in "59":
            baresip_command("sndcode", digit)
            agent.expect("dtmf " + digit)
            time.sleep(0.5)
        agent.send("wait 1")
        agent.send("stats")
        figures = stats_figures(agent.expect("stats"))
        agent.send("hangup")
        agent.expect("bye")
        agent.finish()
        reported = [line for line in agent.seen if line.startswith("dtmf")]
        if reported != ["dtmf 5", "dtmf 9"]:
            raise Failure(f"digits reported {reported}, baresip sent 5 and 9")
        # A receive path that mistimes 30 ms packets finds them late all
        # through the call; a busy machine may hold up one now and then.
        received = figures.get("received", 0)
        if figures.get("lost", 1) != 0 or figures.get("late", received) > received / 50 or received < 50:
            raise Failure(f"figures of a clean line: {figures}")
        # Each digit may take its event's length (about 200 ms) from the
        # tone, and a busy moment may break it once more.
        check_heard_whole(heard, BARESIP_TONE_HZ, "30 ms packets from baresip", 2.0, 3, 2 * 15)
    finally:
        if agent:
            agent.kill()
        stop(peer)


def case_media_timeout_killed_peer(cli, workdir):
    """We call baresip, which is killed mid-call: the call ends by itself
    with the media timeout's reason."""
    peer = start_baresip(workdir)
    agent = None
    try:
        agent = Agent(cli, "caller", caller_args(CALLER_PORT, "alice", "127.0.0.1:5190",
                                                 ["--media-timeout", "2"]), workdir)
        agent.send("call carol")
        agent.expect("answered")
        agent.send("wait 1")
        agent.send("stats")
        if stats_figures(agent.expect("stats")).get("received", 0) < 20:
            raise Failure(f"no RTP from baresip before it was killed: {agent.seen}")
        stop(peer, signal.SIGKILL)
        killed = time.monotonic()
        line = agent.expect("bye")
        waited = time.monotonic() - killed
        if not line.startswith("bye 1 ") or "media-timeout" not in line:
            raise Failure(f"expected 'bye 1 media-timeout', got '{line}'")
        if not 1.5 <= waited <= 10:
            raise Failure(f"ended {waited:.1f} s after the peer died, timeout 2 s")
        agent.finish()
    finally:
        if agent:
            agent.kill()
        stop(peer)


LINPHONE_TONE_HZ = 600


def write_sine_wav(path, freq, seconds):
    """8 kHz mono 16-bit: a steady sine at about -12 dBFS."""
    with wave.open(path, "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(RATE)
        out.writeframes(b"".join(int(8000 * math.sin(2 * math.pi * freq * n / RATE)).to_bytes(2, "little", signed=True)
                                 for n in range(int(seconds * RATE))))


def write_linphonerc(workdir, auto_answer, ipv6=False):
    home = os.path.join(workdir, "linphone-home")
    os.makedirs(os.path.join(home, ".local", "share", "linphone"), exist_ok=True)
    config = os.path.join(home, "linphonerc")
    # G.711 only: the recording linphonec makes is then 8 kHz like ours.
    # IPv4 only unless `ipv6`: left to itself it offers its IPv6 host address
    # in c=, while its RTP still reaches our IPv4 socket; our agent then
    # answers that RTP where it comes from.
    codecs = "".join(f"[audio_codec_{n}]\nmime={mime}\nrate=8000\nchannels=1\nenabled=1\n"
                     for n, mime in enumerate(("PCMU", "PCMA")))
    with open(config, "w") as rc:
        rc.write(f"[sip]\nsip_port={LINPHONE_PORT}\nsip_tcp_port=0\nsip_tls_port=0\n"
                 f"contact=sip:bob@127.0.0.1:{LINPHONE_PORT}\ndefault_proxy=-1\nguess_hostname=0\n"
                 f"auto_answer={1 if auto_answer else 0}\nsupported=replaces\nuse_ipv6={1 if ipv6 else 0}\nipv6_migration_done=1\n"
                 "[rtp]\naudio_rtp_port=26200-26209\n"
                 "[sound]\nechocancellation=0\n"
                 "[video]\nenabled=0\ncapture=0\ndisplay=0\n"
                 + codecs)
    return home, config


def linphonec_bound(port):
    """linphonec binds its SIP port on IPv6 (dual stack) too."""
    done = subprocess.run(["ss", "-Hlun", f"sport = :{port}"], capture_output=True, text=True, timeout=10)
    return bool(done.stdout.strip())


class Linphonec:
    """One linphonec child on file sound devices: it plays `play` to the far
    end once a call is up and records what it hears into `record`."""

    def __init__(self, workdir, auto_answer, ipv6=False):
        home, config = write_linphonerc(workdir, auto_answer, ipv6)
        self.play = os.path.join(workdir, "linphone_tone.wav")
        self.record = os.path.join(workdir, "heard_by_linphonec.wav")
        write_sine_wav(self.play, LINPHONE_TONE_HZ, 10)
        self.log = os.path.join(workdir, "linphonec.log")
        out = open(self.log, "w")
        args = ["linphonec", "-c", config, "-d", "0"] + (["-a"] if auto_answer else [])
        self.proc = spawn(args, stdin=subprocess.PIPE, stdout=out, stderr=subprocess.STDOUT, text=True,
                                     env=dict(os.environ, HOME=home), start_new_session=True)
        try:
            wait_ready(self.proc, "linphonec", lambda: linphonec_bound(LINPHONE_PORT))
            self.send("soundcard use files")
        except Exception:
            self.stop()
            raise

    def send(self, command):
        self.proc.stdin.write(command + "\n")
        self.proc.stdin.flush()

    def wait_connected(self):
        """Until linphonec says its call is up: before that it takes no
        play or record command."""
        def connected():
            with open(self.log) as log:
                return " connected." in log.read()
        wait_ready(self.proc, "linphonec's call", connected)

    def stop(self):
        try:
            self.send("quit")
            self.proc.wait(timeout=5)
        except (BrokenPipeError, OSError, subprocess.TimeoutExpired):
            pass
        if self.proc.poll() is None:
            os.killpg(self.proc.pid, signal.SIGKILL)
            self.proc.wait()


def linphonec_call_measured(cli, workdir, we_call, ipv6=False):
    """A call between our agent and linphonec, each playing its own tone:
    each side's recording holds the other's tone from start to end."""
    mic = os.path.join(workdir, "our_tone.wav")
    heard = os.path.join(workdir, "heard_from_linphonec.wav")
    write_sine_wav(mic, 1000, 10)
    peer = Linphonec(workdir, auto_answer=we_call, ipv6=ipv6)
    agent = None
    try:
        port = CALLER_PORT if we_call else CALLEE_PORT
        args = caller_args(port, "alice", f"127.0.0.1:{LINPHONE_PORT}")
        args[args.index("--mic") + 1] = mic
        args[args.index("--speaker") + 1] = heard
        if ipv6:
            args.append("--log")  # the SIP text, to see linphonec's c= line
        agent = Agent(cli, "agent", args, workdir)
        if we_call:
            agent.send("call bob")
        else:
            peer.send(f"call sip:alice@127.0.0.1:{port}")
            agent.expect("incoming")
            agent.send("answer")
        agent.expect("answered")
        peer.wait_connected()
        peer.send("play " + peer.play)
        peer.send("record " + peer.record)
        agent.send("wait 3")
        agent.send("stats")
        figures = stats_figures(agent.expect("stats"))
        print(f"linphonec ({'called' if we_call else 'calling'}): {figures}")
        if figures.get("lost", 1) != 0 or figures.get("received", 0) < 100:
            raise Failure(f"figures of a clean line: {figures}")
        if we_call:
            agent.send("hangup")
        else:
            peer.send("terminate")
        agent.expect("bye")
        agent.finish()
        peer.stop()  # its recording is whole once linphonec has quit
        check_heard_whole(heard, LINPHONE_TONE_HZ, "linphonec heard by us", 2.0, 2, 15)
        check_heard_whole(peer.record, 1000, "us heard by linphonec", 2.0, 2, 15)
        if ipv6:
            with open(os.path.join(workdir, "agent.err"), errors="replace") as log:
                if "c=IN IP6" not in log.read():
                    raise Failure("linphonec's SDP named no IPv6 address: the case tested nothing new")
    finally:
        if agent:
            agent.kill()
        peer.stop()


def case_linphonec_answers(cli, workdir):
    """We call linphonec, which answers by itself; voice flows both ways."""
    linphonec_call_measured(cli, workdir, we_call=True)


def case_linphonec_calls(cli, workdir):
    """linphonec calls us; we answer, it hangs up; voice flows both ways."""
    linphonec_call_measured(cli, workdir, we_call=False)


def case_linphonec_ipv6_calls(cli, workdir):
    """As linphonec_calls, with linphonec's IPv6 default left on: its offer
    names an IPv6 address our IPv4 agent cannot send to. (Called, it answers
    an IPv4 offer in IPv4: only its own offer shows the fault.)"""
    linphonec_call_measured(cli, workdir, we_call=False, ipv6=True)


CASES = {
    "baresip_ptime30_digits": (case_baresip_ptime30_digits, ["baresip"]),
    "media_timeout_killed_peer": (case_media_timeout_killed_peer, ["baresip"]),
    "linphonec_answers": (case_linphonec_answers, ["linphonec"]),
    "linphonec_calls": (case_linphonec_calls, ["linphonec"]),
    "linphonec_ipv6_calls": (case_linphonec_ipv6_calls, ["linphonec"]),
}


if __name__ == "__main__":
    sys.exit(run_case(CASES, "cli_peers_", lambda file: file.endswith((".err", ".log", ".out"))))
