#!/usr/bin/env bash
# The impaired-line table: a tone from one call to another through the
# impairment relay on 127.0.0.1, one row per line setting (loss, burst,
# jitter) with what the listener got: late and concealed frames, holes in the
# recording, the buffer's delay, R and MOS, for the adaptive receive path and
# the fixed one beside it. Run it before and after a change to the receive
# path: no row may come out worse.
#   scripts/bench-impaired.sh [SECONDS [JITTER [PHASE]]]   default 6 s per row,
#   every row, the sender 1 ms into the speaker's period (see the bench)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build/bench}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSOFTPHONE_TESTS=OFF >/dev/null
cmake --build "$BUILD" -j 2 --target impaired_bench
exec "$BUILD"/bench/impaired_bench "$@"
