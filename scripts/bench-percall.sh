#!/usr/bin/env bash
# CPU, context switches and memory per call of softphone-cli beside baresip,
# both placing 1, 10 and 100 G.711 calls to a SIPp peer on 127.0.0.1 that
# echoes their RTP; also the spacing of each agent's packets on the wire
# (p50, p99, max), the threads added from 1 to 100 calls and the CPU per call
# against baresip at 100 calls. Options go to bench/percall_cost.py, e.g.
#   scripts/bench-percall.sh --calls 1,10,100 --window 20
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build/bench-percall}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSOFTPHONE_TESTS=OFF >/dev/null
cmake --build "$BUILD" -j 2 --target softphone-cli

# The driver stops what it started when it ends or is interrupted, and each
# peer has its own time bound besides.
exec python3 bench/percall_cost.py --cli "$BUILD/tools/softphone-cli" "$@"
