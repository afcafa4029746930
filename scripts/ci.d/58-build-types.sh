#!/usr/bin/env bash
# The product in every build type but the one the tests use: each must build
# with warnings as errors, since optimizers at -O0, -Os and -O3 each warn of
# their own things. The library and the tool only, without tests.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
for type in Debug Release MinSizeRel; do
  build=${TARNWICK_BUILD_TYPES_DIR:-$root/build-type}-$type
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE="$type" -DTARNWICK_WARNINGS_AS_ERRORS=ON \
    -DTARNWICK_BUILD_TESTS=OFF -DTARNWICK_BUILD_BENCH=OFF >/dev/null
  cmake --build "$build" -j2 >/dev/null
  "$build/cli/tarnwick" --help >/dev/null
  echo "58-build-types: $type builds"
done
