#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine where needed, builds everything and runs
# every test: the native suite under CTest, then each step in scripts/ci.d/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
source "$root/scripts/lib/shared-images.sh"
if [ ! -d "$shared_images" ]; then
  echo "test: no shared NTFS images at $shared_images: the tests on them are skipped"
fi
started=$SECONDS
bash "$root/scripts/build.sh"
build=${TARNWICK_BUILD_DIR:-$root/build}
(cd "$build" && ctest --output-on-failure -j2)
# Each step's time is printed, so that a slow one shows in CI's output.
echo "== build and tests: $((SECONDS - started)) s"
for step in "$root"/scripts/ci.d/*.sh; do
  [ -e "$step" ] || continue
  echo "== $(basename "$step")"
  started=$SECONDS
  bash "$step"
  echo "== $(basename "$step"): $((SECONDS - started)) s"
done
echo "all test steps passed"
