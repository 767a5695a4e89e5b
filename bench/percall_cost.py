#!/usr/bin/env python3
"""Cost per call of softphone-cli beside baresip, on the same load.

For each agent and each N (1, 10, 100 by default) a fresh agent process and a
fresh SIPp answering peer are started on 127.0.0.1. The agent is measured idle
first, then places N G.711 (PCMU, 20 ms) calls to SIPp, which answers and
echoes every RTP packet back to its source, so each call carries 50 packets/s
each way. After all N calls are up and a settle time, one steady window is
measured from /proc for the agent's process alone: CPU time (utime + stime,
all threads), context switches (summed over its threads), resident memory and
thread count. A run only counts when the agent, SIPp's statistics and a
packet count on the loopback all agree that the N calls are up and carry
media; then the calls are hung up and both processes stopped.

baresip runs without a sound card, once per audio source it can send from
(see BARESIP_SOURCES): each source is cheaper on one figure. The tables give
each agent's figures and ours divided by baresip's.

Usage: percall_cost.py --cli PATH [--calls 1,10,100] [--window 20]
                       [--agents ours,baresip-ausine,baresip-aufile] ...
"""
import argparse
import csv
import json
import os
import queue
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import wave

LOCALHOST = "127.0.0.1"
CLK_TCK = os.sysconf("SC_CLK_TCK")
PACKETS_PER_SECOND = 50  # one 20 ms frame per packet
PCMU = 0
PCMU_PAYLOAD_BYTES = 160
DIAL_GAP = 0.02          # between two call attempts, the same for both agents
ESTABLISH_TIMEOUT = 60
STOP_TIMEOUT = 40        # ours hangs up its calls 100 ms apart when leaving
MEDIA_CHECK_SECONDS = 2


class RunFailed(Exception):
    pass


# ---------------------------------------------------------------------------
# Ports. SIP and control ports come from the kernel (bind to port 0); RTP
# ports come from a range of our own below the ephemeral ports, away from
# the ones the test suite uses, so a test running beside us does not collide.

def kernel_port(kind=socket.SOCK_DGRAM):
    with socket.socket(socket.AF_INET, kind) as probe:
        probe.bind((LOCALHOST, 0))
        return probe.getsockname()[1]


def port_free(port, kinds=(socket.SOCK_DGRAM,)):
    for kind in kinds:
        with socket.socket(socket.AF_INET, kind) as probe:
            try:
                probe.bind((LOCALHOST, port))
            except OSError:
                return False
    return True


def baresip_sip_port():
    """baresip listens on its SIP port over UDP and TCP and on the next one
    for TLS: all three must be free."""
    both = (socket.SOCK_DGRAM, socket.SOCK_STREAM)
    for _ in range(50):
        port = kernel_port()
        if port < 65535 and port_free(port, both) and port_free(port + 1, both):
            return port
    raise RunFailed("no free pair of SIP ports for baresip")


def sipp_media_port(first, last):
    """SIPp echoes on its media port and on the one two above (video)."""
    for port in range(first, last - 3, 4):
        if all(port_free(p) for p in range(port, port + 4)):
            return port
    raise RunFailed(f"no free media port for SIPp in {first}-{last}")


class PortPlan:
    """RTP ranges out of one base: ours, baresip's, then SIPp's media port."""

    def __init__(self, base):
        self.ours = (base, base + 599)          # 300 even ports for 100 calls
        self.baresip = (base + 600, base + 1199)
        self.sipp_media = (base + 1200, base + 1399)


# ---------------------------------------------------------------------------
# /proc figures of one process

def read_cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    # utime and stime are fields 14 and 15; the split starts at field 3.
    return (int(fields[11]) + int(fields[12])) / CLK_TCK


def status_value(path, key):
    with open(path) as status:
        for line in status:
            if line.startswith(key + ":"):
                return int(line.split()[1])
    return 0


