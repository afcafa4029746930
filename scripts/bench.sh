#!/usr/bin/env bash
# Builds tarnwick-bench and the seeded benchmark volumes (once; they are kept
# in volumes-cache/, outside git) and runs the benchmark on them side by side.
#
#   scripts/bench.sh                 10k, 100k and 1M files, and 1M in 140k directories, 5 rounds
#   scripts/bench.sh small           the 10k volume only
#   scripts/bench.sh small medium    any of small (10k), medium (100k), large (1M),
#                                    field (1M in 140k directories, the shape of a
#                                    system volume; the others have 60 files a directory)
#   BENCH_ROUNDS=N BENCH_PEER_ROUNDS=N BENCH_ARGS="--no-peers --no-memory" scripts/bench.sh ...
#
# The build lives in ${TARNWICK_BENCH_BUILD_DIR:-build-bench} (Release with
# debug info). Everything else the benchmark needs is in scripts/packages.d/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TARNWICK_BENCH_BUILD_DIR:-$root/build-bench}
case "$build" in /*) ;; *) build=$root/$build ;; esac
seed=${BENCH_SEED:-1}
cache=${TARNWICK_VOLUMES_CACHE:-$root/volumes-cache}

sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(small medium large field)

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNWICK_BENCH_SEED="$seed" \
  -DTARNWICK_VOLUMES_CACHE="$cache" >/dev/null
cmake --build "$build" -j2 --target tarnwick-bench

volumes=()
for size in "${sizes[@]}"; do
  shape=
  case "$size" in
    small) files=10000 ;;
    medium) files=100000 ;;
    large) files=1000000 ;;
    field) files=1000000 shape=-dirs140000 ;;
    *) echo "bench.sh: unknown volume '$size' (small, medium, large, field)" >&2; exit 2 ;;
  esac
  image=$cache/generated-$files$shape-seed$seed.img
  # Generated once and kept, even when the builder is rebuilt later: a
  # 1M-file volume takes several minutes. Delete the image to make it again.
  [ -s "$image" ] || cmake --build "$build" --target "tarnwick-bench-volume-$files$shape-$seed"
  volumes+=("$size=$image")
done

# shellcheck disable=SC2086
exec "$build/bench/tarnwick-bench" --rounds "${BENCH_ROUNDS:-5}" \
  ${BENCH_PEER_ROUNDS:+--peer-rounds "$BENCH_PEER_ROUNDS"} ${BENCH_ARGS:-} "${volumes[@]}"
