#!/usr/bin/env python3
"""bench_engine_dispatch of two builds side by side: the benchmarks both
builds have, run in alternating order (old, new, new, old, ...) so a busy
machine weighs on both alike, with the median of each figure and the ratio
new/old; then, under callgrind, the instructions of one TSipEngine::Receive
per re-INVITE in each build, which load does not move.

    bench/dispatch_compare.py OLD_BINARY NEW_BINARY [--rounds 7] [--no-callgrind]
"""
import argparse
import collections
import csv
import io
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile


def listed(binary):
    out = subprocess.run([binary, "--benchmark_list_tests"], check=True, capture_output=True, text=True).stdout
    return [line.strip() for line in out.splitlines() if line.strip()]


def run_once(binary, names):
    pattern = "^(" + "|".join(re.escape(n) for n in names) + ")$"
    out = subprocess.run([binary, "--benchmark_filter=" + pattern, "--benchmark_format=csv"],
                         check=True, capture_output=True, text=True).stdout
    start = out.index("name,")
    rows = {}
    for row in csv.DictReader(io.StringIO(out[start:])):
        if row.get("error_occurred") == "true":
            raise SystemExit(f"{binary}: {row['name']}: {row.get('error_message')}")
        scale = {"ns": 1e-3, "us": 1.0, "ms": 1e3}[row["time_unit"]]
        rows[row["name"]] = (float(row["real_time"]) * scale, float(row["cpu_time"]) * scale)
    return rows


def receive_instructions(binary, benchmark):
    """Inclusive instructions per TSipEngine::Receive call made by the
    benchmark's own loop (the set-up's calls are told apart by their caller)."""
    with tempfile.TemporaryDirectory() as work:
        out = os.path.join(work, "cg.out")
        subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=" + out,
                        "--toggle-collect=TSipEngine::Receive(*", binary,
                        "--benchmark_filter=^" + re.escape(benchmark) + "$", "--benchmark_min_time=0.2"],
                       check=True, capture_output=True)
        names, caller, callee, count, take = {}, "", "", 0, False
        totals = collections.defaultdict(lambda: [0, 0])
        with open(out) as data:
            for line in data:
                m = re.match(r"(c?fn)=\((\d+)\)(?: (.*))?", line.rstrip("\n"))
                if m:
                    kind, ident, name = m.groups()
                    if name:
                        names[ident] = name
                    if kind == "fn":
                        caller = names.get(ident, "")
                    else:
                        callee = names.get(ident, "")
                    continue
                m = re.match(r"calls=(\d+)", line)
                if m:
                    take = callee.startswith("TSipEngine::Receive(") and not caller.startswith("TSipEngine::Receive(")
                    count = int(m.group(1))
                    continue
                if take:
                    totals[caller][0] += count
                    totals[caller][1] += int(line.split()[1])
                    take = False
        loop = [v for k, v in totals.items() if benchmark.split("/")[0] + "(" in k]
        calls = sum(v[0] for v in loop)
        return sum(v[1] for v in loop) / calls if calls else float("nan")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("old")
    parser.add_argument("new")
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--no-callgrind", action="store_true")
    args = parser.parse_args()

    names = [n for n in listed(args.new) if n in set(listed(args.old))]
    runs = {"old": collections.defaultdict(list), "new": collections.defaultdict(list)}
    binaries = {"old": args.old, "new": args.new}
    for i in range(args.rounds):
        order = ("old", "new") if i % 2 == 0 else ("new", "old")
        for which in order:
            for name, figures in run_once(binaries[which], names).items():
                runs[which][name].append(figures)
        print(f"round {i + 1}/{args.rounds} done", file=sys.stderr)

    print(f"median of {args.rounds} alternating runs each, microseconds")
    print(f"{'benchmark':34} {'old real':>9} {'new real':>9} {'ratio':>6}   {'old cpu':>9} {'new cpu':>9} {'ratio':>6}")
    for name in names:
        old = runs["old"][name]
        new = runs["new"][name]
        o_real, n_real = statistics.median(r for r, _ in old), statistics.median(r for r, _ in new)
        o_cpu, n_cpu = statistics.median(c for _, c in old), statistics.median(c for _, c in new)
        print(f"{name:34} {o_real:9.2f} {n_real:9.2f} {n_real / o_real:6.2f}   {o_cpu:9.2f} {n_cpu:9.2f} {n_cpu / o_cpu:6.2f}")

    if args.no_callgrind or not shutil.which("valgrind"):
        return
    old_ir = receive_instructions(args.old, "BM_ReInviteOnConnectedCall")
    new_ir = receive_instructions(args.new, "BM_ReInviteOnConnectedCall")
    print(f"instructions per re-INVITE (callgrind, TSipEngine::Receive inclusive): "
          f"old {old_ir:.0f}, new {new_ir:.0f}, ratio {new_ir / old_ir:.3f}")


if __name__ == "__main__":
    main()