def read_context_switches(pid):
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        path = f"/proc/{pid}/task/{task}/status"
        try:
            total += status_value(path, "voluntary_ctxt_switches")
            total += status_value(path, "nonvoluntary_ctxt_switches")
        except FileNotFoundError:
            pass  # the thread ended between the listing and the read
    return total


def read_rss_kb(pid):
    return status_value(f"/proc/{pid}/status", "VmRSS")


def count_threads(pid):
    return len(os.listdir(f"/proc/{pid}/task"))


def sample(pid):
    return {"time": time.monotonic(), "cpu": read_cpu_seconds(pid),
            "ctx": read_context_switches(pid)}


def measure_window(pid, seconds):
    """CPU seconds, context switches and wall seconds over one window, with
    the memory and threads at its end."""
    start = sample(pid)
    time.sleep(seconds)
    end = sample(pid)
    return {"wall": end["time"] - start["time"], "cpu": end["cpu"] - start["cpu"],
            "ctx": end["ctx"] - start["ctx"], "rss_kb": read_rss_kb(pid),
            "threads": count_threads(pid)}


# ---------------------------------------------------------------------------
# Media check: RTP on the loopback between the agent and SIPp's media port,
# counted per agent port from a packet socket (needs CAP_NET_RAW).

ETH_P_ALL = 0x0003
PACKET_OUTGOING = 4
SO_TIMESTAMPNS = 35  # also SCM_TIMESTAMPNS on Linux


def kernel_stamp(ancillary):
    """Seconds of the SCM_TIMESTAMPNS control message, or None."""
    for level, kind, data in ancillary:
        if level == socket.SOL_SOCKET and kind == SO_TIMESTAMPNS and len(data) >= 16:
            seconds, nanoseconds = struct.unpack("qq", data[:16])
            return seconds + nanoseconds / 1e9
    return None


def parse_udp(frame):
    """(source port, destination port, UDP payload) of an IPv4 UDP frame on
    the loopback (14-byte zero Ethernet header), or None."""
    if len(frame) < 14 + 20 + 8 or frame[12:14] != b"\x08\x00":
        return None
    ip = frame[14:]
    header_length = (ip[0] & 0x0F) * 4
    if ip[0] >> 4 != 4 or ip[9] != 17 or len(ip) < header_length + 8:
        return None
    source, destination, length = struct.unpack("!HHH", ip[header_length:header_length + 6])
    return source, destination, ip[header_length + 8:header_length + length]


