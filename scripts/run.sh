#!/usr/bin/env bash
# Installs what is missing, builds the booth program and starts it. Arguments
# go to the program: --sip-server HOST[:PORT], --portal-url URL, --web-url URL.
# With no arguments and no provider in the stored settings, the booth runs
# against the local demonstration provider of scripts/demo.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
BUILD=build/release
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSOFTPHONE_TESTS=OFF -DSOFTPHONE_BENCH=OFF >/dev/null
cmake --build "$BUILD" -j "$(nproc)" --target softphone portal-sim
CONF="${XDG_CONFIG_HOME:-$HOME/.config}/Telvira Softphone.conf"
if [ $# -eq 0 ] && ! grep -qs '^sipserver=' "$CONF"; then
  exec bash scripts/demo.sh "$BUILD"
fi
PROGRAM="$BUILD/app/softphone"
# A window needs a display. Without one the program runs on a virtual X
# display when Xvfb is installed, else on Qt's offscreen platform (drawn, not
# seen); a platform chosen by the caller is left alone.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  if command -v xvfb-run >/dev/null 2>&1; then
    exec xvfb-run -a "$PROGRAM" "$@"
  fi
  export QT_QPA_PLATFORM=offscreen
fi
exec "$PROGRAM" "$@"
