#!/usr/bin/env bash
# The unit, end-to-end and tool tests again, built with ThreadSanitizer: the
# listing reads the master file table on a second thread and `list` formats
# on two, and any data race between them fails its test.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${TARNWICK_TSAN_BUILD_DIR:-$root/build-tsan}

source "$root/scripts/lib/sanitizer-build.sh"
cmake -S "$root" -B "$build" "${sanitizer_build_flags[@]}" \
  -DCMAKE_CXX_FLAGS="-fsanitize=thread -Wno-maybe-uninitialized" -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread \
  -DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread >/dev/null
cmake --build "$build" -j2 --target tarnwick_tests tarnwick_e2e_tests tarnwick_cli_tests
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
"$build/tests/tarnwick_tests"
# The exports' loads start no thread (the contract tests hold them to it):
# their damaged-volume matrix, most of this program's time here, has nothing
# for this build to find and runs in the others.
"$build/tests/e2e/tarnwick_e2e_tests" --gtest_filter='-Volumes/DamagedVolume.*'
"$build/tests/cli/tarnwick_cli_tests"