class MediaTally:
    """Packets each way per agent port, with the payload types and sizes seen."""

    def __init__(self, media_port):
        self.media_port = media_port
        self.last_sent = {}  # agent port -> (sequence number, kernel time in s) of its last packet
        self.spacing_ms = []  # between consecutive sequence numbers of one flow
        self.sent = {}      # agent port -> packets to SIPp
        self.echoed = {}    # agent port -> packets back from SIPp
        self.payload_types = set()
        self.payload_sizes = set()

    def add(self, source, destination, payload, stamp=None):
        if destination == self.media_port:
            self.sent[source] = self.sent.get(source, 0) + 1
            if len(payload) >= 12 and stamp is not None:
                # A packet the capture missed shows as a step of two: only
                # neighbours are timed, so the figure is the sender's alone.
                sequence = payload[2] << 8 | payload[3]
                last = self.last_sent.get(source)
                if last and (sequence - last[0]) & 0xFFFF == 1:
                    self.spacing_ms.append(1000 * (stamp - last[1]))
                self.last_sent[source] = (sequence, stamp)
            if len(payload) >= 12:
                payload_type = payload[1] & 0x7F
                self.payload_types.add(payload_type)
                if payload_type == PCMU:
                    self.payload_sizes.add(len(payload) - 12)
        elif source == self.media_port:
            self.echoed[destination] = self.echoed.get(destination, 0) + 1

    def verdict(self, calls, seconds):
        """Empty when every call carried about 50 PCMU packets/s each way;
        otherwise what is wrong."""
        expected = PACKETS_PER_SECOND * seconds * 0.8
        short = [p for p in self.sent if self.sent[p] < expected or self.echoed.get(p, 0) < expected]
        problems = []
        if len(self.sent) != calls:
            problems.append(f"{len(self.sent)} RTP flows for {calls} calls")
        if short:
            problems.append(f"{len(short)} flows under {expected:.0f} packets each way")
        if self.payload_types - {PCMU, 101}:
            problems.append(f"payload types {sorted(self.payload_types)}")
        if self.payload_sizes != {PCMU_PAYLOAD_BYTES}:  # 20 ms of 8 kHz G.711
            problems.append(f"PCMU payload sizes {sorted(self.payload_sizes)}")
        return "; ".join(problems)

    def spacing_percentiles(self):
        """p50, p99 and the largest spacing (ms) of the agent's packets, all
        flows together; None before two neighbours were seen."""
        if not self.spacing_ms:
            return None
        ordered = sorted(self.spacing_ms)
        at = lambda q: ordered[min(len(ordered) - 1, int(q * (len(ordered) - 1) + 0.5))]  # noqa: E731
        return at(0.5), at(0.99), ordered[-1]

    def summary(self, seconds):
        if not self.sent:
            return "no RTP"
        low_sent = min(self.sent.values()) / seconds
        low_echo = min(self.echoed.get(p, 0) for p in self.sent) / seconds
        text = f"{len(self.sent)} flows, >= {low_sent:.0f} pkt/s out, >= {low_echo:.0f} back"
        spacing = self.spacing_percentiles()
        if spacing:
            text += " send spacing p50 {:.1f} p99 {:.1f} max {:.1f} ms".format(*spacing)
        return text


def count_media(media_port, seconds):
    """Counts RTP to and from SIPp's media port for `seconds`; None when no
    packet socket may be opened."""
    try:
        capture = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.htons(ETH_P_ALL))
    except (PermissionError, AttributeError):
        return None
    tally = MediaTally(media_port)
    with capture:
        capture.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 8 << 20)
        # The kernel's arrival time on the loopback, not this loop's.
        capture.setsockopt(socket.SOL_SOCKET, SO_TIMESTAMPNS, 1)
        capture.bind(("lo", 0))
        capture.settimeout(0.2)
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            try:
                frame, ancillary, _, address = capture.recvmsg(2048, 64)
            except socket.timeout:
                continue
            if address[2] == PACKET_OUTGOING:
                continue  # the loopback shows each packet leaving and arriving
            udp = parse_udp(frame)
            if udp:
                tally.add(*udp, stamp=kernel_stamp(ancillary))
    return tally


# ---------------------------------------------------------------------------
# SIPp: the built-in answering scenario (200 with PCMU at once, BYE answered)
# with RTP echo; -m N makes it leave by itself once the N calls are over.

class Sipp:
    def __init__(self, workdir, calls, media_port, lifetime):
        self.port = kernel_port()
        self.media_port = media_port
        self.stats = os.path.join(workdir, "sipp_stats.csv")
        self.out = open(os.path.join(workdir, "sipp.out"), "w")
        self.proc = subprocess.Popen(
            ["sipp", "-sn", "uas", "-i", LOCALHOST, "-mi", LOCALHOST, "-p", str(self.port),
             "-mp", str(media_port), "-rtp_echo", "-m", str(calls), "-nostdin",
             "-timeout", str(int(lifetime)), "-trace_stat", "-stf", self.stats, "-fd", "1",
             "-trace_err", "-error_file", os.path.join(workdir, "sipp_errors.log")],
            stdout=self.out, stderr=subprocess.STDOUT, cwd=workdir)
        time.sleep(0.5)
        if self.proc.poll() is not None:
            raise RunFailed("SIPp did not start: " + self.tail())

    def latest_stats(self):
        try:
            with open(self.stats, newline="") as data:
                rows = list(csv.DictReader(data, delimiter=";"))
        except FileNotFoundError:
            return {}
        return rows[-1] if rows else {}

    def current_calls(self):
        return int(self.latest_stats().get("CurrentCall", 0) or 0)

    def failed_calls(self):
        return int(self.latest_stats().get("FailedCall(C)", 0) or 0)

    def wait_current(self, calls, timeout=10):
        deadline = time.monotonic() + timeout
        while self.current_calls() != calls:
            if time.monotonic() > deadline:
                raise RunFailed(f"SIPp holds {self.current_calls()} calls, expected {calls}")
            time.sleep(0.25)

    def wait_done(self, timeout):
        """SIPp leaves with 0 when every call passed its scenario."""
        try:
            code = self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise RunFailed("SIPp did not finish its calls")
        if code != 0:
            raise RunFailed(f"SIPp exit code {code}: " + self.tail())

    def tail(self):
        self.out.flush()
        with open(self.out.name) as out:
            return out.read()[-1500:]

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        self.out.close()


