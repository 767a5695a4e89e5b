#!/usr/bin/env python3
"""The per-call cost driver's own logic, without starting any program:
control-port framing, loopback packet parsing, the media verdict and the
figures. Run: python3 tests/bench/percall_cost_test.py"""
import os
import struct
import sys
import tempfile
import unittest

sys.dont_write_bytecode = True  # nothing left behind in bench/
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "bench"))
import percall_cost as pc  # noqa: E402


def loopback_frame(source, destination, payload, protocol=17):
    udp = struct.pack("!HHHH", source, destination, 8 + len(payload), 0) + payload
    ip = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + len(udp), 0, 0, 64, protocol, 0,
                     bytes([127, 0, 0, 1]), bytes([127, 0, 0, 1]))
    return bytes(12) + b"\x08\x00" + ip + udp


def rtp(payload_type, payload_bytes=160):
    return bytes([0x80, payload_type]) + bytes(10) + bytes(payload_bytes)


class NetstringTest(unittest.TestCase):
    def test_whole_and_partial(self):
        bodies, rest = pc.split_netstrings(b'2:{},5:hello,7:{"a"')
        self.assertEqual(bodies, [b"{}", b"hello"])
        self.assertEqual(rest, b'7:{"a"')

    def test_body_without_its_comma_waits(self):
        bodies, rest = pc.split_netstrings(b"3:abc")
        self.assertEqual((bodies, rest), ([], b"3:abc"))


class ParseUdpTest(unittest.TestCase):
    def test_ports_and_payload(self):
        self.assertEqual(pc.parse_udp(loopback_frame(30000, 31200, b"xyz")), (30000, 31200, b"xyz"))

    def test_other_traffic_is_skipped(self):
        self.assertIsNone(pc.parse_udp(loopback_frame(1, 2, b"data", protocol=6)))
        self.assertIsNone(pc.parse_udp(bytes(12) + b"\x86\xdd" + bytes(60)))
        self.assertIsNone(pc.parse_udp(b"short"))


class MediaTallyTest(unittest.TestCase):
    def tally(self, flows, packets, echoed=None, payload_type=pc.PCMU):
        tally = pc.MediaTally(31200)
        for port in range(30000, 30000 + 2 * flows, 2):
            for _ in range(packets):
                tally.add(port, 31200, rtp(payload_type))
            for _ in range(packets if echoed is None else echoed):
                tally.add(31200, port, rtp(payload_type))
        return tally

    def test_every_call_at_full_rate_passes(self):
        tally = self.tally(flows=3, packets=100)
        self.assertEqual(tally.verdict(3, 2), "")
        self.assertEqual(tally.summary(2), "3 flows, >= 50 pkt/s out, >= 50 back")

    def test_missing_flow(self):
        self.assertIn("2 RTP flows for 3 calls", self.tally(flows=2, packets=100).verdict(3, 2))

    def test_echo_missing(self):
        self.assertIn("under 80 packets", self.tally(flows=1, packets=100, echoed=0).verdict(1, 2))

    def test_other_codec(self):
        self.assertIn("payload types [8]", self.tally(1, 100, payload_type=8).verdict(1, 2))

    def test_other_packet_time(self):
        tally = pc.MediaTally(31200)
        tally.add(30000, 31200, rtp(pc.PCMU, payload_bytes=240))
        self.assertIn("PCMU payload sizes [240]", tally.verdict(1, 0))

    def test_send_spacing_per_flow_between_neighbours(self):
        """Two flows interleaved, each 20 ms apart but for one 30 ms step; a
        packet the capture missed (sequence step of two, 40 ms) and the
        echoed packets are not timed."""
        tally = pc.MediaTally(31200)
        for port, offset in ((30000, 0.0), (30002, 0.005)):
            times = [offset + 0.02 * n for n in range(100)]
            times[50:] = [t + 0.01 for t in times[50:]]
            for sequence, stamp in enumerate(times):
                if sequence == 70:
                    continue
                header = bytes([0x80, 0, sequence >> 8, sequence & 0xFF]) + bytes(8)
                tally.add(port, 31200, header + bytes(160), stamp=stamp)
                tally.add(31200, port, header + bytes(160), stamp=stamp + 0.001)
        p50, p99, largest = tally.spacing_percentiles()
        self.assertEqual(len(tally.spacing_ms), 2 * 97)
        self.assertAlmostEqual(p50, 20.0)
        self.assertAlmostEqual(p99, 20.0)
        self.assertAlmostEqual(largest, 30.0)
        self.assertIn("send spacing p50 20.0 p99 20.0 max 30.0 ms", tally.summary(2))

    def test_unrelated_ports_ignored(self):
        tally = pc.MediaTally(31200)
        tally.add(5060, 5070, rtp(0))
        self.assertEqual(tally.summary(1), "no RTP")


