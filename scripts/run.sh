#!/usr/bin/env bash
# Installs what is missing, builds the program and runs it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
BUILD=build/release
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSOFTPHONE_TESTS=OFF -DSOFTPHONE_BENCH=OFF >/dev/null
cmake --build "$BUILD" -j "$(nproc)"
# Until the booth program exists the program is the message inspector: it
# parses a SIP message (a file, or "-" for standard input) and prints its fields.
exec "$BUILD/tools/sipparse" "${1:-tools/samples/invite.txt}"
