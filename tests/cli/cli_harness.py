"""What every cli case script shares: starting child programs that die with
the test (softphone-cli agents, SIPp, Kamailio, baresip), reading an agent's
events, waiting for a program to listen, and running one case in a scratch
folder.

Every child is started through `spawn`: the kernel kills it when this
process dies, however it dies (PR_SET_PDEATHSIG), and `run_case` kills any
child a case left running.
"""
import contextlib
import ctypes
import os
import queue
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
# Several worktrees on one machine may run these at once: an offset moves
# every fixed port of the cases (Kamailio's 5060 excepted).
PORT_OFFSET = int(os.environ.get("SOFTPHONE_TEST_PORT_OFFSET", "0"))
SIPP_PORT = 15160 + PORT_OFFSET

# How long a case waits for an event that must come. Only a fault reaches
# it: on a busy machine the sanitized agent can take seconds over one step,
# and each wait ends as soon as its event is there.
EVENT_CEILING = 30

_PR_SET_PDEATHSIG = 1
_children = []


class Failure(Exception):
    pass


def _die_with_parent():
    # Runs in the child between fork and exec. The signal comes when the
    # thread that forked ends, which is the main thread here.
    libc = ctypes.CDLL(None, use_errno=True)
    libc.prctl(_PR_SET_PDEATHSIG, signal.SIGKILL, 0, 0, 0)


def spawn(args, **popen_args):
    """subprocess.Popen for a case's child: killed with this process, and
    by run_case if the case leaves it running."""
    proc = subprocess.Popen(args, preexec_fn=_die_with_parent, **popen_args)
    _children.append(proc)
    return proc


def kill_children():
    """Kills every child spawned so far that still runs (its process group
    too when it was given a session of its own)."""
    while _children:
        proc = _children.pop()
        if proc.poll() is not None:
            continue
        try:
            if os.getpgid(proc.pid) == proc.pid:
                os.killpg(proc.pid, signal.SIGKILL)
            else:
                proc.kill()
        except ProcessLookupError:
            pass
        proc.wait()


def udp_bound(port):
    """True when some socket on this machine holds UDP `port`. Read from
    /proc rather than probed with a bind of ours, which could take the port
    from the program about to bind it."""
    return _port_listed("/proc/net/udp", port, None)


def tcp_listening(port):
    return _port_listed("/proc/net/tcp", port, "0A")


def _port_listed(table, port, state):
    with open(table) as rows:
        next(rows)
        for row in rows:
            fields = row.split()
            if int(fields[1].split(":")[1], 16) == port and (state is None or fields[3] == state):
                return True
    return False


def wait_ready(proc, what, ready, timeout=EVENT_CEILING):
    """Waits until `ready()` holds, so that nothing is sent to a program
    before it listens; fails when the program ends first or never gets there."""
    deadline = time.monotonic() + timeout
    while not ready():
        if proc.poll() is not None:
            return
        if time.monotonic() > deadline:
            raise Failure(f"{what} not listening after {timeout} s")
        time.sleep(0.05)


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


class Agent:
    """One child program driven line by line (softphone-cli, or a peer with
    a command prompt): commands in, one event per line out."""

    def __init__(self, cli, name, args, workdir, env=None):
        self.name = name
        self.stderr = open(os.path.join(workdir, name + ".err"), "w+")
        self.proc = spawn([cli] + args, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=self.stderr,
                          text=True, bufsize=1, env=env)
        self.events = queue.Queue()
        self.seen = []
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()
        if "--local-port" in args:
            port = int(args[args.index("--local-port") + 1])
            wait_ready(self.proc, f"{name} on port {port}", lambda: udp_bound(port))

    def _read(self):
        for line in self.proc.stdout:
            self.events.put(line.rstrip("\n"))
        self.events.put(None)

    def send(self, command):
        self.proc.stdin.write(command + "\n")
        self.proc.stdin.flush()

    def expect(self, prefix, timeout=EVENT_CEILING):
        """Waits for an event starting with prefix; returns the whole line."""
        deadline = time.monotonic() + timeout
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                # Shown now: the case's clean-up kills every program before
                # the failure reaches run_case.
                print_stuck_agents()
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

    def expect_exactly(self, prefix, wanted):
        """Waits for an event starting with prefix that must read `wanted`
        in full (e.g. "answered 1" that must say "answered 1 srtp")."""
        line = self.expect(prefix)
        if line != wanted:
            raise Failure(f"{self.name}: '{line}', not '{wanted}'")
        return line

    def finish(self, timeout=EVENT_CEILING):
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
        # Read through a handle of its own: seeking the one the child writes
        # through would move the child's offset too, and a line it wrote
        # meanwhile would land over the start of the file.
        with open(self.stderr.name, errors="replace") as log:
            return log.read()

    def error_lines(self):
        """The complete lines on standard error so far: the agent may be in
        the middle of writing one, whose head is not yet a line."""
        text = self.errors()
        return text[:text.rfind("\n") + 1].splitlines()

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()