# ---------------------------------------------------------------------------
# The agents. Each places N calls to SIPp, says how many are up and whether
# any ended, and leaves hanging them all up.

class OurAgent:
    """softphone-cli: one "call" line per call; it prints "answered" for each
    and "bye" when one ends. End of input makes it leave, so it cannot
    outlive the driver."""

    def __init__(self, cli, workdir, sipp_port, rtp_ports):
        self.stderr = open(os.path.join(workdir, "softphone-cli.err"), "w+")
        args = [cli, "--local-port", str(kernel_port()), "--server", f"{LOCALHOST}:{sipp_port}",
                "--user", "bench", "--rtp-ports", f"{rtp_ports[0]}-{rtp_ports[1]}",
                "--mic", "null", "--speaker", "null"]
        self.proc = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=self.stderr, text=True, bufsize=1)
        self.pid = self.proc.pid
        self.lines = []
        threading.Thread(target=self._read, daemon=True).start()
        time.sleep(0.5)
        if self.proc.poll() is not None:
            raise RunFailed("softphone-cli did not start: " + self.errors())

    def _read(self):
        for line in self.proc.stdout:
            self.lines.append(line.strip())

    def dial(self, number):
        self.proc.stdin.write(f"call {number}\n")
        self.proc.stdin.flush()

    def established(self):
        # "answered N": N is the call's number.
        return sum(1 for line in self.lines if line.split(" ")[0] == "answered")

    def ended(self):
        return sum(1 for line in self.lines if line.startswith("bye"))

    def stop(self):
        try:
            self.proc.stdin.write("quit\n")
            self.proc.stdin.close()
        except BrokenPipeError:
            pass
        try:
            self.proc.wait(timeout=STOP_TIMEOUT)
        except subprocess.TimeoutExpired:
            raise RunFailed("softphone-cli did not leave after quit")

    def errors(self):
        self.stderr.flush()
        self.stderr.seek(0)
        return self.stderr.read()[-1500:]

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()


def split_netstrings(buffer):
    """(complete netstring bodies, the unfinished rest) of a byte buffer."""
    bodies = []
    while True:
        colon = buffer.find(b":")
        if colon < 0:
            return bodies, buffer
        length = int(buffer[:colon])
        end = colon + 1 + length
        if len(buffer) < end + 1:
            return bodies, buffer
        bodies.append(buffer[colon + 1:end])
        buffer = buffer[end + 1:]  # past the closing comma


# Audio sources baresip can send from without a sound card. ausine only
# produces 48 kHz stereo, which baresip resamples to 8 kHz mono for G.711;
# aufile takes the rate of its file but loads the whole file into memory for
# each call and ends the call when the file ends.
BARESIP_SOURCES = {
    "ausine": ("ausine.so", "ausine,440", 48000, 2),
    "aufile": ("aufile.so", "aufile,{silence}", 8000, 1),
}

