#!/usr/bin/env bash
# Cross-builds Tarnwick.dll and its Windows test programs with mingw-w64.
#
#   scripts/build-windows.sh            both architectures
#   scripts/build-windows.sh x64        only x64 (x86 likewise)
#
# Results: build-windows-x64/native/Tarnwick.dll and
# build-windows-x86/native/Tarnwick.dll (TARNWICK_WINDOWS_BUILD_DIR=<prefix>
# puts them in <prefix>-x64 and <prefix>-x86 instead), with the test programs
# in tests/windows/ of each build. Needs g++-mingw-w64-x86-64 and
# g++-mingw-w64-i686 (scripts/setup.sh installs them).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
prefix=${TARNWICK_WINDOWS_BUILD_DIR:-$root/build-windows}

archs=("$@")
[ ${#archs[@]} -gt 0 ] || archs=(x64 x86)

# Only what the Windows deliverable and its checks need: the Linux-only parts
# of the tree (tools, command-line tool, benchmarks) are not built here.
# The test suites only for x64, where they run under Wine: built for x86
# they would be compiled and never run (32-bit programs do not run on the
# hosts the tests run on), for most of the x86 build's time. The x86 build
# has the DLL and the two programs that bind to it.
targets=(Tarnwick tarnwick_catalogue_dump tarnwick_import_caller)

for arch in "${archs[@]}"; do
  case "$arch" in
    x64) toolchain=$root/cmake/toolchain-mingw-x86_64.cmake ;;
    x86) toolchain=$root/cmake/toolchain-mingw-i686.cmake ;;
    *) echo "build-windows: unknown architecture '$arch' (x64 or x86)" >&2; exit 2 ;;
  esac
  build=$prefix-$arch
  cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  arch_targets=("${targets[@]}")
  [ "$arch" = x64 ] && arch_targets+=(tarnwick_windows_tests tarnwick_unit_tests_win32)
  cmake --build "$build" -j2 --target "${arch_targets[@]}"
  echo "build-windows: $build/native/Tarnwick.dll"
done
