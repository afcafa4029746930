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
#   scripts/bench.sh list            `tarnwick list` on 100k, 1M, 1M in 140k directories
#                                    and one folder of 200,000 files (onefolder)
#   scripts/bench.sh list medium onefolder ...
#
# The build lives in ${TARNWICK_BENCH_BUILD_DIR:-build-bench} (Release with
# debug info). Everything else the benchmark needs is in scripts/packages.d/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TARNWICK_BENCH_BUILD_DIR:-$root/build-bench}
case "$build" in /*) ;; *) build=$root/$build ;; esac
seed=${BENCH_SEED:-1}
cache=${TARNWICK_VOLUMES_CACHE:-$root/volumes-cache}

mode=load
if [ "${1:-}" = list ]; then
  mode=list
  shift
fi
sizes=("$@")
if [ ${#sizes[@]} -eq 0 ]; then
  if [ $mode = list ]; then sizes=(medium large field onefolder); else sizes=(small medium large field); fi
fi

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNWICK_BENCH_SEED="$seed" \
  -DTARNWICK_VOLUMES_CACHE="$cache" >/dev/null
if [ $mode = list ]; then
  cmake --build "$build" -j2 --target tarnwick tarnwick-list-bench
else
  cmake --build "$build" -j2 --target tarnwick-bench
fi

volumes=()
for size in "${sizes[@]}"; do
  shape=
  case "$size" in
    small) files=10000 ;;
    medium) files=100000 ;;
    large) files=1000000 ;;
    field) files=1000000 shape=-dirs140000 ;;
    onefolder)
      image=$cache/one-folder-200000.img
      [ -s "$image" ] || cmake --build "$build" --target tarnwick-bench-volume-one-folder
      volumes+=("$size=$image")
      continue ;;
    *) echo "bench.sh: unknown volume '$size' (small, medium, large, field, onefolder)" >&2; exit 2 ;;
  esac
  image=$cache/generated-$files$shape-seed$seed.img
  # Generated once and kept, even when the builder is rebuilt later: a
  # 1M-file volume takes several minutes. Delete the image to make it again.
  [ -s "$image" ] || cmake --build "$build" --target "tarnwick-bench-volume-$files$shape-$seed"
  volumes+=("$size=$image")
done

if [ $mode = list ]; then
  # fls takes minutes on the larger volumes: one run of each peer by default.
  # shellcheck disable=SC2086
  exec "$build/bench/tarnwick-list-bench" --tool "$build/cli/tarnwick" --rounds "${BENCH_ROUNDS:-5}" \
    --peer-rounds "${BENCH_PEER_ROUNDS:-1}" ${BENCH_ARGS:-} "${volumes[@]}"
fi
# shellcheck disable=SC2086
exec "$build/bench/tarnwick-bench" --rounds "${BENCH_ROUNDS:-5}" \
  ${BENCH_PEER_ROUNDS:+--peer-rounds "$BENCH_PEER_ROUNDS"} ${BENCH_ARGS:-} "${volumes[@]}"