class FiguresTest(unittest.TestCase):
    def test_per_call_figures(self):
        run = {"agent": "ours", "calls": 10, "notes": [],
               "idle": {"wall": 20.0, "cpu": 0.2, "ctx": 400, "rss_kb": 10000, "threads": 3},
               "busy": {"wall": 10.0, "cpu": 1.1, "ctx": 15000, "rss_kb": 12000, "threads": 33}}
        f = pc.figures(run)
        self.assertAlmostEqual(f["cpu_pct"], 11.0)
        self.assertAlmostEqual(f["idle_pct"], 1.0)
        self.assertAlmostEqual(f["ms_per_call_s"], 11.0)
        # The idle CPU is scaled to the busy window's length before it is taken off.
        self.assertAlmostEqual(f["net_ms_per_call_s"], 10.0)
        self.assertAlmostEqual(f["ctx_per_call_s"], 150.0)
        self.assertAlmostEqual(f["kb_per_call"], 200.0)
        self.assertEqual(f["threads"], "3->33")

    def test_added_memory_between_counts(self):
        def run(agent, calls, idle_kb, busy_kb):
            return {"agent": agent, "calls": calls, "idle": {"rss_kb": idle_kb},
                    "busy": {"rss_kb": busy_kb}}
        runs = [run("ours", 1, 100, 2600), run("ours", 10, 110, 3510), run("ours", 100, 90, 12490),
                run("other", 1, 50, 60)]
        self.assertEqual(pc.added_memory(runs),
                         {"ours": [(1, 10, 100.0), (10, 100, 100.0)], "other": []})

    def test_ratio_without_reference(self):
        self.assertEqual(pc.ratio(1.0, 0.0).strip(), "n/a")
        self.assertEqual(pc.ratio(3.0, 2.0).strip(), "1.50")


class ProcFiguresTest(unittest.TestCase):
    def test_own_process(self):
        pid = os.getpid()
        self.assertGreaterEqual(pc.read_cpu_seconds(pid), 0)
        self.assertGreater(pc.read_rss_kb(pid), 0)
        self.assertGreaterEqual(pc.count_threads(pid), 1)
        self.assertGreater(pc.read_context_switches(pid), 0)


class BaresipConfigTest(unittest.TestCase):
    def test_pcmu_only_and_ranges(self):
        with tempfile.TemporaryDirectory() as confdir:
            pc.write_baresip_config(confdir, "ausine", (30600, 31199), 30)
            config = open(os.path.join(confdir, "config")).read()
            account = open(os.path.join(confdir, "accounts")).read()
        self.assertIn("rtp_ports 30600-31199", config)
        self.assertIn("ausrc_srate 48000", config)
        self.assertIn("call_max_calls 400", config)
        self.assertIn("audio_codecs=pcmu;ptime=20", account)

    def test_aufile_gets_a_silent_file_of_the_call_length(self):
        with tempfile.TemporaryDirectory() as confdir:
            pc.write_baresip_config(confdir, "aufile", (30600, 31199), 3)
            size = os.path.getsize(os.path.join(confdir, "silence.wav"))
        self.assertEqual(size, 44 + 3 * 8000 * 2)


if __name__ == "__main__":
    unittest.main()