BARESIP_CONFIG = """\
poll_method epoll
sip_listen {localhost}:{sip_port}
net_interface {localhost}
call_max_calls 400
audio_player aubridge,null
audio_alert aubridge,null
audio_source {source}
ausrc_srate {srate}
ausrc_channels {channels}
auplay_srate 8000
auplay_channels 1
rtp_ports {rtp_min}-{rtp_max}
module_path /usr/lib/baresip/modules
module g711.so
module {source_module}
module aubridge.so
module_tmp account.so
module_app menu.so
module_app ctrl_tcp.so
ctrl_tcp_listen {localhost}:{ctrl_port}
"""


def write_silence(path, seconds):
    with wave.open(path, "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(8000)
        out.writeframes(b"\0\0" * 8000 * int(seconds))


def write_baresip_config(confdir, source_name, rtp_ports, call_seconds):
    """Config and account: G.711 mu-law only, ptime 20, no sound card (the
    player is an aubridge device nothing reads from), no registration."""
    os.makedirs(confdir, exist_ok=True)
    module, source, srate, channels = BARESIP_SOURCES[source_name]
    silence = os.path.join(confdir, "silence.wav")
    if source_name == "aufile":
        write_silence(silence, call_seconds)
    sip_port, ctrl_port = baresip_sip_port(), kernel_port(socket.SOCK_STREAM)
    with open(os.path.join(confdir, "config"), "w") as config:
        config.write(BARESIP_CONFIG.format(
            localhost=LOCALHOST, sip_port=sip_port, ctrl_port=ctrl_port,
            source=source.format(silence=silence), source_module=module, srate=srate,
            channels=channels, rtp_min=rtp_ports[0], rtp_max=rtp_ports[1]))
    with open(os.path.join(confdir, "accounts"), "w") as accounts:
        accounts.write(f"<sip:bench@{LOCALHOST}>;regint=0;audio_codecs=pcmu;ptime=20\n")
    return ctrl_port


class Baresip:
    """baresip driven over ctrl_tcp: one "dial" per call, its call events
    counted. -t bounds its life should the driver vanish."""

    def __init__(self, workdir, sipp_port, rtp_ports, source_name, lifetime, call_seconds):
        if source_name not in BARESIP_SOURCES:
            raise RunFailed(f"no baresip source '{source_name}'")
        self.sipp_port = sipp_port
        confdir = os.path.join(workdir, "baresip")
        ctrl_port = write_baresip_config(confdir, source_name, rtp_ports, call_seconds)
        self.out = open(os.path.join(workdir, "baresip.out"), "w")
        self.proc = subprocess.Popen(["baresip", "-f", confdir, "-t", str(int(lifetime))],
                                     stdin=subprocess.DEVNULL, stdout=self.out,
                                     stderr=subprocess.STDOUT, cwd=workdir,
                                     env=dict(os.environ, HOME=workdir))
        self.pid = self.proc.pid
        self.events = []
        self.responses = queue.Queue()
        self.control = self._connect(ctrl_port)
        threading.Thread(target=self._read, daemon=True).start()

    def _connect(self, port, timeout=10):
        deadline = time.monotonic() + timeout
        while True:
            try:
                return socket.create_connection((LOCALHOST, port), timeout=5)
            except OSError:
                if self.proc.poll() is not None or time.monotonic() > deadline:
                    raise RunFailed("no baresip control port: " + self.tail())
                time.sleep(0.2)

    def _read(self):
        self.control.settimeout(None)
        buffer = b""
        while True:
            try:
                data = self.control.recv(65536)
            except OSError:
                return
            if not data:
                return
            bodies, buffer = split_netstrings(buffer + data)
            for body in bodies:
                message = json.loads(body)
                if message.get("event"):
                    self.events.append(message.get("type"))
                elif message.get("response"):
                    self.responses.put(message)

    def send(self, name, params=""):
        body = json.dumps({"command": name, "params": params, "token": "bench"}).encode()
        self.control.sendall(str(len(body)).encode() + b":" + body + b",")

    def command(self, name, params=""):
        self.send(name, params)
        try:
            reply = self.responses.get(timeout=10)
        except queue.Empty:
            raise RunFailed(f"baresip did not answer '{name}'")
        if not reply.get("ok"):
            raise RunFailed(f"baresip '{name}': {reply.get('data')}")

    def dial(self, number):
        self.command("dial", f"sip:{number}@{LOCALHOST}:{self.sipp_port}")

    def established(self):
        return self.events.count("CALL_ESTABLISHED")

    def ended(self):
        return self.events.count("CALL_CLOSED")

    def stop(self):
        """quit hangs every call up before baresip leaves."""
        try:
            self.send("quit")
        except OSError:
            pass
        try:
            self.proc.wait(timeout=STOP_TIMEOUT)
        except subprocess.TimeoutExpired:
            raise RunFailed("baresip did not leave after quit")

    def errors(self):
        return self.tail()

    def tail(self):
        self.out.flush()
        with open(self.out.name) as out:
            return out.read()[-1500:]

    def kill(self):
        self.control.close()
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        self.out.close()


# ---------------------------------------------------------------------------
# One run: one agent, N calls.

def place_calls(agent, sipp, calls):
    for _ in range(calls):
        agent.dial("100")
        time.sleep(DIAL_GAP)
    deadline = time.monotonic() + ESTABLISH_TIMEOUT
    while agent.established() < calls:
        if agent.ended() or time.monotonic() > deadline:
            raise RunFailed(f"{agent.established()} of {calls} calls up, {agent.ended()} ended: "
                            + agent.errors())
        time.sleep(0.1)
    sipp.wait_current(calls)


def check_calls_alive(agent, sipp, calls):
    if agent.ended() or agent.established() != calls:
        raise RunFailed(f"calls changed during the window: {agent.established()} up, "
                        f"{agent.ended()} ended")
    if sipp.current_calls() != calls or sipp.failed_calls():
        raise RunFailed(f"SIPp: {sipp.current_calls()} calls, {sipp.failed_calls()} failed")


def check_media(sipp, calls):
    tally = count_media(sipp.media_port, MEDIA_CHECK_SECONDS)
    if tally is None:
        return "not counted (no packet socket)"
    problems = tally.verdict(calls, MEDIA_CHECK_SECONDS)
    if problems:
        raise RunFailed("media: " + problems)
    return tally.summary(MEDIA_CHECK_SECONDS)


def start_agent(which, options, workdir, sipp, plan, lifetime):
    """"ours", or "baresip-SOURCE" with one of BARESIP_SOURCES."""
    if which == "ours":
        return OurAgent(options.cli, workdir, sipp.port, plan.ours)
    source = which.split("-", 1)[1]
    # aufile ends the call with its file: long enough for dialling, the
    # settle time, the window and the media check, and no longer, as each
    # call holds the whole file in memory.
    call_seconds = options.settle + options.window + MEDIA_CHECK_SECONDS + 20
    return Baresip(workdir, sipp.port, plan.baresip, source, lifetime, call_seconds)


def stop_cleanly(agent, sipp, calls):
    """Hangs the calls up by stopping the agent, then lets SIPp finish; what
    went wrong comes back as notes, as the figures were taken before."""
    notes = []
    try:
        agent.stop()
    except RunFailed as failure:
        notes.append(f"{failure} (killed)")
        agent.kill()
    try:
        sipp.wait_done(timeout=20)
    except RunFailed as failure:
        stats = sipp.latest_stats()
        notes.append(f"SIPp: {stats.get('SuccessfulCall(C)', '?')} of {calls} calls ended "
                     f"by BYE; {failure}")
    return notes


def run_once(which, calls, options, plan):
    lifetime = 2 * options.window + options.settle + 150
    with tempfile.TemporaryDirectory(prefix=f"percall_{which}_{calls}_") as workdir:
        media_port = sipp_media_port(*plan.sipp_media)
        sipp = Sipp(workdir, calls, media_port, lifetime)
        agent = None
        try:
            agent = start_agent(which, options, workdir, sipp, plan, lifetime)
            time.sleep(1)  # start-up work done before the idle window
            idle = measure_window(agent.pid, options.window)
            place_calls(agent, sipp, calls)
            time.sleep(options.settle)
            busy = measure_window(agent.pid, options.window)
            check_calls_alive(agent, sipp, calls)
            media = check_media(sipp, calls)
            notes = stop_cleanly(agent, sipp, calls)
            return {"agent": which, "calls": calls, "idle": idle, "busy": busy,
                    "media": media, "notes": notes}
        finally:
            if agent:
                agent.kill()
            sipp.kill()


# ---------------------------------------------------------------------------
# Figures and tables

def figures(run):
    """The per-call figures of one run; "net" ones have the idle process's
    CPU over an equal time taken off."""
    idle, busy, calls = run["idle"], run["busy"], run["calls"]
    call_seconds = calls * busy["wall"]
    idle_cpu = idle["cpu"] * busy["wall"] / idle["wall"]
    return {
        "cpu_pct": 100 * busy["cpu"] / busy["wall"],
        "idle_pct": 100 * idle["cpu"] / idle["wall"],
        "ms_per_call_s": 1000 * busy["cpu"] / call_seconds,
        "net_ms_per_call_s": 1000 * (busy["cpu"] - idle_cpu) / call_seconds,
        "ctx_per_call_s": busy["ctx"] / call_seconds,
        "idle_ctx_s": idle["ctx"] / idle["wall"],
        "rss_idle": idle["rss_kb"],
        "rss_calls": busy["rss_kb"],
        "kb_per_call": (busy["rss_kb"] - idle["rss_kb"]) / calls,
        "threads": f"{idle['threads']}->{busy['threads']}",
    }


COLUMNS = [  # heading, width, number format
    ("agent", 14, ""), ("N", 4, "d"), ("CPU%", 6, ".2f"), ("idle%", 6, ".2f"),
    ("ms/call-s", 9, ".3f"), ("net", 7, ".3f"), ("ctx/call-s", 10, ".1f"),
    ("idle ctx/s", 10, ".1f"), ("RSS idle", 8, "d"), ("RSS calls", 9, "d"),
    ("KB/call", 8, ".1f"), ("threads", 9, ""),
]


def table_line(values):
    cells = [f"{value:{layout}}".rjust(width) for (_, width, layout), value in zip(COLUMNS, values)]
    cells[0] = cells[0].strip().ljust(COLUMNS[0][1])
    return "  ".join(cells)


def print_table(runs):
    print("  ".join(name.rjust(width) if i else name.ljust(width)
                    for i, (name, width, _) in enumerate(COLUMNS)))
    for run in runs:
        f = figures(run)
        print(table_line([run["agent"], run["calls"], f["cpu_pct"], f["idle_pct"],
                          f["ms_per_call_s"], f["net_ms_per_call_s"], f["ctx_per_call_s"],
                          f["idle_ctx_s"], f["rss_idle"], f["rss_calls"], f["kb_per_call"],
                          f["threads"]]))
    print("CPU% and idle%: of one core with N calls and with none; ms/call-s: CPU ms per second")
    print("of one call (net: idle CPU taken off); ctx: voluntary + involuntary switches, all")
    print("threads; RSS in KB; KB/call: (RSS with calls - RSS idle) / N; threads: idle -> calls.")


def ratio(ours, theirs):
    return f"{ours / theirs:5.2f}" if theirs > 0 else "  n/a"


def print_ratios(runs):
    by_key = {(run["agent"], run["calls"]): figures(run) for run in runs}
    references = sorted({run["agent"] for run in runs} - {"ours"})
    for reference in references:
        print(f"\nours / {reference}:  CPU per call   net of idle   memory per call   (target: at most 2)")
        for calls in sorted({run["calls"] for run in runs}):
            ours, theirs = by_key.get(("ours", calls)), by_key.get((reference, calls))
            if not ours or not theirs:
                continue
            print(f"  N = {calls:<4}  {' ' * len(reference)}"
                  f"{ratio(ours['ms_per_call_s'], theirs['ms_per_call_s'])}"
                  f"          {ratio(ours['net_ms_per_call_s'], theirs['net_ms_per_call_s'])}"
                  f"          {ratio(ours['kb_per_call'], theirs['kb_per_call'])}")


def print_targets(runs):
    """The figures the agent is held to: threads added from 1 to the most
    calls, CPU per call against each baresip at the most calls."""
    ours = {run["calls"]: run for run in runs if run["agent"] == "ours"}
    if len(ours) >= 2:
        low, high = min(ours), max(ours)
        added = ours[high]["busy"]["threads"] - ours[low]["busy"]["threads"]
        print(f"\nthreads: {ours[low]['busy']['threads']} with {low} call(s), {ours[high]['busy']['threads']} "
              f"with {high}: {added:+d} (target at most +2)")
    if ours:
        # Every N, not only the most: the middle row shows where the cost
        # per call starts to fall, the target holds at the most calls.
        high = max(ours)
        for calls in sorted(ours):
            mine = figures(ours[calls])["ms_per_call_s"]
            for run in runs:
                if run["agent"] != "ours" and run["calls"] == calls:
                    theirs = figures(run)["ms_per_call_s"]
                    target = " (target at most 0.5)" if calls == high else ""
                    print(f"CPU per call at N = {calls}: ours / {run['agent']} = "
                          f"{ratio(mine, theirs).strip()}{target}")


def added_memory(runs):
    """KB per call added between consecutive call counts, per agent: the
    figure without what the first call of a process costs once (libraries,
    pools, first buffers). Each N runs in its own process."""
    growth = {(run["agent"], run["calls"]): run["busy"]["rss_kb"] - run["idle"]["rss_kb"]
              for run in runs}
    steps = {}
    for agent, _ in sorted(growth):
        counts = sorted(calls for who, calls in growth if who == agent)
        steps[agent] = [(low, high, (growth[(agent, high)] - growth[(agent, low)]) / (high - low))
                        for low, high in zip(counts, counts[1:])]
    return steps


def print_added_memory(runs):
    print("\nKB per added call (growth over idle from one N to the next):")
    for agent, steps in added_memory(runs).items():
        if steps:
            print(f"  {agent:<14} " + "   ".join(f"{low}->{high}: {kb:.1f}" for low, high, kb in steps))


def parse_arguments():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--cli", required=True, help="the softphone-cli program")
    parser.add_argument("--calls", default="1,10,100", help="comma-separated call counts")
    parser.add_argument("--agents", default="ours,baresip-ausine,baresip-aufile",
                        help="ours and baresip-SOURCE, SOURCE one of " + ", ".join(BARESIP_SOURCES))
    parser.add_argument("--window", type=float, default=20, help="measured seconds")
    parser.add_argument("--settle", type=float, default=2, help="seconds after the last call is up")
    parser.add_argument("--rtp-base", type=int, default=30000,
                        help="first RTP port; 1400 ports from there are used")
    return parser.parse_args()


def main():
    options = parse_arguments()
    # A TERM unwinds like Ctrl-C, so each run's cleanup stops its peers.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    for program in ("sipp", "baresip"):
        if shutil.which(program) is None:
            print(f"{program} is not installed")
            return 1
    plan = PortPlan(options.rtp_base)
    runs, failures = [], []
    for calls in (int(c) for c in options.calls.split(",")):
        for which in options.agents.split(","):
            try:
                run = run_once(which, calls, options, plan)
            except RunFailed as failure:
                failures.append(f"{which}, {calls} calls: {failure}")
                print(f"FAILED {failures[-1]}", flush=True)
                continue
            runs.append(run)
            print(f"{which}, {calls} calls: media {run['media']}", flush=True)
            for note in run["notes"]:
                print(f"  note: {note}", flush=True)
    print()
    print_table(runs)
    print_ratios(runs)
    print_targets(runs)
    print_added_memory(runs)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
