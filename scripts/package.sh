#!/usr/bin/env bash
# Makes the release bundle in dist/:
#   tarnwick-<version>-linux-x86_64.tar.gz  library, header, CMake and pkg-config
#                                           files, the tarnwick tool, its man page
#                                           and bash completion
#   tarnwick-<version>-windows.zip          stripped Tarnwick.dll for x64 and x86
#                                           with version resources, .def files,
#                                           mingw import libraries, the header
#   Corvane.<version>.nupkg                 the .NET wrapper with the native library
#                                           for linux-x64 and win-x64
#   SHA256SUMS
# Release builds in build-package-* (TARNWICK_PACKAGE_BUILD_DIR=<prefix> moves
# them). Needs what scripts/setup.sh installs, and the .NET SDK. The tarball
# and the zip are the same bytes for the same commit: every file in them gets
# the commit's time.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
builds=${TARNWICK_PACKAGE_BUILD_DIR:-$root/build-package}
dist=$root/dist

header_number() { sed -n "s/^#define TARNWICK_VERSION_$1 \([0-9]*\)$/\1/p" "$root/include/tarnwick.h"; }
version="$(header_number MAJOR).$(header_number MINOR).$(header_number PATCH)"
SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct 2>/dev/null || date +%s)
export SOURCE_DATE_EPOCH

for tool in cmake zip x86_64-w64-mingw32-strip i686-w64-mingw32-strip dotnet sha256sum; do
  command -v "$tool" >/dev/null || { echo "package: $tool is missing (scripts/setup.sh installs it)" >&2; exit 1; }
done
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
# Only the library and, on Linux, the tool: no tests, volumes or benchmarks.
only_the_product=(-DCMAKE_BUILD_TYPE=Release -DTARNWICK_BUILD_TESTS=OFF -DTARNWICK_BUILD_BENCH=OFF "${launcher[@]}")

rm -rf "$dist"
mkdir -p "$dist"
stage=$builds-stage
rm -rf "$stage"
mkdir -p "$stage"

# Files in the archives carry the commit's time, in name order, without owners.
pin_times() { find "$1" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +; }

# Linux: the installed tree, stripped.
linux=tarnwick-$version-linux-x86_64
cmake -S "$root" -B "$builds-linux" "${only_the_product[@]}" -DTARNWICK_BUILD_TOOL=ON >/dev/null
cmake --build "$builds-linux" -j2
cmake --install "$builds-linux" --prefix "$stage/$linux" --strip >/dev/null
pin_times "$stage/$linux"
tar -C "$stage" --sort=name --owner=0 --group=0 --numeric-owner --mtime="@$SOURCE_DATE_EPOCH" -cf - "$linux" \
  | gzip -9n >"$dist/$linux.tar.gz"

# Windows: both DLLs, each with its .def and mingw import library.
windows=tarnwick-$version-windows
mkdir -p "$stage/$windows/include"
cp "$root/include/tarnwick.h" "$stage/$windows/include/"
for arch in x64 x86; do
  case $arch in
    x64) toolchain=toolchain-mingw-x86_64.cmake; triple=x86_64-w64-mingw32 ;;
    x86) toolchain=toolchain-mingw-i686.cmake; triple=i686-w64-mingw32 ;;
  esac
  build=$builds-windows-$arch
  cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain" "${only_the_product[@]}" >/dev/null
  cmake --build "$build" -j2 --target Tarnwick
  out=$stage/$windows/$arch
  mkdir -p "$out"
  "$triple-strip" -o "$out/Tarnwick.dll" "$build/native/Tarnwick.dll"
  cp "$build/native/libTarnwick.dll.a" "$out/"
  strings -el "$out/Tarnwick.dll" | grep -qx "$version" || { echo "package: $arch Tarnwick.dll has no version resource $version" >&2; exit 1; }
done
cp "$root/native/exports/tarnwick-x64.def" "$stage/$windows/x64/Tarnwick.def"
# The x86 export table as Microsoft's LIB reads it: the decorated names alone.
awk 'BEGIN { print "; Export table of the 32-bit Tarnwick.dll: stdcall decorated names and ordinals." }
     /^;/ { next }
     /^ +_[A-Za-z]+@[0-9]+ +=/ { printf "    %-18s %s\n", $1, $4; next }
     { print }' \
  "$root/native/exports/tarnwick-x86.def" >"$stage/$windows/x86/Tarnwick.def"
cat >"$stage/$windows/README.txt" <<NOTE
Tarnwick $version for Windows: Tarnwick.dll for x64 and x86.

Each folder holds the DLL (stripped; the C and C++ runtimes are linked in, so
it needs nothing beside it), its export definitions Tarnwick.def, and the
import library libTarnwick.dll.a for mingw-w64 (link with -lTarnwick).
include/tarnwick.h declares the five exports and the record layouts.

With Microsoft's tools, make the import library from the .def, in a
Developer Command Prompt of the matching architecture:

    lib /def:x64\\Tarnwick.def /machine:x64 /out:x64\\Tarnwick.lib
    lib /def:x86\\Tarnwick.def /machine:x86 /out:x86\\Tarnwick.lib

and link Tarnwick.lib. In x86 the exports carry their stdcall decorated names
(_LoadMft@8 and so on), which the header's declarations ask for. Without an
import library, LoadLibraryW("Tarnwick.dll") and GetProcAddress with "LoadMft"
(x64) or "_LoadMft@8" (x86) reach the same functions.
NOTE
sed -i 's/$/\r/' "$stage/$windows/README.txt" "$stage/$windows/x64/Tarnwick.def" "$stage/$windows/x86/Tarnwick.def"
pin_times "$stage/$windows"
(cd "$stage" && find "$windows" -print | LC_ALL=C sort | zip -X -q -9 "$dist/$windows.zip" -@)

# NuGet: Corvane with the Linux and the x64 Windows library.
repository=()
url=$(git -C "$root" remote get-url origin 2>/dev/null || true)
[ -n "$url" ] && repository+=(-p:TarnwickRepositoryUrl="$url")
commit=$(git -C "$root" rev-parse HEAD 2>/dev/null || true)
[ -n "$commit" ] && repository+=(-p:TarnwickRepositoryCommit="$commit")
export DOTNET_CLI_TELEMETRY_OPTOUT=1 DOTNET_NOLOGO=1 DOTNET_SKIP_FIRST_TIME_EXPERIENCE=1
dotnet pack "$root/managed/Corvane/Corvane.csproj" -c Release -o "$dist" -nologo -v quiet \
  -p:ContinuousIntegrationBuild=true "${repository[@]}" \
  -p:TarnwickNativeLinuxX64="$stage/$linux/lib/libTarnwick.so" \
  -p:TarnwickNativeWinX64="$stage/$windows/x64/Tarnwick.dll"

(cd "$dist" && sha256sum -- *.tar.gz *.zip *.nupkg >SHA256SUMS)
echo "package: $dist"
(cd "$dist" && ls -l)
