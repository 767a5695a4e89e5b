#!/usr/bin/env bash
# Builds the benchmarks in Release mode and prints their figures.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
BUILD=build/bench
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSOFTPHONE_TESTS=OFF >/dev/null
cmake --build "$BUILD" -j "$(nproc)"
for b in "$BUILD"/bench/bench_*; do
  [ -x "$b" ] && "$b" "$@"
done
"$BUILD"/bench/latency_bench
"$BUILD"/bench/impaired_bench
# softphone-cli under 20,000 junk INVITEs: memory and calls left.
python3 bench/invite_flood.py "$BUILD"/tools/softphone-cli 20000
