#!/usr/bin/env bash
# bench_engine_dispatch of an older commit against this tree, both built
# from this tree's bench source (it builds against older trees too), run
# alternately with medians and ratios, plus callgrind's instructions per
# re-INVITE in each.
#   scripts/bench-dispatch-compare.sh [OLD_REV [ROUNDS]]      (default 9f6a744, 7)
# OLD_BUILD / NEW_BUILD name existing Release build folders to reuse (the old
# one built with this bench source copied in).
set -euo pipefail
cd "$(dirname "$0")/.."
OLD_REV=${1:-9f6a744}
ROUNDS=${2:-7}
NEW_BUILD=${NEW_BUILD:-build/bench-dispatch}
CONFIGURE=(-G Ninja -DCMAKE_BUILD_TYPE=Release -DSOFTPHONE_SANITIZE=OFF -DSOFTPHONE_BENCH=ON -DSOFTPHONE_TESTS=OFF)
command -v ccache >/dev/null && CONFIGURE+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)

OLD_TREE=
cleanup() { [ -n "$OLD_TREE" ] && git worktree remove --force "$OLD_TREE" >/dev/null 2>&1 || true; }
trap cleanup EXIT

if [ -z "${OLD_BUILD:-}" ]; then
  OLD_TREE=$(mktemp -d /tmp/dispatch-old.XXXXXX)
  git worktree add --detach "$OLD_TREE" "$OLD_REV" >/dev/null 2>&1
  cp bench/engine_dispatch_bench.cpp "$OLD_TREE/bench/"
  OLD_BUILD="$OLD_TREE/build"
  cmake -S "$OLD_TREE" -B "$OLD_BUILD" "${CONFIGURE[@]}" >/dev/null
  # Paths relative to the tree, so a later run's temporary tree hits the
  # compiler cache.
  CCACHE_BASEDIR="$OLD_TREE" cmake --build "$OLD_BUILD" -j 2 --target bench_engine_dispatch >/dev/null
fi
cmake -S . -B "$NEW_BUILD" "${CONFIGURE[@]}" >/dev/null
cmake --build "$NEW_BUILD" -j 2 --target bench_engine_dispatch >/dev/null

echo "== bench_engine_dispatch: $OLD_REV (old) against $(git rev-parse --short HEAD) (new), same bench source"
python3 bench/dispatch_compare.py "$OLD_BUILD/bench/bench_engine_dispatch" "$NEW_BUILD/bench/bench_engine_dispatch" \
  --rounds "$ROUNDS"
