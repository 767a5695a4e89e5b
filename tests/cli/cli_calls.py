#!/usr/bin/env python3
"""Whole calls of softphone-cli against real peers on 127.0.0.1.

Usage: cli_calls.py CLI_PATH CASE. Each case starts its peers and agents as
child processes, drives the agents through their standard input, checks the
events they print, and stops everything within its own time bound. Exit 0 on
success; 77 when a peer program is not installed (CTest reports a skip).
"""
import json
import math
import os
import struct
import socket
import subprocess
import sys
import time
import wave

from cli_harness import (PORT_OFFSET, SIPP_PORT, Agent, Failure, caller_args, drain, kamailio_locations, run_case,
                         sipp, start_baresip, start_kamailio, stop_process, wait_ready, wait_sipp)

# The agent's server in the cases where the caller is somewhere else: every
# response must reach the caller, not this port.
ELSEWHERE_PORT = 15161 + PORT_OFFSET
TARGET_PORT = 15162 + PORT_OFFSET
CALLER_PORT = 15175 + PORT_OFFSET
CALLEE_PORT = 15176 + PORT_OFFSET


def case_sipp_answer(cli, workdir):
    peer = sipp("uas_answer.xml", workdir)
    agent = Agent(cli, "caller", caller_args(CALLER_PORT, "alice", f"127.0.0.1:{SIPP_PORT}"), workdir)
    try:
        agent.send("call 100")
        # The server's 100 Trying is shown before it rings (on a loaded
        # machine a "no answer yet" line may come first).
        agent.expect("calling 1 trying")
        if any(line.startswith("ringback") for line in agent.seen):
            raise Failure(f"ringback before the 100 Trying: {agent.seen}")
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
    agent = Agent(cli, "caller", caller_args(CALLER_PORT, "alice", f"127.0.0.1:{SIPP_PORT}"), workdir)
    try:
        agent.send("call 100")
        line = agent.expect("bye")
        if line != "bye 1 486 Busy Here":
            raise Failure(f"expected 'bye 1 486 Busy Here', got '{line}'")
        agent.finish()
        wait_sipp(peer, workdir)
    finally:
        agent.kill()
        peer.kill()


def case_sipp_proxy_auth(cli, workdir):
    # The peer challenges with 407 and only answers an INVITE that carries a
    # well-formed Proxy-Authorization for that challenge.
    peer = sipp("uas_auth407.xml", workdir)
    agent = Agent(cli, "caller", caller_args(CALLER_PORT, "alice", f"127.0.0.1:{SIPP_PORT}",
                                             ["--password", "alicepw"]), workdir)
    try:
        agent.send("call 100")
        agent.expect("answered")
        agent.send("wait 1")
        agent.send("hangup")
        agent.expect("bye")
        agent.finish()
        wait_sipp(peer, workdir)
    finally:
        agent.kill()
        peer.kill()


def case_sipp_reject(cli, workdir):
    """The operator refuses an incoming call: the caller gets 486 and the
    agent prints the call's bye with its number and status."""
    agent = Agent(cli, "callee", caller_args(CALLER_PORT, "alice", f"127.0.0.1:{SIPP_PORT}"), workdir)
    peer = None
    try:
        peer = sipp("uac_reject.xml", workdir, ["-s", "alice"], f"127.0.0.1:{CALLER_PORT}")
        agent.expect("incoming caller")
        agent.send("reject")
        line = agent.expect("bye")
        if line != "bye 1 486 Busy Here":
            raise Failure(f"expected 'bye 1 486 Busy Here', got '{line}'")
        wait_sipp(peer, workdir)
        agent.send("calls")
        agent.expect("no calls")
        agent.finish()
    finally:
        agent.kill()
        if peer:
            peer.kill()


def case_two_calls(cli, workdir):
    """A second call does not orphan the first: both are listed by number,
    each can be hung up by its number, and each records into its own file."""
    peer = sipp("uas_answer.xml", workdir, ["-m", "2"])
    heard = os.path.join(workdir, "heard.wav")
    args = caller_args(CALLER_PORT, "alice", f"127.0.0.1:{SIPP_PORT}")
    args[args.index("--speaker") + 1] = heard
    agent = Agent(cli, "caller", args, workdir)
    try:
        agent.send("call 100")
        agent.expect("answered")
        agent.send("call 100")
        agent.expect("answered")
        agent.send("calls")
        listed = [agent.expect("call 1 "), agent.expect("call 2 ")]
        if listed != ["call 1 connected 100", "call 2 connected 100 current"]:
            raise Failure(f"calls listed {listed}")
        agent.send("wait 1")
        # Our BYE is answered 200 OK, and that is the status each call ends with.
        agent.send("hangup 1")
        if agent.expect("bye") != "bye 1 200 OK":
            raise Failure(f"first bye was '{agent.seen[-1]}'")
        agent.send("hangup")
        if agent.expect("bye") != "bye 2 200 OK":
            raise Failure(f"second bye was '{agent.seen[-1]}'")
        agent.send("hangup")
        agent.finish()
        if "error: no current call" not in agent.errors():
            raise Failure(f"hangup without calls: {agent.errors()!r}")
        wait_sipp(peer, workdir)
    finally:
        agent.kill()
        peer.kill()
    for name in ("heard.wav", "heard-2.wav"):
        if len(read_wav(os.path.join(workdir, name))) < RATE // 2:
            raise Failure(f"{name} holds less than half a second")


def case_silent_server(cli, workdir):
    """A server that never answers the INVITE: progress says so within
    seconds, and quitting prints the call's bye."""
    agent = Agent(cli, "caller", caller_args(CALLER_PORT, "alice", f"127.0.0.1:{SIPP_PORT}"), workdir)
    try:
        agent.send("call 100")
        line = agent.expect("calling")
        if line != f"calling 1 no answer yet from 127.0.0.1:{SIPP_PORT}":
            raise Failure(f"progress line '{line}'")
        agent.send("quit")
        agent.finish()
        agent.seen += drain(agent)
        if not any(line.startswith("bye 1") for line in agent.seen):
            raise Failure(f"no bye for the call quit ended: {agent.seen}")
    finally:
        agent.kill()


