#!/usr/bin/env bash
# A generated benchmark volume of N files (default 100000), cached in
# volumes-cache/ (outside git) and built only once per size and seed. Prints
# the image path; the expected catalogue sits beside it (.expected.tsv).
#   usage: tools/volume-builder/bench-volume.sh [FILES] [SEED]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${TARNWICK_BUILD_DIR:-$root/build}
files=${1:-100000}
seed=${2:-1}
cache=${TARNWICK_VOLUMES_CACHE:-$root/volumes-cache}
builder=$build/tools/volume-builder/tarnwick-volume-builder
if [ ! -x "$builder" ]; then
  cmake -S "$root" -B "$build" >/dev/null
  cmake --build "$build" --target tarnwick-volume-builder -j2 >/dev/null
fi
image=$cache/generated-$files-seed$seed.img
mkdir -p "$cache"
if [ ! -s "$image" ]; then
  "$builder" generate "$image" --files "$files" --seed "$seed" \
    --expected "${image%.img}.expected.tsv" --verbose >&2
fi
echo "$image"
