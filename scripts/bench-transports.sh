#!/usr/bin/env bash
# Call set-up rate and signalling CPU per call and per message over UDP, TCP
# and TLS: two agents in one process on 127.0.0.1, the callee's listener
# taking each transport in turn (over TLS with a certificate made here).
# The figures of one run are comparable with each other; on a shared machine
# compare the ratios, not the absolute numbers.
#   scripts/bench-transports.sh [CALLS [PARALLEL]]
set -euo pipefail
cd "$(dirname "$0")/.."
CALLS=${1:-500}
PARALLEL=${2:-4}
BUILD=${BUILD:-build/bench}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSOFTPHONE_TESTS=OFF >/dev/null
cmake --build "$BUILD" -j 2 --target callrate_pair

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 1 -subj "/CN=bench" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "subjectAltName=IP:127.0.0.1" \
  -keyout "$WORK/key.pem" -out "$WORK/cert.pem" 2>/dev/null

echo "== $CALLS calls, $PARALLEL at a time, two agents on 127.0.0.1 (CPU: both ends, media left out)"
"$BUILD/bench/callrate_pair" "$WORK/cert.pem" "$WORK/key.pem" "$CALLS" "$PARALLEL"
