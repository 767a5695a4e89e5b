#!/usr/bin/env python3
"""The cli cases' own plumbing, without an agent or a peer: what they take
for a line of the agent's standard error, when they take a port for
listened on, and how they read SIPp's message trace."""
import os
import socket
import subprocess
import sys
import time
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import cli_harness  # noqa: E402
from cli_harness import Agent, tcp_listening, udp_bound  # noqa: E402
from transaction_calls import sipp_trace  # noqa: E402


class StandardErrorLines(unittest.TestCase):
    """A line the agent is still writing is not a line yet."""

    def test_only_complete_lines(self):
        cases = [
            ("", []),
            ("error: no current call\n", ["error: no current call"]),
            ("error: bad\nerror: cannot say (pid 3", ["error: bad"]),
            ("error: cannot say (pid 3", []),
            ("a\n\nb\n", ["a", "", "b"]),
        ]
        for written, lines in cases:
            with self.subTest(written=written), tempfile.NamedTemporaryFile("w+") as stderr:
                agent = Agent.__new__(Agent)
                agent.stderr = stderr
                stderr.write(written)
                stderr.flush()
                self.assertEqual(agent.error_lines(), lines)


class PortTables(unittest.TestCase):
    def test_udp_port_seen_while_bound(self):
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as sock:
            sock.bind(("127.0.0.1", 0))
            port = sock.getsockname()[1]
            self.assertTrue(udp_bound(port))
        self.assertFalse(udp_bound(port))

    def test_tcp_port_seen_only_while_listening(self):
        with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as sock:
            sock.bind(("127.0.0.1", 0))
            port = sock.getsockname()[1]
            self.assertFalse(tcp_listening(port))
            sock.listen()
            self.assertTrue(tcp_listening(port))


def gone(pid):
    """True once the process has ended (a zombie counts as ended)."""
    try:
        with open(f"/proc/{pid}/stat") as stat:
            return stat.read().rsplit(")", 1)[1].split()[0] in ("Z", "X")
    except FileNotFoundError:
        return True


def wait_gone(pid, ceiling=10):
    deadline = time.monotonic() + ceiling
    while not gone(pid):
        if time.monotonic() > deadline:
            return False
        time.sleep(0.05)
    return True


def wait_group_gone(group, ceiling=10):
    deadline = time.monotonic() + ceiling
    while subprocess.run(["pgrep", "-g", str(group)], capture_output=True).returncode == 0:
        if time.monotonic() > deadline:
            return False
        time.sleep(0.05)
    return True


class ChildrenDieWithTheTest(unittest.TestCase):
    """A peer left running would hold its port for the next case."""

    def test_child_dies_when_the_test_process_is_killed(self):
        # A test process that spawns a child and is then killed outright,
        # with no chance to clean up.
        script = ("import sys, time; sys.path.insert(0, sys.argv[1]); import cli_harness; "
                  "print(cli_harness.spawn(['sleep', '60']).pid, flush=True); time.sleep(60)")
        test = subprocess.Popen([sys.executable, "-c", script, cli_harness.HERE], stdout=subprocess.PIPE, text=True)
        child = int(test.stdout.readline())
        try:
            test.kill()
            test.wait()
            self.assertTrue(wait_gone(child), "the child outlived the test process")
        finally:
            if not gone(child):
                os.kill(child, 9)

    def test_run_case_kills_what_a_case_left_running(self):
        # (case, program, own session): a child with its own session may
        # have children of its own, which must go too.
        table = [("leaves_one", ["sleep", "60"], False),
                 ("leaves_a_group", ["sh", "-c", "sleep 60 & wait"], True)]
        for name, program, session in table:
            started = []
            cases = {name: (lambda cli, workdir: started.append(
                cli_harness.spawn(program, start_new_session=session)), [])}
            with self.subTest(case=name):
                argv, stdout = sys.argv, sys.stdout
                sys.argv = ["harness_test", "cli", name]
                try:
                    with open(os.devnull, "w") as quiet:
                        sys.stdout = quiet
                        self.assertEqual(cli_harness.run_case(cases, "harness_", lambda file: False), 0)
                finally:
                    sys.argv, sys.stdout = argv, stdout
                self.assertIsNotNone(started[0].poll())
                if session:
                    # A killed grandchild stays listed until init has reaped it.
                    self.assertTrue(wait_group_gone(started[0].pid), "a grandchild outlived the case")


TRACE = (
    "----------------------------------------------- 2026-12-08 23:59:59.500000\n"
    "UDP message received [400] bytes :\n\n"
    "SIP/2.0 200 OK\r\nCSeq: 1 INVITE\r\n\r\n\n"
    "----------------------------------------------- 2026-12-09 00:00:31.750000\n"
    "UDP message sent (300 bytes):\n\n"
    "ACK sip:alice@127.0.0.1 SIP/2.0\r\n\r\n\n"
    "----------------------------------------------- 2026-12-09 00:00:32.000000\n"
    "UDP message received [350] bytes :\n\n"
    "BYE sip:sipp@127.0.0.1 SIP/2.0\r\n\r\n\n"
)


class SippTrace(unittest.TestCase):
    """Intervals come from SIPp's stamps, across midnight too."""

    def test_messages_in_order_with_their_times(self):
        with tempfile.NamedTemporaryFile("w", suffix=".log") as log:
            log.write(TRACE)
            log.flush()
            messages = sipp_trace(log.name)
        self.assertEqual([(way, first) for _, way, first in messages], [
            ("received", "SIP/2.0 200 OK"),
            ("sent", "ACK sip:alice@127.0.0.1 SIP/2.0"),
            ("received", "BYE sip:sipp@127.0.0.1 SIP/2.0"),
        ])
        self.assertAlmostEqual(messages[2][0] - messages[0][0], 32.5, places=3)


if __name__ == "__main__":
    unittest.main()