def write_wav(path, rate, seconds, bits=16):
    """A mono PCM WAV of silence."""
    data = bytes(int(rate * seconds) * (bits // 8))
    fmt = struct.pack("<HHIIHH", 1, 1, rate, rate * bits // 8, bits // 8, bits)
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt + b"data" + struct.pack("<I", len(data)) + data
    with open(path, "wb") as out:
        out.write(b"RIFF" + struct.pack("<I", len(body)) + body)


def case_play_bounds(cli, workdir):
    """play refuses what is no WAV, a rate below 8 kHz and a sound longer
    than --max-sound, and still plays a sound within bounds."""
    noise = os.path.join(workdir, "noise.wav")
    with open(noise, "wb") as out:
        out.write(os.urandom(4096))
    slow = os.path.join(workdir, "slow.wav")
    write_wav(slow, 32, 2)
    long = os.path.join(workdir, "long.wav")
    write_wav(long, 8000, 3)
    fine = os.path.join(workdir, "fine.wav")
    write_wav(fine, 8000, 1)
    peer = sipp("uas_answer.xml", workdir)
    agent = Agent(cli, "caller", caller_args(CALLER_PORT, "alice", f"127.0.0.1:{SIPP_PORT}",
                                             ["--max-sound", "2"]), workdir)
    try:
        agent.send("call 100")
        agent.expect("answered")
        for name in (noise, slow, long, fine):
            agent.send(f"play {name}")
        agent.expect("wav-stopped")
        agent.send("hangup")
        agent.expect("bye")
        agent.finish()
        errors = agent.errors()
        for name, reason in ((noise, "not a WAV file"), (slow, "sample rate 32 Hz, below 8000 Hz"),
                             (long, "sound of 3 s, longer than the limit of 2 s")):
            if f'"{name}": {reason}' not in errors:
                raise Failure(f"{os.path.basename(name)} not refused with '{reason}': {errors}")
        if "fine.wav" in errors:
            raise Failure(f"a sound within bounds refused: {errors}")
        wait_sipp(peer, workdir)
    finally:
        agent.kill()
        peer.kill()


def case_sipp_cancel(cli, workdir):
    # The agent must be listening before SIPp calls it.
    agent = Agent(cli, "callee", caller_args(CALLER_PORT, "alice", f"127.0.0.1:{SIPP_PORT}"), workdir)
    peer = None
    try:
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
        if callee.expect("answered") != "answered 1":
            raise Failure(f"callee: expected 'answered 1', saw {callee.seen}")
        if caller.expect("answered") != "answered 1":
            raise Failure(f"caller: expected 'answered 1', saw {caller.seen}")
        caller.send("dtmf 12")
        callee.expect("dtmf 1")
        callee.expect("dtmf 2")
        if hold_resume:
            # Hold and resume re-INVITE through the proxy; the call must survive.
            caller.send("hold")
            caller.expect("held")
            caller.send("wait 1")
            caller.send("resume")
            caller.expect("resumed")
            caller.send("wait 1")
            caller.send("dtmf 3")
            callee.expect("dtmf 3")
            if any(line.startswith("bye") for line in caller.seen + callee.seen):
                raise Failure("the call ended during hold and resume")
            # Hold and resume are told as such, not as the call answered again.
            if sum(line.startswith("answered") for line in caller.seen) != 1:
                raise Failure(f"answered again after hold or resume: {caller.seen}")
        ender, other = (caller, callee) if caller_hangs_up else (callee, caller)
        ender.send("wait 1")
        ender.send("hangup")
        ender.expect("bye")
        other.expect("bye")
        # Leaving unregisters on purpose: told once, and not as a loss. A second
        # unregister has no registration left to end.
        callee.send("unregister")
        callee.expect("unregistered")
        callee.send("unregister")
        caller.send("quit")
        caller.expect("unregistered")
        callee.send("wait 2")
        callee.send("quit")
        caller.finish()
        callee.finish()
        for agent in (caller, callee):
            agent.seen += drain(agent)
            ends = [line for line in agent.seen if line.startswith(("unregistered", "registration-lost"))]
            if ends != ["unregistered"]:
                raise Failure(f"{agent.name}: registration endings {ends}")
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


def case_baresip_answers(cli, workdir):
    """We call an independent user agent that answers by itself."""
    peer = start_baresip(workdir)
    agent = None
    try:
        agent = Agent(cli, "caller", caller_args(CALLER_PORT, "alice", "127.0.0.1:5190"), workdir)
        agent.send("call carol")
        agent.expect("answered")
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
        heard = os.path.join(workdir, "heard_from_baresip.wav")
        args = caller_args(CALLER_PORT, "alice", "127.0.0.1:5190")
        args[args.index("--speaker") + 1] = heard
        agent = Agent(cli, "callee", args, workdir)
        baresip_command("dial", f"sip:alice@127.0.0.1:{CALLER_PORT}")
        line = agent.expect("incoming")
        if line != "incoming carol":
            raise Failure(f"expected 'incoming carol', got '{line}'")
        agent.send("answer")
        agent.send("wait 2")
        agent.send("hangup")
        agent.expect("bye")
        agent.finish()
        check_sine_heard(heard, BARESIP_TONE_HZ, "from baresip")
    finally:
        if agent:
            agent.kill()
        peer.terminate()
        try:
            peer.wait(timeout=5)
        except subprocess.TimeoutExpired:
            peer.kill()


# baresip's configured source is its sine generator at this pitch.
BARESIP_TONE_HZ = 440


def check_sine_heard(path, freq, label):
    """Most 20 ms frames of the recording hold an almost pure freq tone: a
    media path that drops, garbles or mis-decodes the peer's audio fails."""
    samples = read_wav(path)
    clean = 0
    frames = 0
    for start in range(0, len(samples) - FRAME + 1, FRAME):
        frame = samples[start:start + FRAME]
        frames += 1
        energy = sum(x * x for x in frame) / FRAME
        amplitude = goertzel_amplitude(frame, freq)
        if energy > 1000 and (amplitude * amplitude / 2) / energy > 0.9:
            clean += 1
    seconds = clean * FRAME / RATE
    print(f"{label}: {frames * FRAME / RATE:.2f} s recorded, {seconds:.2f} s of clean {freq} Hz")
    # The call lasts about 2 s after answering; allow for media start-up.
    if seconds < 1.0:
        raise Failure(f"{label}: only {seconds:.2f} s of {freq} Hz in {frames} frames")


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
    # Errors about the network say which host or port they are about.
    script = "register\ncall 100\nhangup 7\nwait 0.1\n"
    done = subprocess.run([cli, "--local-port", str(CALLER_PORT), "--server", "no-such-host.invalid",
                           "--user", "alice"], input=script, text=True, capture_output=True, timeout=15)
    errors = done.stderr.splitlines()
    expected = ["error: IP address is incorrect (server no-such-host.invalid:5060)"] * 2 + \
               ["error: no call 7"]
    if done.returncode != 0 or errors != expected:
        raise Failure(f"exit {done.returncode}, stderr {errors}")
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as taken:
        taken.bind(("0.0.0.0", CALLER_PORT))
        done = subprocess.run([cli, "--local-port", str(CALLER_PORT)], input="", text=True,
                              capture_output=True, timeout=15)
    if done.returncode == 0 or f"SIP port {CALLER_PORT}" not in done.stderr:
        raise Failure(f"taken port: exit {done.returncode}, stderr {done.stderr!r}")
    for args in (["--dtmf", "morse"], ["--local-port", "70000"], ["--rtp-ports", "9-8"],
                 ["--server", "127.0.0.1"], ["--user"], ["--bogus"]):
        bad = subprocess.run([cli] + args, input="", text=True, capture_output=True, timeout=15)
        if bad.returncode == 0 or not bad.stderr.startswith("error: "):
            raise Failure(f"{args}: exit {bad.returncode}, stderr {bad.stderr!r}")


# ---------------------------------------------------------------------------
# Audio crossing a call. The agents run on file devices: the caller's
# microphone plays a generated WAV, the far side's speaker records a WAV
# timeline, and the recording is analysed here.

RATE = 8000
FRAME = 160          # 20 ms; 1 kHz is exactly 20 cycles in it, so bin-centred
TONE_HZ = 1000
TONE_AMPLITUDE = 8000  # about -12 dBFS: no clipping through G.711
TONE_LEAD = 0.5      # seconds of silence before the tone in the source
TONE_SECONDS = 2.0


def write_tone_wav(path):
    """8 kHz mono 16-bit: silence, a steady 1 kHz tone, then the file ends
    (the file microphone sends silence after it)."""
    samples = [0] * int(TONE_LEAD * RATE)
    samples += [int(TONE_AMPLITUDE * math.sin(2 * math.pi * TONE_HZ * n / RATE))
                for n in range(int(TONE_SECONDS * RATE))]
    with wave.open(path, "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(RATE)
        out.writeframes(b"".join(v.to_bytes(2, "little", signed=True) for v in samples))


def read_wav(path):
    with wave.open(path, "rb") as source:
        if (source.getnchannels(), source.getsampwidth(), source.getframerate()) != (1, 2, RATE):
            raise Failure(f"{path}: not 8 kHz mono 16-bit: {source.getparams()}")
        data = source.readframes(source.getnframes())
    return [int.from_bytes(data[i:i + 2], "little", signed=True) for i in range(0, len(data) - 1, 2)]


def goertzel_amplitude(frame, freq):
    """Amplitude of the freq component in the frame (a full-scale sine of
    amplitude A gives A)."""
    coeff = 2 * math.cos(2 * math.pi * freq / RATE)
    s1 = s2 = 0.0
    for x in frame:
        s1, s2 = x + coeff * s1 - s2, s1
    power = s1 * s1 + s2 * s2 - coeff * s1 * s2
    return 2 * math.sqrt(max(power, 0.0)) / len(frame)


def tone_figures(samples):
    """Per 20 ms frame, the 1 kHz amplitude and how much of the frame's energy
    it holds; returns (seconds of clean tone, median tone amplitude, loudest
    1 kHz amplitude outside the tone, frame count)."""
    amplitudes, is_tone = [], []
    for start in range(0, len(samples) - FRAME + 1, FRAME):
        frame = samples[start:start + FRAME]
        amplitude = goertzel_amplitude(frame, TONE_HZ)
        energy = sum(x * x for x in frame) / FRAME
        # A pure sine of amplitude A has mean energy A^2 / 2.
        purity = (amplitude * amplitude / 2) / energy if energy else 0.0
        amplitudes.append(amplitude)
        is_tone.append(amplitude > TONE_AMPLITUDE / 4 and purity > 0.9)
    tone = sorted(a for a, t in zip(amplitudes, is_tone) if t)
    # Frames beside the tone may hold its first or last samples: not "elsewhere".
    near = [any(is_tone[max(i - 1, 0):i + 2]) for i in range(len(is_tone))]
    other = [a for a, n in zip(amplitudes, near) if not n]
    median = tone[len(tone) // 2] if tone else 0.0
    return len(tone) * FRAME / RATE, median, max(other, default=0.0), len(amplitudes)


def check_tone_recorded(path, label):
    """The recording holds the source tone once, at about its level and for
    about its length, and quiet elsewhere; prints the figures."""
    samples = read_wav(path)
    seconds, level, leak, frames = tone_figures(samples)
    ratio_db = 20 * math.log10(level / max(leak, 1.0)) if level else float("-inf")
    print(f"{label}: {len(samples) / RATE:.2f} s recorded, tone {seconds:.2f} s at "
          f"{level:.0f} (sent {TONE_AMPLITUDE}), 1 kHz elsewhere at most {leak:.1f}, "
          f"tone/elsewhere {ratio_db:.1f} dB")
    if seconds == 0:
        raise Failure(f"{label}: no 1 kHz tone in the recording ({frames} frames)")
    # G.711 keeps a -12 dBFS sine within a fraction of a dB; a gain or
    # decoding fault shows here.
    if not 0.8 * TONE_AMPLITUDE < level < 1.2 * TONE_AMPLITUDE:
        raise Failure(f"{label}: tone level {level:.0f}, sent {TONE_AMPLITUDE}")
    # Lost, repeated or looped frames change the tone's length; a frame or
    # two at the edges may hold only part of it.
    if abs(seconds - TONE_SECONDS) > 0.1:
        raise Failure(f"{label}: tone lasted {seconds:.2f} s, sent {TONE_SECONDS} s")
    if ratio_db < 40:
        raise Failure(f"{label}: 1 kHz outside the tone only {ratio_db:.1f} dB below it")


def case_sipp_echo_audio(cli, workdir):
    """A tone sent to a peer that returns our RTP as it came arrives in our
    own recording: the send path, the peer's address from its SDP, and the
    receive path to the speaker all work."""
    mic = os.path.join(workdir, "tone.wav")
    heard = os.path.join(workdir, "heard.wav")
    write_tone_wav(mic)
    peer = sipp("uas_answer.xml", workdir, ["-mp", "16300", "-rtp_echo"])
    args = caller_args(CALLER_PORT, "alice", f"127.0.0.1:{SIPP_PORT}")
    args[args.index("--mic") + 1] = mic
    args[args.index("--speaker") + 1] = heard
    agent = None
    try:
        agent = Agent(cli, "caller", args, workdir)
        agent.send("call 100")
        agent.expect("answered")
        agent.send(f"wait {TONE_LEAD + TONE_SECONDS + 1.5}")
        agent.send("hangup")
        agent.expect("bye")
        agent.finish()  # the speaker completes its file when the call is gone
        wait_sipp(peer, workdir)
    finally:
        if agent:
            agent.kill()
        peer.kill()
    check_tone_recorded(heard, "echoed")


def write_silence_wav(path, seconds):
    with wave.open(path, "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(RATE)
        out.writeframes(b"\0\0" * int(seconds * RATE))


def case_sipp_sounds_and_stats(cli, workdir):
    """A short sound, then a long one: each reports its end once, the long
    one at its real end (not at once from the short one's notices). The
    stats command and the end of the call print the call's figures."""
    short = os.path.join(workdir, "short.wav")
    long = os.path.join(workdir, "long.wav")
    write_silence_wav(short, 0.2)
    write_silence_wav(long, 1.5)
    peer = sipp("uas_answer.xml", workdir, ["-mp", "16300", "-rtp_echo"])
    agent = None
    try:
        agent = Agent(cli, "caller", caller_args(CALLER_PORT, "alice", f"127.0.0.1:{SIPP_PORT}"), workdir)
        agent.send("call 100")
        agent.expect("answered")
        agent.send("play " + short)
        agent.expect("wav-stopped")
        agent.send("wait 0.5")  # the short sound's notices go on meanwhile
        agent.send("play " + long)
        started = time.monotonic()
        agent.expect("wav-stopped")
        took = time.monotonic() - started
        if not 1.2 < took < 2.5:
            raise Failure(f"the long sound's end came after {took:.2f} s, it lasts 1.5 s")
        agent.send("stats")
        line = agent.expect("stats")
        figures = line.split()
        if figures[1] != "received" or int(figures[2]) < 50:
            raise Failure(f"stats after 2 s of echoed audio: '{line}'")
        agent.send("hangup")
        agent.expect("stats")
        agent.expect("bye")
        agent.finish()
        wait_sipp(peer, workdir)
    finally:
        if agent:
            agent.kill()
        peer.kill()
    stopped = [line for line in agent.seen if line == "wav-stopped"]
    if len(stopped) != 2:
        raise Failure(f"expected two wav-stopped, saw {agent.seen}")


def expect_digits(callee, caller, digits):
    """The caller sends the digits; the callee reports each one, in order,
    and nothing else (a digit reported twice, or the 1 kHz tone taken for a
    digit, fails here)."""
    caller.send("dtmf " + digits)
    for digit in digits:
        callee.expect("dtmf " + digit)
    caller.send("wait 1")  # time for a late duplicate to show
    caller.send("hangup")
    caller.expect("bye")
    callee.expect("bye")
    reported = [line for line in callee.seen if line.startswith("dtmf")]
    if reported != ["dtmf " + digit for digit in digits]:
        raise Failure(f"callee reported {reported}, caller sent {digits}")


def case_kamailio_audio_dtmf(cli, workdir):
    """Through Kamailio: an in-band call whose digits the callee hears as
    tones, then an RFC 2833 call carrying a 1 kHz tone that must reach the
    callee's recording. Each call records into its own file; the second
    call's (heard-2.wav) is read after the callee exits."""
    mic = os.path.join(workdir, "tone.wav")
    heard = os.path.join(workdir, "heard.wav")
    write_tone_wav(mic)
    proxy = start_kamailio(workdir)
    callee = caller = None
    try:
        callee_args = caller_args(CALLEE_PORT, "bob", "127.0.0.1", ["--password", "bobpw", "--auto-answer"])
        callee_args[callee_args.index("--speaker") + 1] = heard
        callee = Agent(cli, "callee", callee_args, workdir)
        callee.send("register")
        callee.expect("registered")

        for method, digits, source in (("inband", "159#", "null"), ("rfc2833", "2580*", mic)):
            args = caller_args(CALLER_PORT, "alice", "127.0.0.1",
                               ["--password", "alicepw", "--dtmf", method])
            args[args.index("--mic") + 1] = source
            caller = Agent(cli, "caller-" + method, args, workdir)
            caller.send("register")
            caller.expect("registered")
            callee.seen.clear()
            caller.send("call bob")
            callee.expect("incoming alice")
            caller.expect("answered")
            if source == mic:
                # Let the tone play out before the digits.
                caller.send(f"wait {TONE_LEAD + TONE_SECONDS + 0.5}")
            expect_digits(callee, caller, digits)
            caller.send("quit")
            caller.finish()
            caller = None

        callee.send("quit")
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
    if not os.path.exists(heard):
        raise Failure("the first call's recording was not kept")
    check_tone_recorded(os.path.join(workdir, "heard-2.wav"), "through Kamailio")


def case_kamailio_g729(cli, workdir):
    """Two agents through Kamailio, the callee taking G.729 only: the caller,
    which prefers Opus, ends on G.729, its tone reaches the callee's
    recording, and its figures show what G.729 costs the line: at most 20
    bytes of voice and 40 of headers every 20 ms (24 kbit/s), less where
    Annex B leaves the silence around the tone out."""
    mic = os.path.join(workdir, "tone.wav")
    heard = os.path.join(workdir, "heard.wav")
    write_tone_wav(mic)
    proxy = start_kamailio(workdir)
    callee = caller = None
    try:
        callee_args = caller_args(CALLEE_PORT, "bob", "127.0.0.1",
                                  ["--password", "bobpw", "--auto-answer", "--codecs", "g729"])
        callee_args[callee_args.index("--speaker") + 1] = heard
        callee = Agent(cli, "callee", callee_args, workdir)
        callee.send("register")
        callee.expect("registered")
        args = caller_args(CALLER_PORT, "alice", "127.0.0.1",
                           ["--password", "alicepw", "--codecs", "opus,g729,pcmu"])
        args[args.index("--mic") + 1] = mic
        caller = Agent(cli, "caller", args, workdir)
        caller.send("register")
        caller.expect("registered")
        caller.send("call bob")
        callee.expect("incoming alice")
        caller.expect("answered")
        caller.send(f"wait {TONE_LEAD + TONE_SECONDS + 0.5}")
        caller.send("stats")
        line = caller.expect("stats")
        figures = line.split()
        kbps = float(figures[figures.index("kbps") + 1])
        print(f"caller: {line}")
        if not 8 < kbps <= 24.5:
            raise Failure(f"G.729 call sends {kbps} kbit/s, expected 24 at most: '{line}'")
        caller.send("quit")
        caller.finish()
        caller = None
        callee.send("quit")
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
    samples = read_wav(heard)
    seconds, level, leak, frames = tone_figures(samples)
    print(f"G.729: tone {seconds:.2f} s at {level:.0f} (sent {TONE_AMPLITUDE}), elsewhere {leak:.1f}")
    # G.729 codes speech, not sines: the level and the edges move more than
    # with G.711, but the tone is there, once, for its length.
    if abs(seconds - TONE_SECONDS) > 0.2 or not 0.5 * TONE_AMPLITUDE < level < 1.5 * TONE_AMPLITUDE:
        raise Failure(f"G.729: tone {seconds:.2f} s at {level:.0f} in {frames} frames")


# ---------------------------------------------------------------------------
# SRTP. The agent puts keys into SDP only over signalling nobody on the way
# reads; its signalling here is UDP on 127.0.0.1, so these cases turn on the
# developer switch that lets it anyway.

SRTP_ENV = dict(os.environ, SOFTPHONE_DEV_SRTP_ON_UDP="1")


def case_srtp_two_agents(cli, workdir):
    """Two agents through Kamailio: the call is encrypted on both sides and
    the caller's tone reaches the callee's recording; an agent that may not
    take keys refuses the same call with 488."""
    mic = os.path.join(workdir, "tone.wav")
    heard = os.path.join(workdir, "heard.wav")
    write_tone_wav(mic)
    proxy = start_kamailio(workdir)
    callee = caller = plain = None
    try:
        callee_args = caller_args(CALLEE_PORT, "bob", "127.0.0.1", ["--password", "bobpw", "--auto-answer"])
        callee_args[callee_args.index("--speaker") + 1] = heard
        callee = Agent(cli, "callee", callee_args, workdir, env=SRTP_ENV)
        args = caller_args(CALLER_PORT, "alice", "127.0.0.1", ["--password", "alicepw"])
        args[args.index("--mic") + 1] = mic
        caller = Agent(cli, "caller", args, workdir, env=SRTP_ENV)
        for agent in (callee, caller):
            agent.send("register")
            agent.expect("registered")
        caller.send("call bob")
        callee.expect("incoming alice")
        for agent in (callee, caller):
            line = agent.expect("answered")
            if line != "answered 1 srtp":
                raise Failure(f"{agent.name}: expected 'answered 1 srtp', saw '{line}'")
        caller.send(f"wait {TONE_LEAD + TONE_SECONDS + 0.5}")
        caller.send("hangup")
        caller.expect("bye")
        callee.expect("bye")
        callee.send("quit")
        callee.finish()
        callee = None

        # The same offer to an agent on plain signalling without the switch.
        plain = Agent(cli, "plain", caller_args(CALLEE_PORT, "bob", "127.0.0.1",
                                                ["--password", "bobpw", "--auto-answer"]), workdir)
        plain.send("register")
        plain.expect("registered")
        caller.send("call bob")
        line = caller.expect("bye")
        if "488" not in line:
            raise Failure(f"caller: expected the call refused 488, saw '{line}'")
        if any(seen.startswith("incoming") for seen in plain.seen + drain(plain)):
            raise Failure("the plain agent rang for an SRTP offer")
        caller.send("quit")
        plain.send("quit")
        caller.finish()
        plain.finish()
    finally:
        for agent in (caller, callee, plain):
            if agent:
                agent.kill()
        proxy.terminate()
        try:
            proxy.wait(timeout=5)
        except subprocess.TimeoutExpired:
            proxy.kill()
    check_tone_recorded(heard, "over SRTP")


# baresip's SRTP modes: "srtp-mand" offers and answers RTP/SAVP only,
# "srtp" offers its keys inside RTP/AVP (best effort) and falls back to the
# clear when they are not taken.
BARESIP_SRTP = "<sip:carol@127.0.0.1>;regint=0;answermode=auto;audio_codecs=pcmu,pcma;mediaenc="


def case_srtp_baresip_answers(cli, workdir):
    """We call baresip with SRTP required on its side: the call is
    encrypted and baresip's tone reaches our recording."""
    peer = start_baresip(workdir, BARESIP_SRTP + "srtp-mand", ["srtp.so"])
    agent = None
    try:
        heard = os.path.join(workdir, "heard_from_baresip.wav")
        args = caller_args(CALLER_PORT, "alice", "127.0.0.1:5190")
        args[args.index("--speaker") + 1] = heard
        agent = Agent(cli, "caller", args, workdir, env=SRTP_ENV)
        agent.send("call carol")
        line = agent.expect("answered")
        if line != "answered 1 srtp":
            raise Failure(f"expected 'answered 1 srtp', saw '{line}'")
        agent.send("wait 2")
        agent.send("hangup")
        agent.expect("bye")
        agent.finish()
        check_sine_heard(heard, BARESIP_TONE_HZ, "from baresip over SRTP")
    finally:
        if agent:
            agent.kill()
        stop_process(peer)


def case_srtp_baresip_calls(cli, workdir):
    """baresip calls us offering its keys in best-effort mode: we take them,
    answer encrypted and hear its tone."""
    peer = start_baresip(workdir, BARESIP_SRTP + "srtp", ["srtp.so"])
    agent = None
    try:
        heard = os.path.join(workdir, "heard_from_baresip.wav")
        args = caller_args(CALLER_PORT, "alice", "127.0.0.1:5190")
        args[args.index("--speaker") + 1] = heard
        agent = Agent(cli, "callee", args, workdir, env=SRTP_ENV)
        baresip_command("dial", f"sip:alice@127.0.0.1:{CALLER_PORT}")
        agent.expect("incoming carol")
        agent.send("answer")
        line = agent.expect("answered")
        if line != "answered 1 srtp":
            raise Failure(f"expected 'answered 1 srtp', saw '{line}'")
        agent.send("wait 2")
        agent.send("hangup")
        agent.expect("bye")
        agent.finish()
        check_sine_heard(heard, BARESIP_TONE_HZ, "from baresip over SRTP")
    finally:
        if agent:
            agent.kill()
        stop_process(peer)


# baresip with its opus module and Opus only: a call either way carries its
# 440 Hz tone to our recording and our 1 kHz tone to the file its sndfile
# module writes of what it decoded, so both directions are heard.
BARESIP_OPUS = "<sip:carol@127.0.0.1>;regint=0;answermode=auto;audio_codecs=opus"


def tone_share_any_wav(path, freq):
    """Seconds of frames (20 ms) in any 16-bit WAV (first channel) whose
    energy is mostly the freq tone."""
    with wave.open(path, "rb") as source:
        channels, width, rate = source.getnchannels(), source.getsampwidth(), source.getframerate()
        data = source.readframes(source.getnframes())
    if width != 2:
        raise Failure(f"{path}: not 16-bit: {channels} channels, {width} bytes, {rate} Hz")
    step = 2 * channels
    samples = [int.from_bytes(data[i:i + 2], "little", signed=True) for i in range(0, len(data) - 1, step)]
    frame = rate // 50
    coeff = 2 * math.cos(2 * math.pi * freq / rate)
    clean = 0
    for start in range(0, len(samples) - frame + 1, frame):
        part = samples[start:start + frame]
        energy = sum(x * x for x in part) / frame
        s1 = s2 = 0.0
        for x in part:
            s1, s2 = x + coeff * s1 - s2, s1
        amplitude = 2 * math.sqrt(max(s1 * s1 + s2 * s2 - coeff * s1 * s2, 0.0)) / frame
        if energy > 1000 and (amplitude * amplitude / 2) / energy > 0.8:
            clean += 1
    return clean / 50.0


def opus_with_baresip(cli, workdir, we_call):
    peer = start_baresip(workdir, BARESIP_OPUS, ["opus.so"])
    agent = None
    try:
        heard = os.path.join(workdir, "heard_from_baresip.wav")
        mic = os.path.join(workdir, "tone.wav")
        write_tone_wav(mic)
        args = caller_args(CALLER_PORT, "alice", "127.0.0.1:5190", ["--codecs", "opus"])
        args[args.index("--speaker") + 1] = heard
        args[args.index("--mic") + 1] = mic
        agent = Agent(cli, "caller" if we_call else "callee", args, workdir)
        if we_call:
            agent.send("call carol")
        else:
            baresip_command("dial", f"sip:alice@127.0.0.1:{CALLER_PORT}")
            agent.expect("incoming carol")
            agent.send("answer")
        agent.expect("answered")
        agent.send(f"wait {TONE_LEAD + TONE_SECONDS + 0.5}")
        agent.send("stats")
        print("ours:", agent.expect("stats"))
        agent.send("hangup")
        agent.expect("bye")
        agent.finish()
        agent = None
        check_sine_heard(heard, BARESIP_TONE_HZ, "opus from baresip")
    finally:
        if agent:
            agent.kill()
        stop_process(peer)
    recordings = [os.path.join(root, name) for root, _, names in os.walk(os.path.join(workdir, "baresip", "rec"))
                  for name in names if name.endswith(".wav") and "enc" not in name]
    if not recordings:
        raise Failure("baresip wrote no recording of what it decoded")
    heard_there = max(tone_share_any_wav(path, TONE_HZ) for path in recordings)
    print(f"baresip heard {heard_there:.2f} s of clean {TONE_HZ} Hz from us")
    if heard_there < TONE_SECONDS * 0.7:
        raise Failure(f"baresip heard {heard_there:.2f} s of our {TONE_SECONDS} s tone: {recordings}")


def case_opus_baresip_answers(cli, workdir):
    """We call baresip offering Opus only; both tones cross the call."""
    opus_with_baresip(cli, workdir, we_call=True)


def case_opus_baresip_calls(cli, workdir):
    """baresip calls us with Opus under its own payload type; both tones
    cross the call."""
    opus_with_baresip(cli, workdir, we_call=False)


# ---------------------------------------------------------------------------
# Dialogs as real peers run them. The callers call from a port other than
# the agent's server, so a response sent anywhere but to the sender fails.

def callee_elsewhere(cli, workdir, extra=()):
    """An agent whose server is at ELSEWHERE_PORT (where nothing answers)."""
    agent = Agent(cli, "callee", caller_args(CALLER_PORT, "alice", f"127.0.0.1:{ELSEWHERE_PORT}",
                                             list(extra)), workdir)
    return agent


def run_caller(cli, workdir, scenario, agent_steps, extra=(), sipp_extra=()):
    agent = callee_elsewhere(cli, workdir, extra)
    peer = None
    try:
        peer = sipp(scenario, workdir, ["-s", "alice"] + list(sipp_extra), f"127.0.0.1:{CALLER_PORT}")
        agent_steps(agent)
        wait_sipp(peer, workdir)
        agent.finish()
    finally:
        agent.kill()
        if peer:
            peer.kill()
    return agent


def case_caller_answered(cli, workdir):
    def steps(agent):
        agent.expect("incoming caller")
        agent.expect("bye 1")
    run_caller(cli, workdir, "uac_answered.xml", steps, ["--auto-answer"])


def case_caller_rejected(cli, workdir):
    def steps(agent):
        agent.expect("incoming caller")
        agent.send("reject")
        agent.expect("bye 1 486 Busy Here")
    run_caller(cli, workdir, "uac_reject.xml", steps)


def case_caller_cancels(cli, workdir):
    def steps(agent):
        agent.expect("incoming caller")
        agent.expect("bye 1")
    run_caller(cli, workdir, "uac_cancel.xml", steps)


def case_requests_outside_calls(cli, workdir):
    """OPTIONS and MESSAGE answered 200 without registering, the message
    shown; INFO, NOTIFY and BYE of an unknown dialog answered 481."""
    def steps(agent):
        agent.expect("message caller Hola desde SIPp")
    agent = run_caller(cli, workdir, "uac_out_of_dialog.xml", steps)
    if any(line.startswith(("incoming", "bye", "dtmf")) for line in agent.seen):
        raise Failure(f"events for requests outside any call: {agent.seen}")


def case_bad_sdp_port(cli, workdir):
    agent = run_caller(cli, workdir, "uac_bad_port.xml", lambda agent: None, ["--auto-answer"])
    if agent.seen:
        raise Failure(f"offers without a usable port reached the operator: {agent.seen}")


def case_offer_directions(cli, workdir):
    def steps(agent):
        agent.expect("incoming caller")
        agent.expect("bye 1")
    run_caller(cli, workdir, "uac_directions.xml", steps, ["--auto-answer"])


def case_reinvite_without_offer(cli, workdir):
    def steps(agent):
        agent.expect("incoming caller")
        agent.expect("bye 1")
    run_caller(cli, workdir, "uac_reinvite_no_sdp.xml", steps, ["--auto-answer"])


def case_forked_answer(cli, workdir):
    """183 from one fork, 200 from another and a 200 from a third: the call
    is the second fork's, the third is acknowledged and ended."""
    peer = sipp("uas_forking.xml", workdir)
    agent = Agent(cli, "caller", caller_args(CALLER_PORT, "alice", f"127.0.0.1:{SIPP_PORT}"), workdir)
    try:
        agent.send("call 100")
        agent.expect("answered")
        agent.send("wait 2")
        agent.send("calls")
        if agent.expect("call ") != "call 1 connected 100 current":
            raise Failure(f"calls listed '{agent.seen[-1]}'")
        agent.send("hangup")
        agent.expect("bye 1")
        agent.finish()
        wait_sipp(peer, workdir)
        if agent.seen.count("answered 1") != 1:
            raise Failure(f"one call answered, events {agent.seen}")
    finally:
        agent.kill()
        peer.kill()


def transfer_out(cli, workdir, scenario, outcome):
    peer = sipp(scenario, workdir)
    agent = Agent(cli, "caller", caller_args(CALLER_PORT, "alice", f"127.0.0.1:{SIPP_PORT}"), workdir)
    try:
        agent.send("call 100")
        agent.expect("answered")
        agent.send("transfer 300")
        line = agent.expect("transfer")
        if line != outcome:
            raise Failure(f"expected '{outcome}', got '{line}'")
        if outcome == "transferred 1":
            # That line ends the call: no bare bye after it.
            agent.send("wait 2")
            agent.send("calls")
            agent.expect("no calls")
            if any(line.startswith("bye") for line in agent.seen):
                raise Failure(f"a bye after the transfer: {agent.seen}")
        else:
            agent.send("calls")
            if agent.expect("call ") != "call 1 connected 100 current":
                raise Failure(f"after a failed transfer: '{agent.seen[-1]}'")
            agent.send("hangup")
            agent.expect("bye 1")
        agent.finish()
        wait_sipp(peer, workdir)
    finally:
        agent.kill()
        peer.kill()


def case_transfer_out_ok(cli, workdir):
    transfer_out(cli, workdir, "uas_refer_ok.xml", "transferred 1")


def case_transfer_out_fails(cli, workdir):
    transfer_out(cli, workdir, "uas_refer_fail.xml", "transfer-failed 1 486 Busy Here")


def case_transfer_out_refused(cli, workdir):
    transfer_out(cli, workdir, "uas_refer_refused.xml", "transfer-failed 1 603 Decline")


def case_transfer_in(cli, workdir):
    """A caller from another port asks the agent to transfer the call to a
    third party (the agent's server here); with --accept-transfers the agent
    answers 202, calls the target, reports 100 and then 200 by NOTIFY, and
    the caller's BYE ends the first call."""
    target = sipp("uas_answer.xml", workdir, port=TARGET_PORT, name="target")
    agent = Agent(cli, "callee", caller_args(CALLER_PORT, "alice", f"127.0.0.1:{TARGET_PORT}",
                                             ["--auto-answer", "--accept-transfers"]), workdir)
    caller = None
    try:
        caller = sipp("uac_refer.xml", workdir,
                      ["-s", "alice", "-set", "target", f"sip:transfer@127.0.0.1:{TARGET_PORT}"],
                      f"127.0.0.1:{CALLER_PORT}", name="caller")
        agent.expect("incoming caller")
        line = agent.expect("transfer-request")
        if line != f"transfer-request 1 transfer@127.0.0.1:{TARGET_PORT}":
            raise Failure(f"transfer request: '{line}'")
        agent.expect("answered")
        agent.expect("bye 1")
        wait_sipp(caller, workdir, name="caller")
        agent.send("calls")
        if agent.expect("call ") != f"call 2 connected transfer@127.0.0.1:{TARGET_PORT} current":
            raise Failure(f"after the transfer: '{agent.seen[-1]}'")
        agent.send("hangup")
        agent.expect("bye 2")
        agent.finish()
        wait_sipp(target, workdir, name="target")
    finally:
        agent.kill()
        target.kill()
        if caller:
            caller.kill()


def case_transfer_in_refused(cli, workdir):
    """Without --accept-transfers the far end's transfer request waits for
    the user: `refuse-transfer 1` declines it with 603, nobody is called, and
    the first call goes on until the caller ends it."""
    agent = Agent(cli, "callee", caller_args(CALLER_PORT, "alice", f"127.0.0.1:{TARGET_PORT}",
                                             ["--auto-answer"]), workdir)
    caller = None
    try:
        caller = sipp("uac_refer_declined.xml", workdir,
                      ["-s", "alice", "-set", "target", f"sip:transfer@127.0.0.1:{TARGET_PORT}"],
                      f"127.0.0.1:{CALLER_PORT}", name="caller")
        agent.expect("incoming caller")
        line = agent.expect("transfer-request")
        if line != f"transfer-request 1 transfer@127.0.0.1:{TARGET_PORT}":
            raise Failure(f"transfer request: '{line}'")
        agent.send("refuse-transfer 1")
        line = agent.expect("bye 1")
        if line != "bye 1":
            raise Failure(f"the caller's BYE: '{line}'")
        wait_sipp(caller, workdir, name="caller")
        agent.send("calls")
        if agent.expect("no calls") != "no calls":
            raise Failure(f"after the refusal: '{agent.seen[-1]}'")
        agent.finish()
    finally:
        agent.kill()
        if caller:
            caller.kill()


def message_out(cli, workdir, scenario, outcome):
    peer = sipp(scenario, workdir)
    agent = Agent(cli, "sender", caller_args(CALLER_PORT, "alice", f"127.0.0.1:{SIPP_PORT}"), workdir)
    try:
        agent.send("message bob Hola, que tal")
        line = agent.expect("message-")
        if line != outcome:
            raise Failure(f"expected '{outcome}', got '{line}'")
        agent.finish()
        wait_sipp(peer, workdir)
    finally:
        agent.kill()
        peer.kill()


def case_message_delivered(cli, workdir):
    message_out(cli, workdir, "uas_message_ok.xml", "message-delivered bob")


def case_message_refused(cli, workdir):
    message_out(cli, workdir, "uas_message_404.xml", "message-failed bob 404 Not Found")


# ---------------------------------------------------------------------------
# A flood of INVITEs that are never completed, from one sender.

def junk_invites(count, agent_port, seed=7):
    """Datagrams of a flood: INVITEs with fresh Call-IDs and offers, some
    with ports that are none, some cut short, some plain garbage."""
    import random
    rng = random.Random(seed)
    for n in range(count):
        kind = n % 4
        if kind == 3:
            yield bytes(rng.getrandbits(8) for _ in range(rng.randint(1, 300)))
            continue
        port = rng.choice(["4000", "70000", "4000x"]) if kind == 2 else str(rng.randint(1024, 65000))
        body = ("v=0\r\no=x 1 1 IN IP4 127.0.0.1\r\ns=x\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\n"
                f"m=audio {port} RTP/AVP 0 8\r\n")
        text = (f"INVITE sip:alice@127.0.0.1:{agent_port} SIP/2.0\r\n"
                f"Via: SIP/2.0/UDP 127.0.0.1:9;branch=z9hG4bKflood{n}\r\n"
                f"From: <sip:junk{n}@127.0.0.1>;tag=f{n}\r\nTo: <sip:alice@127.0.0.1>\r\n"
                f"Call-ID: flood-{n}-{rng.getrandbits(32)}\r\nCSeq: 1 INVITE\r\n"
                f"Contact: <sip:junk{n}@127.0.0.1:9>\r\nContent-Type: application/sdp\r\n"
                f"Content-Length: {len(body)}\r\n\r\n{body}")
        if kind == 1:
            text = text[:rng.randint(20, len(text))]
        yield text.encode()


def rss_kib(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def flood_agent(cli, workdir, count, pace=200):
    """Starts an agent with one RTP port, floods it with `count` INVITEs, and
    returns (agent, RSS before in KiB, RSS after in KiB, seconds taken)."""
    env = dict(os.environ)
    # A small quarantine, or the sanitizer's own holding of freed memory
    # reads as growth.
    env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":quarantine_size_mb=4"
    args = caller_args(CALLER_PORT, "alice", f"127.0.0.1:{ELSEWHERE_PORT}")
    args[args.index("--rtp-ports") + 1] = "26990-26991"
    agent = Agent(cli, "flooded", args, workdir, env)
    agent.send("calls")
    agent.expect("no calls")
    before = rss_kib(agent.proc.pid)
    started = time.monotonic()
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as sender:
        sender.setblocking(False)
        for n, datagram in enumerate(junk_invites(count, CALLER_PORT)):
            sender.sendto(datagram, ("127.0.0.1", CALLER_PORT))
            if n % pace == pace - 1:
                time.sleep(0.01)  # about 20,000 a second at most: the socket buffer keeps up
            try:
                while sender.recv(4096):
                    pass
            except BlockingIOError:
                pass
    seconds = time.monotonic() - started
    time.sleep(1.0)
    return agent, before, rss_kib(agent.proc.pid), seconds


def case_invite_flood(cli, workdir):
    """3,000 INVITEs never completed: a handful ring (the rest are turned
    away), none takes an RTP port, memory stays put, and once the operator
    has refused the ringing ones a real call gets the one RTP port there is."""
    agent, before, after, seconds = flood_agent(cli, workdir, 3000)
    peer = None
    try:
        # The listing is asked for once the flood has rung through, and read
        # from its first line on.
        agent.expect("incoming")
        drain(agent)
        agent.send("calls")
        ringing = [agent.expect("call ")]
        ringing += [line for line in drain(agent) if line.startswith("call ")]
        listed = len(ringing)
        print(f"flood: 3000 datagrams in {seconds:.2f} s; RSS {before} -> {after} KiB; "
              f"{listed} calls ringing")
        if listed == 0 or listed > 8 or any(" ringing " not in line for line in ringing):
            raise Failure(f"calls after the flood: {ringing}")
        if after - before > 16 * 1024:
            raise Failure(f"memory grew by {after - before} KiB")
        for line in ringing:
            agent.send("hangup " + line.split()[1])
        agent.send("wait 0.5")
        agent.send("calls")
        agent.expect("no calls")
        agent.send("answer")  # no call yet: an error, and nothing else
        peer = sipp("uac_answered.xml", workdir, ["-s", "alice"], f"127.0.0.1:{CALLER_PORT}")
        agent.expect("incoming caller")
        agent.send("answer")
        agent.expect("bye")
        wait_sipp(peer, workdir)
        agent.finish()
    finally:
        agent.kill()
        if peer:
            peer.kill()


# ---------------------------------------------------------------------------
# Transfers with an independent user agent, through Kamailio: baresip is
# alice, the agents are bob and carol.

BARESIP_ALICE = ("<sip:alice@127.0.0.1>;auth_pass=alicepw;regint=600;answermode=auto;"
                 "audio_codecs=pcmu,pcma")


def registered_agent(cli, workdir, name, port, extra=()):
    agent = Agent(cli, name, caller_args(port, name, "127.0.0.1", ["--password", name + "pw"] + list(extra)),
                  workdir)
    agent.send("register")
    agent.expect("registered")
    return agent


def with_kamailio_and_baresip(cli, workdir, run):
    proxy = start_kamailio(workdir)
    peer = None
    agents = []
    try:
        peer = start_baresip(workdir, BARESIP_ALICE)
        wait_ready(peer, "baresip's registration as alice", lambda: "alice" in kamailio_locations(workdir))
        run(peer, agents)
    finally:
        for agent in agents:
            agent.kill()
        for process in (peer, proxy):
            if process:
                process.terminate()
                try:
                    process.wait(timeout=5)
                except subprocess.TimeoutExpired:
                    process.kill()


def case_baresip_transfers_the_agent(cli, workdir):
    """bob calls baresip, baresip transfers bob to carol: bob is asked by
    REFER, calls carol, and the first call ends once carol answers."""
    def run(peer, agents):
        bob = registered_agent(cli, workdir, "bob", CALLER_PORT, ["--accept-transfers"])
        agents.append(bob)
        carol = registered_agent(cli, workdir, "carol", CALLEE_PORT, ["--auto-answer"])
        agents.append(carol)
        bob.send("call alice")
        bob.expect("answered")
        time.sleep(1.0)
        baresip_command("transfer", "sip:carol@127.0.0.1")
        bob.expect("transfer-request 1")
        carol.expect("incoming bob")
        bob.expect("bye 1")
        bob.send("calls")
        line = bob.expect("call ")
        if not line.startswith("call 2 connected carol@127.0.0.1"):
            raise Failure(f"bob after the transfer: '{line}'")
        bob.send("hangup")
        bob.expect("bye 2")
        carol.expect("bye 1")
        for agent in (bob, carol):
            agent.send("quit")
            agent.finish()
    with_kamailio_and_baresip(cli, workdir, run)


def case_agent_transfers_baresip(cli, workdir):
    """baresip calls bob, bob transfers baresip to carol: baresip takes the
    REFER, calls carol, reports by NOTIFY, and bob's call ends."""
    def run(peer, agents):
        bob = registered_agent(cli, workdir, "bob", CALLER_PORT, ["--auto-answer"])
        agents.append(bob)
        carol = registered_agent(cli, workdir, "carol", CALLEE_PORT, ["--auto-answer"])
        agents.append(carol)
        baresip_command("dial", "sip:bob@127.0.0.1")
        bob.expect("incoming alice")
        time.sleep(1.5)
        bob.send("transfer carol")
        carol.expect("incoming alice")
        if bob.expect("transfer") != "transferred 1":
            raise Failure(f"bob: '{bob.seen[-1]}'")
        # That line ends bob's call; a bare bye would tell it twice.
        bob.expect("stats")
        bob.send("calls")
        bob.expect("no calls")
        if any(line.startswith("bye") for line in bob.seen):
            raise Failure(f"bob: a bye after the transfer: {bob.seen}")
        time.sleep(1.0)
        carol.send("hangup")
        carol.expect("bye 1")
        for agent in (bob, carol):
            agent.send("quit")
            agent.finish()
    with_kamailio_and_baresip(cli, workdir, run)


CASES = {
    "errors": (case_errors, []),
    "sipp_answer": (case_sipp_answer, ["sipp"]),
    "sipp_busy": (case_sipp_busy, ["sipp"]),
    "sipp_cancel": (case_sipp_cancel, ["sipp"]),
    "sipp_reject": (case_sipp_reject, ["sipp"]),
    "two_calls": (case_two_calls, ["sipp"]),
    "sipp_proxy_auth": (case_sipp_proxy_auth, ["sipp"]),
    "kamailio_two_agents": (case_kamailio_two_agents, ["kamailio"]),
    "kamailio_hold_resume": (case_kamailio_hold_resume, ["kamailio"]),
    "baresip_answers": (case_baresip_answers, ["baresip"]),
    "baresip_calls": (case_baresip_calls, ["baresip"]),
    "sipp_echo_audio": (case_sipp_echo_audio, ["sipp"]),
    "sipp_sounds_and_stats": (case_sipp_sounds_and_stats, ["sipp"]),
    "kamailio_audio_dtmf": (case_kamailio_audio_dtmf, ["kamailio"]),
    "kamailio_g729": (case_kamailio_g729, ["kamailio"]),
    "caller_answered": (case_caller_answered, ["sipp"]),
    "caller_rejected": (case_caller_rejected, ["sipp"]),
    "caller_cancels": (case_caller_cancels, ["sipp"]),
    "requests_outside_calls": (case_requests_outside_calls, ["sipp"]),
    "bad_sdp_port": (case_bad_sdp_port, ["sipp"]),
    "offer_directions": (case_offer_directions, ["sipp"]),
    "reinvite_without_offer": (case_reinvite_without_offer, ["sipp"]),
    "forked_answer": (case_forked_answer, ["sipp"]),
    "transfer_out_ok": (case_transfer_out_ok, ["sipp"]),
    "transfer_out_fails": (case_transfer_out_fails, ["sipp"]),
    "transfer_out_refused": (case_transfer_out_refused, ["sipp"]),
    "transfer_in": (case_transfer_in, ["sipp"]),
    "silent_server": (case_silent_server, []),
    "play_bounds": (case_play_bounds, ["sipp"]),
    "transfer_in_refused": (case_transfer_in_refused, ["sipp"]),
    "message_delivered": (case_message_delivered, ["sipp"]),
    "message_refused": (case_message_refused, ["sipp"]),
    "invite_flood": (case_invite_flood, ["sipp"]),
    "baresip_transfers_the_agent": (case_baresip_transfers_the_agent, ["baresip", "kamailio"]),
    "agent_transfers_baresip": (case_agent_transfers_baresip, ["baresip", "kamailio"]),
    "srtp_two_agents": (case_srtp_two_agents, ["kamailio"]),
    "srtp_baresip_answers": (case_srtp_baresip_answers, ["baresip"]),
    "srtp_baresip_calls": (case_srtp_baresip_calls, ["baresip"]),
    "opus_baresip_answers": (case_opus_baresip_answers, ["baresip"]),
    "opus_baresip_calls": (case_opus_baresip_calls, ["baresip"]),
}


def main():
    return run_case(CASES, "cli_", lambda file: file.endswith((".err", "_errors.log")))


if __name__ == "__main__":
    sys.exit(main())
