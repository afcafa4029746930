#!/usr/bin/env bash
# The Windows deliverable: builds Tarnwick.dll for x64 and x86 with mingw-w64,
# checks both export tables and imports, builds the x86 programs that bind to
# the DLL (hosts whose kernel runs no 32-bit programs cannot run them), and
# runs the x64 tests and the end-to-end raw-drive loads under Wine against the
# Linux build's catalogues.
# The packages come from scripts/packages.d/windows.txt.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
linux_build=${TARNWICK_BUILD_DIR:-build}
prefix=${TARNWICK_WINDOWS_BUILD_DIR:-$root/build-windows}

for tool in x86_64-w64-mingw32-g++-posix i686-w64-mingw32-g++-posix x86_64-w64-mingw32-objdump \
            i686-w64-mingw32-objdump wine wineserver; do
  command -v "$tool" >/dev/null || { echo "50-windows: $tool is missing; run scripts/setup.sh" >&2; exit 1; }
done

mkdir -p "$prefix-x64"
log=$prefix-x64/build-windows.log
if ! bash scripts/build-windows.sh x64 x86 >"$log" 2>&1; then
  grep -E 'error|Error' "$log" | head -30 >&2
  echo "50-windows: the Windows build failed (log: $log)" >&2
  exit 1
fi
grep '^build-windows:' "$log"
for arch in x64 x86; do
  bash tests/windows/check-exports.sh "$arch" "$prefix-$arch/native/Tarnwick.dll" \
    "$prefix-$arch/tests/windows/tarnwick_import_caller.exe"
done
for program in tarnwick_catalogue_dump tarnwick_import_caller; do
  [ -f "$prefix-x86/tests/windows/$program.exe" ] || { echo "50-windows: x86 $program did not build" >&2; exit 1; }
done

# The Linux peer of the Windows catalogue dump.
cmake --build "$linux_build" -j2 --target tarnwick_catalogue_dump >/dev/null
bash tests/windows/run-wine-tests.sh "$prefix-x64" "$linux_build"
