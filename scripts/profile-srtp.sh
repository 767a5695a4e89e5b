#!/usr/bin/env bash
# What SRTP adds to a call, counted rather than timed (valgrind's callgrind,
# so the figures do not move with the machine's load):
#  - instructions per packet of one call with RTP and with SRTP, from two
#    runs of different lengths (their difference leaves start-up out);
#  - cache lines, code and data, that one protect and one unprotect touch
#    when the caches were flushed before the packet, as a call's packets
#    20 ms apart find them on a busy machine.
# valgrind hides the processor's SHA instructions, so SHA-1 is counted on
# OpenSSL's vector code, larger than what runs natively.
#   scripts/profile-srtp.sh
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build/bench}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSOFTPHONE_TESTS=OFF >/dev/null
cmake --build "$BUILD" -j 2 --target bench_srtp >/dev/null
BIN="$BUILD/bench/bench_srtp"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

collected() { grep -o 'Collected : [0-9 ]*' "$1" | awk '{print $3, $4, $5, $6, $7, $8, $9, $10, $11}'; }

SHORT=100
LONG=400
for kind in rtp srtp; do
  for frames in $SHORT $LONG; do
    valgrind --tool=callgrind --callgrind-out-file="$WORK/$kind.$frames.out" "$BIN" frames "$kind" "$frames" \
      >"$WORK/$kind.$frames.txt" 2>"$WORK/$kind.$frames.log"
    grep -q "$frames received" "$WORK/$kind.$frames.txt" || { cat "$WORK/$kind.$frames.txt"; exit 1; }
  done
done
echo "== instructions per packet (each end sends one and receives one every 20 ms)"
for kind in rtp srtp; do
  short=$(collected "$WORK/$kind.$SHORT.log" | cut -d' ' -f1)
  long=$(collected "$WORK/$kind.$LONG.log" | cut -d' ' -f1)
  # Two ends, each one packet out and one in per frame: four packets a frame.
  echo "$kind $short $long" | awk -v n=$((LONG - SHORT)) '{printf "%-5s %8.0f instructions per packet (send or receive)\n", $1, ($3 - $2) / n / 4}'
done

echo "== one protect and one unprotect with the caches flushed before each packet"
PACKETS=200
valgrind --tool=callgrind --cache-sim=yes --I1=1024,2,64 --D1=1024,2,64 --LL=262144,16,64 --collect-atstart=no \
  --toggle-collect='*TSrtpSession::*rotect*' --callgrind-out-file="$WORK/cold.out" \
  "$BIN" transform $PACKETS 1024 >/dev/null 2>"$WORK/cold.log"
# Events: Ir Dr Dw I1mr D1mr D1mw ILmr DLmr DLmw; with the last level
# flushed, its misses are the distinct lines touched.
collected "$WORK/cold.log" | awk -v n=$PACKETS \
  '{printf "%8.0f instructions, %6.1f code lines, %6.1f data lines\n", $1 / n, $7 / n, ($8 + $9) / n}'
