#!/usr/bin/env bash
# Runs the whole suite N times (default 3) while every core is kept busy, and
# lists each test that failed in any run. Same build as scripts/test.sh
# (build/test, AddressSanitizer and UndefinedBehaviorSanitizer, Debug).
# A test that passes on a quiet machine but fails here waits for a deadline
# instead of for the event it needs.
set -euo pipefail
cd "$(dirname "$0")/.."

RUNS="${1:-3}"
if ! [[ "$RUNS" =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: $0 [RUNS]" >&2
  exit 2
fi

bash scripts/install-deps.sh
BUILD=build/test
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DSOFTPHONE_SANITIZE=ON -DSOFTPHONE_BENCH=OFF
cmake --build "$BUILD" -j "$(nproc)"
export QT_QPA_PLATFORM=offscreen

CORES="$(nproc)"
LOAD_PIDS=()
CTEST_PID=""
stop_load() {
  local pid
  if [ -n "$CTEST_PID" ]; then
    kill "$CTEST_PID" 2>/dev/null || true
    wait "$CTEST_PID" 2>/dev/null || true
    CTEST_PID=""
  fi
  for pid in "${LOAD_PIDS[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  for pid in "${LOAD_PIDS[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
  LOAD_PIDS=()
}
trap stop_load EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

if command -v stress-ng >/dev/null; then
  stress-ng --cpu "$CORES" --quiet &
  LOAD_PIDS+=("$!")
else
  echo "stress-ng not found: loading the cores with busy shells" >&2
  for _ in $(seq "$CORES"); do
    bash -c 'while :; do :; done' &
    LOAD_PIDS+=("$!")
  done
fi

declare -A FAILED_IN=()
for run in $(seq "$RUNS"); do
  echo "=== run $run of $RUNS under load on $CORES cores"
  rm -f "$BUILD/Testing/Temporary/LastTestsFailed.log"
  # In the background so that a signal to this script is taken at once
  # rather than after the whole run.
  ctest --test-dir "$BUILD" --output-on-failure -j "$CORES" --timeout 600 &
  CTEST_PID=$!
  wait "$CTEST_PID" || true
  CTEST_PID=""
  failed_log="$BUILD/Testing/Temporary/LastTestsFailed.log"
  if [ -f "$failed_log" ]; then
    # Lines read "NUMBER:NAME".
    while IFS=: read -r _ name; do
      [ -n "$name" ] && FAILED_IN["$name"]+=" $run"
    done <"$failed_log"
  fi
done

stop_load
if [ ${#FAILED_IN[@]} -eq 0 ]; then
  echo "=== every test passed in all $RUNS runs under load"
  exit 0
fi
echo "=== tests that failed under load (name: runs)"
for name in $(printf '%s\n' "${!FAILED_IN[@]}" | sort); do
  echo "$name:${FAILED_IN[$name]}"
done
exit 1
