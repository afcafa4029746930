#!/usr/bin/env bash
# Smoke test of the listing's benchmark: builds it, the tool and the small
# (10k files) seeded volume, and runs one round over that volume without the
# peers. No timing is judged here; the step fails only when the benchmark
# cannot build, list or finish.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${TARNWICK_BUILD_DIR:-$root/build}
case "$build" in /*) ;; *) build=$root/$build ;; esac
if ! pkg-config --exists libntfs-3g 2>/dev/null; then
  echo "61-list-bench-smoke: libntfs-3g missing, no volume to run on; skipped"
  exit 0
fi
cmake -S "$root" -B "$build" >/dev/null
cmake --build "$build" -j2 --target tarnwick tarnwick-list-bench tarnwick-bench-volumes-small
seed=$(sed -n 's/^TARNWICK_BENCH_SEED:STRING=//p' "$build/CMakeCache.txt")
cache=$(sed -n 's/^TARNWICK_VOLUMES_CACHE:PATH=//p' "$build/CMakeCache.txt")
out=$(mktemp)
trap 'rm -f "$out"' EXIT
"$build/bench/tarnwick-list-bench" --tool "$build/cli/tarnwick" --rounds 1 --no-peers \
  "small=$cache/generated-10000-seed${seed:-1}.img" >"$out" 2>&1 \
  || { cat "$out"; echo "61-list-bench-smoke: tarnwick-list-bench failed" >&2; exit 1; }
cat "$out"
grep -q '^tarnwick list > /dev/null ' "$out" || { echo "61-list-bench-smoke: no tarnwick list line" >&2; exit 1; }
echo "61-list-bench-smoke: ok"
