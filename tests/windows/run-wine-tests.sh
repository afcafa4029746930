#!/usr/bin/env bash
# Runs the x64 Windows build under Wine:
#   1. the Win32 platform and entry-point tests and the unit suite;
#   2. end to end: each NTFS image becomes raw drive X: of a private Wine
#      prefix, tarnwick_catalogue_dump.exe loads it through Tarnwick.dll's real
#      Win32 path, and its catalogue must equal, byte for byte, the Linux
#      build's catalogue of the same image (TARNWICK_DRIVE_X); every load must
#      put its timing line on the debug channel.
#
# Usage: run-wine-tests.sh WINDOWS_X64_BUILD LINUX_BUILD
# Images: a fresh mkntfs/ntfscp volume, a generated one when the Linux build
# has tarnwick-volume-builder, and the shared real images when
# ../shared/ntfs-images is beside the project (TARNWICK_SHARED_IMAGES names
# another folder); all are made or decompressed inside WINDOWS_X64_BUILD.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
winbuild=$(cd "${1:?usage: run-wine-tests.sh WINDOWS_X64_BUILD LINUX_BUILD}" && pwd)
linuxbuild=$(cd "${2:?usage: run-wine-tests.sh WINDOWS_X64_BUILD LINUX_BUILD}" && pwd)
source "$root/scripts/lib/shared-images.sh"

export WINEPREFIX=$winbuild/wineprefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko installer prompts
export WINEARCH=win64
programs=$winbuild/tests/windows
dump_linux=$linuxbuild/tests/windows/tarnwick_catalogue_dump
work=$winbuild/e2e
mkdir -p "$work/images" "$work/out" "$work/drive-x"

failures=0
fail() { echo "wine-tests: FAIL: $*" >&2; failures=$((failures + 1)); }
# Debian's wine wrapper complains about the missing 32-bit loader on every start.
quiet() { grep -v -e 'wine32 is missing' -e 'multiarch needs' -e 'dpkg --add-architecture' -e '^execute "dpkg' || true; }

# One prefix per build tree, made on first use (its creation is the slow part),
# and one wineserver kept alive for all the runs below.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "wine-tests: creating the Wine prefix $WINEPREFIX"
  wineboot -i 2>&1 | quiet >/dev/null
fi
wineserver -p
trap 'wineserver -k 2>/dev/null || true' EXIT  # the server of this prefix only

# 1. Tests on the Win32 layer and the unit suite.
for test in tarnwick_windows_tests tarnwick_unit_tests_win32; do
  if wine "$programs/$test.exe" --gtest_brief=1 >"$work/out/$test.log" 2>&1; then
    echo "wine-tests: $test: $(grep -E '^\[  PASSED  \]' "$work/out/$test.log" | tail -1)"
  else
    quiet <"$work/out/$test.log" | tail -40 >&2
    fail "$test"
  fi
done

# A C program linked against the import library reaches every export.
if wine "$programs/tarnwick_import_caller.exe" >"$work/out/import_caller.log" 2>&1; then
  echo "wine-tests: tarnwick_import_caller: the five imports answer"
else
  quiet <"$work/out/import_caller.log" >&2
  fail "tarnwick_import_caller"
fi

# 2. End to end on raw drive X:. Wine opens \\.\X: as the file that the
# dosdevices entry "x::" names, and reports X: as fixed while "x:" names a
# directory.
ln -sfn "$work/drive-x" "$WINEPREFIX/dosdevices/x:"

images=()

# A volume written by mkntfs and ntfscp: many names in one folder (so the
# root's index spills into index buffers), long names with DOS short names,
# names beyond ASCII.
fresh=$work/images/ntfscp.img
if [ ! -s "$fresh" ] && command -v mkntfs >/dev/null && command -v ntfscp >/dev/null; then
  rm -f "$fresh.tmp"
  truncate -s 32M "$fresh.tmp"
  mkntfs -F -Q -q -L WINE "$fresh.tmp" >/dev/null 2>&1
  for i in $(seq 1 60); do
    printf 'file %d\n' "$i" >"$work/content.txt"
    ntfscp -f "$fresh.tmp" "$work/content.txt" "Document number $i with a long name.txt" >/dev/null 2>&1
  done
  for name in "Ünïcødé ✓.txt" "日本語のファイル.dat" "short.txt" "MiXeD CaSe.TXT"; do
    ntfscp -f "$fresh.tmp" "$work/content.txt" "$name" >/dev/null 2>&1
  done
  mv "$fresh.tmp" "$fresh"
fi
[ -s "$fresh" ] && images+=("$fresh")

# A generated tree of folders, hard links, DOS names and deleted files.
builder=$linuxbuild/tools/volume-builder/tarnwick-volume-builder
generated=$work/images/generated.img
if [ ! -s "$generated" ] && [ -x "$builder" ]; then
  "$builder" generate "$generated" --files 400 --dirs 30 --dos 20 --links 10 --deletes 10 --seed 7 >/dev/null 2>&1 ||
    rm -f "$generated"
fi
[ -s "$generated" ] && images+=("$generated")

