#!/usr/bin/env bash
# The main job: sets up a fresh Debian 12 machine where needed, builds
# everything, makes the bundled sample volume (a realistic tree of a few
# thousand files written by ntfs-3g) and reads it with the tarnwick tool.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TARNWICK_BUILD_DIR:-$root/build}
bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh"
sample=$(bash "$root/scripts/make-sample-volume.sh")

echo "== tarnwick info $sample"
"$build/cli/tarnwick" info "$sample"
echo
echo "== tarnwick list $sample | head -15"
# head closes the pipe early; the tool's exit status there is not the job's.
{ "$build/cli/tarnwick" list "$sample" || true; } | head -15
