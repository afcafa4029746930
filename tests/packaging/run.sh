#!/usr/bin/env bash
# The packages as their users get them: installs the build into a scratch
# prefix and checks what lies there (soname, version, man page, completion,
# pkg-config); builds a small C program against it with find_package, with
# pkg-config and with add_subdirectory, and runs each on a test volume; packs
# Corvane and runs a console app that restores it from a local feed.
#
#   tests/packaging/run.sh [BUILD_DIR]     (default: $TARNWICK_BUILD_DIR or build)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-${TARNWICK_BUILD_DIR:-$root/build}}
case "$build" in /*) ;; *) build=$root/$build ;; esac
work=$build/packaging-test
rm -rf "$work"
mkdir -p "$work"

fail() { echo "packaging: $*" >&2; exit 1; }
header_number() { sed -n "s/^#define TARNWICK_VERSION_$1 \([0-9]*\)$/\1/p" "$root/include/tarnwick.h"; }
version="$(header_number MAJOR).$(header_number MINOR).$(header_number PATCH)"

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" "${launcher[@]}" >/dev/null
cmake --build "$build" -j2 --target Tarnwick tarnwick tarnwick-man tarnwick-volume-names >/dev/null
image=$build/volumes/names.img
expected=$(awk -F'\t' '$1 == "# entries" { print $2 }' "$build/volumes/names.expected.tsv")
[ -n "$expected" ] || fail "no expected count for $image"

# The installed tree.
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
soname=$(readelf -d "$prefix/lib/libTarnwick.so.$version" | sed -n 's/.*soname: \[\(.*\)\]/\1/p')
[ "$soname" = "libTarnwick.so.$(header_number MAJOR)" ] || fail "soname '$soname'"
[ "$("$prefix/bin/tarnwick" --version)" = "tarnwick $version" ] || fail "tarnwick --version: $("$prefix/bin/tarnwick" --version)"
# Where the tool looks for the library: beside itself only, never in the
# working directory (an empty entry) or a folder of the build machine.
runpath=$(readelf -d "$prefix/bin/tarnwick" | sed -n 's/.*runpath: \[\(.*\)\]/\1/p')
case ":$runpath:" in *::* | *:/*) fail "tarnwick's library search path '$runpath'" ;; esac
runpath=$(readelf -d "$build/cli/tarnwick" | sed -n 's/.*runpath: \[\(.*\)\]/\1/p')
case ":$runpath:" in *::*) fail "the built tarnwick searches the working directory: '$runpath'" ;; esac
[ "$(PKG_CONFIG_PATH=$prefix/lib/pkgconfig pkg-config --modversion tarnwick)" = "$version" ] || fail "pkg-config version"
man_warnings=$(groff -man -ww -z "$prefix/share/man/man1/tarnwick.1" 2>&1)
[ -z "$man_warnings" ] || fail "man page: $man_warnings"
grep -q '^\.SH SYNOPSIS' "$prefix/share/man/man1/tarnwick.1" || fail "man page without a synopsis"
completions=$(PATH=$prefix/bin:$PATH bash -c '
  source "$1"
  COMP_WORDS=(tarnwick ""); COMP_CWORD=1; _tarnwick; echo "${COMPREPLY[*]}"
  COMP_WORDS=(tarnwick list --format ""); COMP_CWORD=3; _tarnwick; echo "${COMPREPLY[*]}"
  COMP_WORDS=(tarnwick --v); COMP_CWORD=1; _tarnwick; echo "${COMPREPLY[*]}"' _ \
  "$prefix/share/bash-completion/completions/tarnwick")
for word in list info csv jsonl --version; do
  grep -qw -- "$word" <<<"$completions" || fail "bash completion offers no '$word': $completions"
done
echo "packaging: installed tree of $version: soname $soname, tool, man page, completion, pkg-config"

# Three ways to build against it; each program loads the test volume.
for use in find_package pkg-config subdirectory; do
  options=(-DUSE=$use "${launcher[@]}")
  case $use in
    find_package) options+=(-DCMAKE_PREFIX_PATH="$prefix") ;;
    subdirectory) options+=(-DTARNWICK_SOURCE="$root" -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON) ;;
  esac
  out=$work/consumer-$use
  PKG_CONFIG_PATH=$prefix/lib/pkgconfig cmake -S "$root/tests/packaging/consumer" -B "$out" "${options[@]}" \
    >"$out.log" 2>&1 || { cat "$out.log" >&2; fail "$use: configure"; }
  cmake --build "$out" -j2 >>"$out.log" 2>&1 || { tail -30 "$out.log" >&2; fail "$use: build"; }
  result=$(TARNWICK_DRIVE_T=$image "$out/consumer") || fail "$use: the program failed: $result"
  [ "$result" = "tarnwick $version: $expected entries" ] || fail "$use: '$result', expected $expected entries"
  echo "packaging: $use: $result"
done
# Inside another project only the library is built.
if cmake --build "$work/consumer-subdirectory" --target help | grep -qE 'tarnwick_tests|tarnwick-volume-builder|tarnwick_header'; then
  fail "subdirectory: the library's tests are part of the host project"
fi

# The NuGet package, restored from a folder feed by an application.
if ! command -v dotnet >/dev/null; then
  fail "the .NET SDK (dotnet) is not installed"
fi
export DOTNET_CLI_TELEMETRY_OPTOUT=1 DOTNET_NOLOGO=1 DOTNET_SKIP_FIRST_TIME_EXPERIENCE=1
feed=$work/feed
pack=(-p:TarnwickNativeLinuxX64="$build/native/libTarnwick.so")
windows_dll=${TARNWICK_WINDOWS_BUILD_DIR:-$root/build-windows}-x64/native/Tarnwick.dll
[ -f "$windows_dll" ] && pack+=(-p:TarnwickNativeWinX64="$windows_dll")
dotnet pack "$root/managed/Corvane/Corvane.csproj" -c Release -o "$feed" -nologo -v quiet \
  -p:ContinuousIntegrationBuild=true "${pack[@]}" >"$work/pack.log" 2>&1 || { cat "$work/pack.log" >&2; fail "dotnet pack"; }
package=$feed/Corvane.$version.nupkg
[ -f "$package" ] || fail "no $package"
contents=$(unzip -Z1 "$package")
for entry in lib/netstandard2.0/Corvane.dll runtimes/linux-x64/native/libTarnwick.so README.md; do
  grep -qx "$entry" <<<"$contents" || fail "$package lacks $entry"
done
unzip -p "$package" Corvane.nuspec | grep -q '<license type="expression">' || fail "$package has no licence expression"

app=$work/nuget-consumer
cp -r "$root/tests/packaging/nuget-consumer" "$app"
export NUGET_PACKAGES=$work/nuget-packages   # never a Corvane cached from an earlier run
dotnet restore "$app" --source "$feed" -p:CorvaneVersion="$version" -v quiet >"$work/restore.log" 2>&1 \
  || { cat "$work/restore.log" >&2; fail "restore from the folder feed"; }
result=$(dotnet run --project "$app" --no-restore -c Release -- "$image" 2>&1) || fail "the NuGet consumer failed: $result"
grep -q "^Corvane: $expected entries, $expected in the catalogue object" <<<"$result" \
  || fail "the NuGet consumer printed '$result', expected $expected entries"
echo "packaging: NuGet $(basename "$package"): $result"
echo "packaging: all checks passed"
