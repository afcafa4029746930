#!/usr/bin/env bash
# Builds Corvane, the .NET wrapper, and runs its xunit tests against the native
# library of the Linux build (${TARNWICK_BUILD_DIR:-build}) and against NTFS
# volumes: the shared third-party images beside the checkout when present, and
# one made here with ntfs-3g. Safe to run again; exits non-zero on any failure.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${TARNWICK_BUILD_DIR:-$root/build}
case "$build" in /*) ;; *) build=$root/$build ;; esac

if ! command -v dotnet >/dev/null 2>&1; then
  echo "corvane: the .NET SDK (dotnet) is not installed; cannot build or test the wrapper" >&2
  exit 1
fi

# scripts/test.sh has normally built it already; this only catches a fresh or stale build dir.
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j2 --target Tarnwick >/dev/null

export DOTNET_CLI_TELEMETRY_OPTOUT=1 DOTNET_NOLOGO=1 DOTNET_SKIP_FIRST_TIME_EXPERIENCE=1
# Decompressed images are kept between runs; the made volume is rebuilt each time.
export CORVANE_SCRATCH="$build/corvane-volumes"
mkdir -p "$CORVANE_SCRATCH"
source "$root/scripts/lib/shared-images.sh"
if [ -d "$shared_images" ]; then
  TARNWICK_SHARED_IMAGES=$(cd "$shared_images" && pwd)
  export TARNWICK_SHARED_IMAGES
else
  echo "corvane: no shared NTFS images at $shared_images; only the made volume is used"
fi

# The volumes the project's own builder made in the build, when there are any.
if [ -d "$build/volumes" ]; then
  export CORVANE_BUILT_VOLUMES="$build/volumes"
fi

cd "$root/managed"
dotnet build Corvane/Corvane.csproj -c Release -nologo -v quiet
dotnet test Corvane.Tests/Corvane.Tests.csproj -c Release -nologo \
  -p:TarnwickNativeDir="$build/native" --logger "console;verbosity=normal"
