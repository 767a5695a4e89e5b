#!/usr/bin/env python3
"""TSipMessage's parse time over sofia-sip's, per message, as the median of
several runs of bench_sip_parse (both parsers run in each, so a busy machine
weighs on both alike).

Usage: bench/parse_ratio.py BUILD/bench/bench_sip_parse [RUNS]
"""
import json
import statistics
import subprocess
import sys

binary = sys.argv[1]
runs = int(sys.argv[2]) if len(sys.argv) > 2 else 7
ratios = {}
ours = {}
for _ in range(runs):
    out = subprocess.run([binary, "--benchmark_format=json", "--benchmark_min_time=0.2",
                          "--benchmark_filter=TSipMessage|Sofia"], capture_output=True, text=True).stdout
    cpu = {b["name"]: b["cpu_time"] for b in json.loads(out)["benchmarks"]}
    if "BM_Sofia/0" not in cpu:
        sys.exit("bench_sip_parse was built without sofia-sip: nothing to compare with")
    for i, label in enumerate(["INVITE+SDP", "401", "200 REGISTER"]):
        ratios.setdefault(label, []).append(cpu[f"BM_TSipMessage/{i}"] / cpu[f"BM_Sofia/{i}"])
        ours.setdefault(label, []).append(cpu[f"BM_TSipMessage/{i}"])
for label, r in ratios.items():
    print(f"{label:14s} median {statistics.median(r):.3f}x sofia  (runs {' '.join(f'{x:.2f}' for x in r)})  ours {statistics.median(ours[label]):.0f} ns")
