#!/usr/bin/env bash
# Builds the README's sample volume (tests/volumes/sample.vol: a realistic tree
# of a few thousand files) into the build tree, with its expected catalogue.
# Prints the image path. Builds the volume builder first when needed.
#   usage: scripts/make-sample-volume.sh [IMAGE]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TARNWICK_BUILD_DIR:-$root/build}
image=${1:-$build/volumes/sample.img}
builder=$build/tools/volume-builder/tarnwick-volume-builder
if [ ! -x "$builder" ]; then
  cmake -S "$root" -B "$build" >/dev/null
  cmake --build "$build" --target tarnwick-volume-builder -j2 >/dev/null
fi
mkdir -p "$(dirname "$image")"
desc=$root/tests/volumes/sample.vol
# Rebuild only when the description or the builder is newer than the image.
if [ ! -s "$image" ] || [ "$desc" -nt "$image" ] || [ "$builder" -nt "$image" ]; then
  "$builder" build "$desc" "$image" --expected "${image%.img}.expected.tsv" \
    --index-names "${image%.img}.index-names.tsv" >&2
fi
echo "$image"
