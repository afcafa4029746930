#!/usr/bin/env bash
# Checks a built Tarnwick.dll from the outside, as the Windows loader and a
# caller see it:
#   - the machine (x64 or x86);
#   - the export directory: library name "Tarnwick.dll", ordinal base 1, and
#     exactly the five functions with ordinals 1 to 5 in alphabetical order,
#     plain names in x64 and standard-call decorated names in x86, nothing else;
#   - the imports: system DLLs only, no mingw runtime DLL that a bare Windows
#     lacks.
#   - optionally, that a program linked against the import library asks
#     Tarnwick.dll for exactly these names.
# Usage: check-exports.sh x64|x86 path/to/Tarnwick.dll [path/to/caller.exe]
set -euo pipefail

arch=${1:?usage: check-exports.sh x64|x86 DLL}
dll=${2:?usage: check-exports.sh x64|x86 DLL}
caller=${3:-}
case "$arch" in
  x64) objdump=x86_64-w64-mingw32-objdump; format=pei-x86-64
       expected=$'1 Clear\n2 GetData\n3 GetMftMessage\n4 GetPointer\n5 LoadMft' ;;
  x86) objdump=i686-w64-mingw32-objdump; format=pei-i386
       expected=$'1 _Clear@0\n2 _GetData@4\n3 _GetMftMessage@4\n4 _GetPointer@4\n5 _LoadMft@8' ;;
  *) echo "check-exports: unknown architecture $arch" >&2; exit 2 ;;
esac
[ -f "$dll" ] || { echo "check-exports: $dll does not exist" >&2; exit 1; }

dump=$("$objdump" -p "$dll")
failures=0
fail() { echo "check-exports($arch): $*" >&2; failures=$((failures + 1)); }

grep -q "file format $format\$" <<<"$dump" || fail "not a $format image"

# The export directory as objdump interprets it (.edata contents).
edata=$(sed -n '/^The Export Tables/,/^PE File Base Relocations\|^The Function Table\|^Sections:/p' <<<"$dump")
[ -n "$edata" ] || fail "no export directory"
name=$(sed -n 's/^Name[[:space:]]\+[0-9a-fA-F]\+[[:space:]]\+\(.*\)$/\1/p' <<<"$edata")
[ "$name" = "Tarnwick.dll" ] || fail "export directory names '$name', not 'Tarnwick.dll'"
base=$(sed -n 's/^Ordinal Base[[:space:]]\+\([0-9]\+\)$/\1/p' <<<"$edata")
[ "$base" = "1" ] || fail "ordinal base is '$base', not 1"
addresses=$(sed -n 's/^[[:space:]]*Export Address Table[[:space:]]\+\([0-9a-fA-F]\+\)$/\1/p' <<<"$edata" | head -1)
[ "$((16#${addresses:-0}))" = 5 ] || fail "export address table has $((16#${addresses:-0})) entries, not 5"
names=$(sed -n 's/^[[:space:]]*\[Name Pointer\/Ordinal\] Table[[:space:]]\+\([0-9a-fA-F]\+\)$/\1/p' <<<"$edata")
[ "$((16#${names:-0}))" = 5 ] || fail "name table has $((16#${names:-0})) entries, not 5"

# "[   n] name" gives the name of ordinal base + n.
actual=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^[[:space:]]*$/p' <<<"$edata" |
  sed -n 's/^[[:space:]]*\[[[:space:]]*\([0-9]\+\)\][[:space:]]\+\(.*[^[:space:]]\)[[:space:]]*$/\1 \2/p' |
  while read -r index symbol; do echo "$((index + ${base:-1})) $symbol"; done | sort -n)
if [ "$actual" != "$expected" ]; then
  fail "exports differ"
  diff <(echo "$expected") <(echo "$actual") | sed 's/^/  /' >&2 || true
fi

# Every ordinal must lead to code of its own: two names on one address would
# mean a .def line bound the wrong symbol.
rvas=$(sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]\+\] +base\[[[:space:]]*[0-9]\+\][[:space:]]\+\([0-9a-fA-F]\+\) Export RVA$/\1/p' <<<"$edata")
[ "$(sort -u <<<"$rvas" | grep -c .)" = 5 ] || fail "the five ordinals do not lead to five distinct functions"

# Imports: system DLLs only.
while read -r import; do
  case "${import,,}" in
    kernel32.dll|msvcrt.dll|advapi32.dll|ntdll.dll|user32.dll|ucrtbase.dll|api-ms-win-*.dll) ;;
    *) fail "imports $import, which a bare Windows does not have" ;;
  esac
done < <(sed -n 's/^[[:space:]]*DLL Name: \(.*\)$/\1/p' <<<"$dump")

if [ -n "$caller" ]; then
  imported=$("$objdump" -p "$caller" | sed -n '/DLL Name: Tarnwick\.dll/,/^[[:space:]]*$/p' |
    sed -n 's/^[[:space:]]*[0-9a-fA-F]\+[[:space:]]\+[0-9]\+[[:space:]]\+\([^[:space:]]\+\)$/\1/p' | sort)
  wanted=$(cut -d' ' -f2 <<<"$expected" | sort)
  if [ "$imported" != "$wanted" ]; then
    fail "$(basename "$caller") imports from Tarnwick.dll: $(tr '\n' ' ' <<<"$imported")"
  fi
fi

if [ "$failures" -ne 0 ]; then
  echo "check-exports($arch): $dll FAILED ($failures problems)" >&2
  exit 1
fi
echo "check-exports($arch): $dll: $(tr '\n' ' ' <<<"$actual")- imports $(sed -n 's/^[[:space:]]*DLL Name: \(.*\)$/\1/p' <<<"$dump" | tr '\n' ' ')"