def drain(agent, quiet=0.3):
    """The events an agent printed that nobody waited for: all of them once
    it has ended, else those until it is quiet for `quiet` seconds. The
    caller decides whether they join agent.seen."""
    lines = []
    while True:
        try:
            line = agent.events.get(timeout=quiet)
        except queue.Empty:
            return lines
        if line is None:
            return lines
        lines.append(line)


def sipp(scenario, workdir, extra=(), target=None, port=SIPP_PORT, name="sipp"):
    args = ["sipp", "-sf", os.path.join(HERE, "scenarios", scenario),
            "-i", "127.0.0.1", "-mi", "127.0.0.1", "-p", str(port),
            "-m", "1", "-nostdin", "-timeout", "30", "-timeout_error",
            "-trace_err", "-error_file", os.path.join(workdir, name + "_errors.log"),
            "-trace_msg", "-message_file", os.path.join(workdir, name + "_messages.log")]
    if port != SIPP_PORT:
        args += ["-mp", str(16000 + port % 100 * 10)]
    args += list(extra)
    if target:
        args.append(target)
    out = open(os.path.join(workdir, name + ".out"), "w")
    proc = spawn(args, stdout=out, stderr=subprocess.STDOUT, cwd=workdir)
    wait_ready(proc, f"{name} on port {port}", lambda: udp_bound(port))
    return proc


def wait_sipp(proc, workdir, timeout=20, name="sipp"):
    try:
        code = proc.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        proc.kill()
        raise Failure(f"{name} did not finish")
    if code != 0:
        log = ""
        for suffix in (".out", "_errors.log"):
            path = os.path.join(workdir, name + suffix)
            if os.path.exists(path):
                log += open(path).read()[-2000:]
        raise Failure(f"{name} exit code {code}: {log}")


def caller_args(port, user, server, extra=()):
    return ["--local-port", str(port), "--server", server, "--user", user,
            "--rtp-ports", f"{26000 + (port % 100) * 10}-{26009 + (port % 100) * 10}",
            "--mic", "null", "--speaker", "null"] + list(extra)


def stop_process(proc):
    proc.terminate()
    try:
        proc.wait(timeout=5)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()


def start_kamailio(workdir, config="kamailio.cfg", udp_port=5060, tcp_ports=(), defines=()):
    """Kamailio with `config` (beside this file) in the foreground, its log
    in workdir/kamailio.log and its control socket at workdir/ctl (read by
    kamailio_locations). `defines` are further -A settings (NAME or
    NAME="value"). Returns once it listens on `udp_port` and on every TCP
    port of `tcp_ports`."""
    wait_port_free(udp_port)
    run = os.path.join(workdir, "run")
    os.makedirs(run, exist_ok=True)
    log = open(os.path.join(workdir, "kamailio.log"), "w")
    args = ["kamailio", "-f", os.path.join(HERE, config), "-P", os.path.join(workdir, "kamailio.pid"),
            "-Y", run, "-w", workdir, "-m", "64", "-M", "8", "-DD", "-E",
            "-A", f'CTLSOCK="unix:{os.path.join(workdir, "ctl")}"']
    for define in defines:
        args += ["-A", define]
    proc = spawn(args, stdout=log, stderr=subprocess.STDOUT)
    ports = " and TCP ".join([f"UDP {udp_port}"] + [str(port) for port in tcp_ports])
    wait_ready(proc, f"Kamailio on {ports}",
               lambda: udp_bound(udp_port) and all(tcp_listening(port) for port in tcp_ports))
    if proc.poll() is not None:
        raise Failure("Kamailio did not start: " + open(os.path.join(workdir, "kamailio.log")).read()[-2000:])
    return proc


