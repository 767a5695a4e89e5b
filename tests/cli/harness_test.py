#!/usr/bin/env python3
"""The cli cases' own plumbing, without an agent or a peer: what they take
for a line of the agent's standard error, when they take a port for
listened on, and how they read SIPp's message trace."""
import os
import socket
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from cli_calls import Agent, tcp_listening, udp_bound  # noqa: E402
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
            with self.subTest(written=written), tempfile.TemporaryFile("w+") as stderr:
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
