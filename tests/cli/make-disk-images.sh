#!/usr/bin/env bash
# Whole disks around two test volumes, for the tool's source layer:
#   mbr.img        p1 a non-NTFS partition, p2 the first volume, p3 extended
#                  holding logical p5 with the second volume
#   gpt.img        p1 a non-NTFS partition, p2 the first volume
#   outside.img    an MBR whose only partition runs past the end of the disk
#   gpt.E01 ...    gpt.img acquired as an E01 evidence file in 1 MiB segments
#   damaged.E01    a copy of the first segment with its chunk table overwritten
# Usage: make-disk-images.sh OUT-DIR FIRST-VOLUME SECOND-VOLUME
# Each image is made only when its tool (sfdisk, sgdisk, ewfacquire) is
# there; the tests skip what is missing.
set -euo pipefail
out=$1 first=$2 second=$3
mkdir -p "$out"
sectors() { echo $(( ($(stat -c %s "$1") + 511) / 512 )); }
place() { dd if="$2" of="$1" bs=512 seek="$3" conv=notrunc,sparse status=none; }
a=$(sectors "$first") b=$(sectors "$second")

if command -v sfdisk > /dev/null; then
  p2=4096 ext=$((4096 + a)) p5=$((4096 + a + 2048))
  rm -f "$out/mbr.img"
  truncate -s $(( (p5 + b + 2048) * 512 )) "$out/mbr.img"
  sfdisk -q "$out/mbr.img" > /dev/null <<TABLE
label: dos
unit: sectors
start=2048, size=2048, type=83
start=$p2, size=$a, type=7
start=$ext, size=$((b + 2048)), type=5
start=$p5, size=$b, type=7
TABLE
  place "$out/mbr.img" "$first" $p2
  place "$out/mbr.img" "$second" $p5

  # A disk cut short after its table was written.
  rm -f "$out/outside.img"
  truncate -s $(( (2048 + a) * 512 )) "$out/outside.img"
  printf 'label: dos\nunit: sectors\nstart=2048, size=%d, type=7\n' "$a" | sfdisk -q "$out/outside.img" > /dev/null
  place "$out/outside.img" "$first" 2048
  truncate -s $(( (2048 + a / 2) * 512 )) "$out/outside.img"
fi

if command -v sgdisk > /dev/null; then
  rm -f "$out/gpt.img"
  truncate -s $(( (4096 + a + 2048) * 512 )) "$out/gpt.img"
  sgdisk -o -n 1:2048:4095 -t 1:8300 -n 2:4096:$((4096 + a - 1)) -t 2:0700 "$out/gpt.img" > /dev/null 2>&1
  place "$out/gpt.img" "$first" 4096

  if command -v ewfacquire > /dev/null; then
    rm -f "$out"/gpt.E?? "$out/damaged.E01"
    ewfacquire -u -q -c deflate:fast -S 1MiB -t "$out/gpt" "$out/gpt.img" > /dev/null
    cp "$out/gpt.E01" "$out/damaged.E01"
    # Past the file header and the first sections: the descriptors of the
    # chunks, so that libewf cannot map the media.
    size=$(stat -c %s "$out/damaged.E01")
    head -c 4096 /dev/zero | dd of="$out/damaged.E01" bs=1 seek=$((size / 2)) conv=notrunc status=none
    truncate -s $((size / 2 + 4096)) "$out/damaged.E01"
  fi
fi
