#!/usr/bin/env bash
# Smoke test of the benchmark: builds it and the small (10k files) seeded
# volume, and runs it twice over that volume. No timing is judged here; the
# step fails only when the benchmark cannot build, load or finish.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${TARNWICK_BUILD_DIR:-$root/build}
case "$build" in /*) ;; *) build=$root/$build ;; esac
if ! pkg-config --exists libntfs-3g 2>/dev/null; then
  echo "60-bench-smoke: libntfs-3g missing, no volume to run on; skipped"
  exit 0
fi
cmake -S "$root" -B "$build" >/dev/null
cmake --build "$build" -j2 --target tarnwick-bench tarnwick-bench-volumes-small
seed=$(sed -n 's/^TARNWICK_BENCH_SEED:STRING=//p' "$build/CMakeCache.txt")
cache=$(sed -n 's/^TARNWICK_VOLUMES_CACHE:PATH=//p' "$build/CMakeCache.txt")
out=$(mktemp)
trap 'rm -f "$out"' EXIT
"$build/bench/tarnwick-bench" --rounds 2 --peer-rounds 1 "small=$cache/generated-10000-seed${seed:-1}.img" >"$out" 2>&1 \
  || { cat "$out"; echo "60-bench-smoke: tarnwick-bench failed" >&2; exit 1; }
cat "$out"
grep -q '^LoadMft ' "$out" || { echo "60-bench-smoke: no LoadMft line" >&2; exit 1; }
grep -q '^physical ' "$out" || { echo "60-bench-smoke: no physical line" >&2; exit 1; }
echo "60-bench-smoke: ok"
