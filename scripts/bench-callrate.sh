#!/usr/bin/env bash
# Call set-up rate against a SIPp answering peer on 127.0.0.1, then the
# signalling thread's cost per dispatched message.
#   scripts/bench-callrate.sh [CALLS [PARALLEL]]
set -euo pipefail
cd "$(dirname "$0")/.."
CALLS=${1:-500}
PARALLEL=${2:-4}
BUILD=${BUILD:-build/bench-callrate}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSOFTPHONE_TESTS=OFF >/dev/null
cmake --build "$BUILD" -j 2 --target callrate bench_engine_dispatch

WORK=$(mktemp -d)
SIPP_PID=
trap 'kill "$SIPP_PID" 2>/dev/null || true; rm -rf "$WORK"' EXIT
# The same calls over UDP and over one TCP connection (SIPp's t1). SIPp has
# no TLS here, so TLS is measured per message only.
for TRANSPORT in udp tcp; do
  PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  MODE=u1
  [ "$TRANSPORT" = tcp ] && MODE=t1
  sipp -sf bench/scenarios/uas_answer_bench.xml -i 127.0.0.1 -mi 127.0.0.1 -p "$PORT" -mp 26000 -t "$MODE" \
    -m "$CALLS" -nostdin -timeout 120 -timeout_error \
    -trace_err -error_file "$WORK/errors.log" > "$WORK/sipp.out" 2>&1 &
  SIPP_PID=$!
  sleep 0.5

  echo "== call set-up rate over $TRANSPORT: $CALLS calls, $PARALLEL at a time, SIPp answering on 127.0.0.1:$PORT"
  # The agent's own CPU (user + system) per call, SIPp's left out.
  /usr/bin/time -f "%U %S" -o "$WORK/cpu" \
    "$BUILD/bench/callrate" "$PORT" "$CALLS" "$PARALLEL" "$TRANSPORT" || echo "callrate: not every call succeeded"
  awk -v calls="$CALLS" '{ printf "agent CPU %.2f s, %.3f ms per call\n", $1 + $2, 1000 * ($1 + $2) / calls }' "$WORK/cpu"
  if wait "$SIPP_PID"; then
    echo "SIPp: all $CALLS calls passed its scenario"
  else
    echo "SIPp exited with $? (see its statistics below)"; tail -30 "$WORK/sipp.out"; cat "$WORK/errors.log" 2>/dev/null | head -20
  fi
done

echo "== signalling thread cost per dispatched message"
"$BUILD/bench/bench_engine_dispatch" --benchmark_min_time=0.2