# Real volumes written by Windows and others, decompressed once.
if [ -d "$shared_images" ]; then
  for image in dfir_ntfs/ntfs_index.raw dfir_ntfs/ntfs3_attrlist.raw tsk-test-data/7-ntfs-undel.dd \
               donald/test.ntfs.dd grr/ntfs_img.dd colinfinck-ntfs/testfs1 ntfs-samples/ntfs-2m.raw; do
    if target=$(unpack_shared_image "$image" "$work/images"); then images+=("$target"); fi
  done
else
  echo "wine-tests: $shared_images is absent: the real images are skipped"
fi
[ ${#images[@]} -gt 0 ] || fail "no volume image to load (mkntfs and ntfscp missing?)"

# The fresh volume cut off halfway through a file record of the master file
# table: the read of that record comes up short, which both builds must treat
# as a failed read and report with the same status.
if [ -s "$fresh" ]; then
  cut=$work/images/ntfscp-cut.img
  if [ ! -s "$cut" ]; then
    sector=$(od -An -tu2 -j11 -N2 "$fresh" | tr -d ' ')
    per_cluster=$(od -An -tu1 -j13 -N1 "$fresh" | tr -d ' ')
    mft_lcn=$(od -An -tu8 -j48 -N8 "$fresh" | tr -d ' ')
    head -c $((mft_lcn * sector * per_cluster + 40 * 1024 + 512)) "$fresh" >"$cut.tmp" && mv "$cut.tmp" "$cut"
  fi
  images+=("$cut")
fi

for image in "${images[@]}"; do
  name=$(basename "$image")
  ln -sfn "$image" "$WINEPREFIX/dosdevices/x::"
  set +e
  TARNWICK_DRIVE_X=$image "$dump_linux" X >"$work/out/$name.linux" 2>"$work/out/$name.linux.err"
  linux_rc=$?
  WINEDEBUG=-all,warn+seh,+debugstr wine "$programs/tarnwick_catalogue_dump.exe" X \
    >"$work/out/$name.wine" 2>"$work/out/$name.wine.err"
  wine_rc=$?
  set -e
  entries=$(wc -l <"$work/out/$name.wine")
  if [ "$wine_rc" != "$linux_rc" ]; then
    fail "$name: exit $wine_rc under Wine, $linux_rc on Linux"
    quiet <"$work/out/$name.wine.err" | grep -v ':seh:' | tail -5 >&2
    continue
  fi
  if [ "$linux_rc" = 4 ]; then
    # Both refused the volume: with the same status.
    # (stderr of a Windows program ends its lines with CR LF)
    linux_status=$(grep '^LoadMft:' "$work/out/$name.linux.err" | tr -d '\r')
    wine_status=$(grep '^LoadMft:' "$work/out/$name.wine.err" | tr -d '\r')
    if [ -z "$wine_status" ] || [ "$linux_status" != "$wine_status" ]; then
      fail "$name: statuses differ: '$linux_status' on Linux, '$wine_status' under Wine"
    else
      echo "wine-tests: $name: both refused it, $wine_status"
    fi
    continue
  elif [ "$linux_rc" != 0 ]; then
    fail "$name: the dump failed with $linux_rc: $(cat "$work/out/$name.linux.err" "$work/out/$name.wine.err" | quiet | grep -v ':seh:' | tail -3)"
    continue
  fi
  if ! cmp -s "$work/out/$name.linux" "$work/out/$name.wine"; then
    fail "$name: the Windows catalogue differs from the Linux one"
    diff "$work/out/$name.linux" "$work/out/$name.wine" | head -10 >&2 || true
    continue
  fi
  # Two loads, two timing lines; and the entry point's empty strings.
  timing=$(grep -cE 'OutputDebugString[AW] "\[Tarnwick\.dll\] - [0-9]+\.[0-9]{2} ms\\n"' "$work/out/$name.wine.err" || true)
  [ "$timing" = 2 ] || fail "$name: $timing timing lines on the debug channel, not 2"
  grep -qE 'OutputDebugString[AW] ""' "$work/out/$name.wine.err" || fail "$name: no empty string from the entry point"
  echo "wine-tests: $name: $entries entries, same as Linux; $(grep -oE '\[Tarnwick\.dll\] - [0-9.]+ ms' "$work/out/$name.wine.err" | head -1)"
done

# A letter that names no drive is not a fixed drive.
rm -f "$WINEPREFIX/dosdevices/w:" "$WINEPREFIX/dosdevices/w::"
set +e
wine "$programs/tarnwick_catalogue_dump.exe" W >/dev/null 2>"$work/out/unmapped.err"
rc=$?
set -e
if [ "$rc" != 4 ] || ! tr -d '\r' <"$work/out/unmapped.err" | grep -qx 'LoadMft: -103 error: drive type'; then
  fail "unmapped drive W: exit $rc, $(quiet <"$work/out/unmapped.err" | head -1), not -103"
fi

if [ "$failures" -ne 0 ]; then
  echo "wine-tests: $failures failures" >&2
  exit 1
fi
echo "wine-tests: all passed"
