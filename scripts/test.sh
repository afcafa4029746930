#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine where needed, builds everything and runs
# every test: the native suite under CTest, then each step in scripts/ci.d/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh"
build=${TARNWICK_BUILD_DIR:-$root/build}
(cd "$build" && ctest --output-on-failure -j2)
for step in "$root"/scripts/ci.d/*.sh; do
  [ -e "$step" ] || continue
  echo "== $(basename "$step")"
  bash "$step"
done
echo "all test steps passed"
