#!/usr/bin/env bash
# The main job: sets up a fresh Debian 12 machine where needed, builds
# everything, makes the bundled sample volume (a realistic tree of a few
# thousand files written by ntfs-3g) and lists it with the tarnwick tool.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TARNWICK_BUILD_DIR:-$root/build}
bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh"
sample=$(bash "$root/scripts/make-sample-volume.sh")

echo "== tarnwick info $sample"
"$build/cli/tarnwick" info "$sample"
echo
listing=$(mktemp)
trap 'rm -f "$listing"' EXIT
"$build/cli/tarnwick" list "$sample" >"$listing"
echo "== tarnwick list $sample | head -15"
head -15 "$listing"
echo
# Every name carries its whole path: none may start with a parent the
# listing could not find.
unresolved=$(grep -c '<unknown' "$listing" || true)
names=$(($(wc -l <"$listing") - 1))
if [ "$unresolved" -ne 0 ]; then
  echo "main: $unresolved of $names paths lack their parents" >&2
  exit 1
fi
echo "== $names names, every one with its full path"