@contextlib.contextmanager
def running(proc):
    """Stops `proc` when the block ends, however it ends: a program with
    children of its own (Kamailio) is given the chance to end them."""
    try:
        yield proc
    finally:
        stop_process(proc)


def kamailio_locations(workdir):
    """The registrations Kamailio holds (started by start_kamailio)."""
    done = subprocess.run(["kamcmd", "-s", "unix:" + os.path.join(workdir, "ctl"), "ul.dump"],
                          capture_output=True, text=True, timeout=EVENT_CEILING)
    return done.stdout


def start_baresip(workdir, account="<sip:carol@127.0.0.1>;regint=0;answermode=auto;audio_codecs=pcmu,pcma",
                  modules=()):
    confdir = os.path.join(workdir, "baresip")
    os.makedirs(os.path.join(confdir, "rec"), exist_ok=True)
    config = open(os.path.join(HERE, "baresip.conf.in")).read().replace("@CONFDIR@", confdir)
    config += "".join(f"module {module}\n" for module in modules)
    open(os.path.join(confdir, "config"), "w").write(config)
    open(os.path.join(confdir, "accounts"), "w").write(account + "\n")
    env = dict(os.environ, HOME=workdir)
    out = open(os.path.join(workdir, "baresip.out"), "w")
    proc = spawn(["baresip", "-f", confdir], stdin=subprocess.DEVNULL,
                 stdout=out, stderr=subprocess.STDOUT, env=env)
    wait_ready(proc, "baresip", lambda: udp_bound(5190) and tcp_listening(5194))
    if proc.poll() is not None:
        raise Failure("baresip did not start: " + open(os.path.join(workdir, "baresip.out")).read()[-2000:])
    return proc


def print_stuck_agents():
    """Where each agent still running stands, thread by thread: an agent that
    stopped answering says why only this way."""
    if shutil.which("gdb") is None:
        return
    for proc in _children:
        if proc.poll() is None and "softphone" in os.path.basename(str(proc.args[0])):
            try:
                out = subprocess.run(["gdb", "-p", str(proc.pid), "-batch", "-ex", "thread apply all bt"],
                                     capture_output=True, text=True, timeout=60).stdout
            except subprocess.TimeoutExpired:
                continue
            stacks = [line for line in out.splitlines() if line.startswith(("Thread ", "#"))]
            print(f"--- threads of {proc.args[0]} (pid {proc.pid})\n" + "\n".join(stacks[:400]))


def run_case(cases, prefix, shows_log):
    """Runs the case named on the command line in a scratch folder; on a
    failure prints the logs `shows_log` picks. Returns the exit status CTest
    reads (77: a tool is missing, the case is skipped). No child outlives
    the case."""
    cli, name = sys.argv[1], sys.argv[2]
    run, tools = cases[name]
    for tool in tools:
        if shutil.which(tool) is None:
            print(f"skipped: {tool} not installed")
            return 77
    with tempfile.TemporaryDirectory(prefix=prefix + name + "_") as workdir:
        try:
            run(cli, workdir)
        except Failure as failure:
            print(f"FAILED {name}: {failure}")
            for file in sorted(os.listdir(workdir)):
                if shows_log(file):
                    print(f"--- {file}\n" + open(os.path.join(workdir, file), errors="replace").read()[-3000:])
            return 1
        finally:
            kill_children()
    print(f"passed {name}")
    return 0
