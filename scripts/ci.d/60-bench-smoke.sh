#!/usr/bin/env bash
# Smoke test of both benchmarks: builds them, the tool and the small (10k
# files) seeded volume, then runs the load's benchmark twice and the
# listing's once (without the peers) over that volume. No timing is judged
# here; the step fails only when a benchmark cannot build, run or finish.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${TARNWICK_BUILD_DIR:-$root/build}
case "$build" in /*) ;; *) build=$root/$build ;; esac
if ! pkg-config --exists libntfs-3g 2>/dev/null; then
  echo "60-bench-smoke: libntfs-3g missing, no volume to run on; skipped"
  exit 0
fi
cmake -S "$root" -B "$build" >/dev/null
cmake --build "$build" -j2 --target tarnwick tarnwick-bench tarnwick-list-bench tarnwick-bench-volumes-small
seed=$(sed -n 's/^TARNWICK_BENCH_SEED:STRING=//p' "$build/CMakeCache.txt")
cache=$(sed -n 's/^TARNWICK_VOLUMES_CACHE:PATH=//p' "$build/CMakeCache.txt")
volume="small=$cache/generated-10000-seed${seed:-1}.img"
out=$(mktemp)
trap 'rm -f "$out"' EXIT

# smoke NAME LINE... -- COMMAND...: runs COMMAND, shows what it printed, and
# fails unless it succeeded and printed a line starting with each LINE.
smoke() {
  local name=$1 lines=()
  shift
  while [ "$1" != -- ]; do lines+=("$1"); shift; done
  shift
  "$@" >"$out" 2>&1 || { cat "$out"; echo "60-bench-smoke: $name failed" >&2; exit 1; }
  cat "$out"
  for line in "${lines[@]}"; do
    grep -q "^$line" "$out" || { echo "60-bench-smoke: $name printed no '$line' line" >&2; exit 1; }
  done
}
smoke tarnwick-bench 'LoadMft ' 'physical ' -- "$build/bench/tarnwick-bench" --rounds 2 --peer-rounds 1 "$volume"
smoke tarnwick-list-bench 'tarnwick list > /dev/null ' -- \
  "$build/bench/tarnwick-list-bench" --tool "$build/cli/tarnwick" --rounds 1 --no-peers "$volume"
echo "60-bench-smoke: ok"
