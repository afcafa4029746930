#!/usr/bin/env bash
# The whole test suite again, built with AddressSanitizer and
# UndefinedBehaviorSanitizer (leak checks on) in a build dir of its own.
# Any out-of-bounds access, leak or undefined operation fails its test.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${TARNWICK_SANITIZE_BUILD_DIR:-$root/build-hostile-asan}

# Warnings are the normal build's business: gcc reports false "maybe
# uninitialized" inside the standard library once ASan instruments it.
# The benchmarks run no test.
source "$root/scripts/lib/sanitizer-build.sh"
cmake -S "$root" -B "$build" "${sanitizer_build_flags[@]}" -DTARNWICK_SANITIZE=ON -DTARNWICK_BUILD_BENCH=OFF \
  -DCMAKE_CXX_FLAGS=-Wno-maybe-uninitialized >/dev/null
cmake --build "$build" -j2
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1
export LSAN_OPTIONS=suppressions=$root/scripts/sanitizers/lsan-suppressions.txt
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd "$build" && ctest --output-on-failure -j2 --timeout 600)
