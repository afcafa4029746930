#!/usr/bin/env bash
# The body file through The Sleuth Kit's own timeline tool: mactime must
# accept it, and its entries (time, which times, kind, record, name, size)
# must be those mactime makes of `fls -r -u -m /` on the same shared images.
# Set aside, as what fls adds that the listing leaves out by design: named
# index attributes (`$Secure:$SDH`: not data streams), the sizes of
# directories (fls gives their index root's), the kind of the name (fls
# sometimes gives none for a name in use), a directory's streams seen again
# through its "." entry, and the year-2076 time fls makes of a time that is
# zero on disk (the listing has no time there, which mactime leaves out).
# Names that fls -m leaves out (files it shows only by index attributes, hard
# links it lists without -m) are set aside too, and counted.
# Usage: bodyfile_timeline_test.sh TARNWICK SHARED-IMAGES-DIR
set -euo pipefail
tool=$1 images=$2
for needed in fls mactime xz; do
  command -v $needed > /dev/null || { echo "SKIP: $needed is not installed"; exit 77; }
done
[ -d "$images" ] || { echo "SKIP: no shared images at $images"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# date|activity|mode|record|name|size, one line per timeline entry.
entries() {
  mactime -b - -d -y -z UTC | awk -F, 'NR > 1 {
    name = $8; for (i = 9; i <= NF; i++) name = name "," $i
    split($7, meta, "-")
    if (meta[2] != "" && meta[2] != "128" && meta[2] != "48" && index(name, ":") > 0) next
    if (index(name, "/.:") > 0 || $1 == "2076-11-29T08:54:34Z") next
    size = ($4 ~ /^.\/d/) ? "-" : $2
    print $1 "|" $3 "|" substr($4, 3) "|" meta[1] "|" name "|" size
  }' | sort -u
}

failed=0 checked=0
for image in tsk-test-data/7-ntfs-undel.dd tsk-test-data/8-jpeg-search.dd dfir_ntfs/ntfs_index.raw \
             dfir_ntfs/ntfs3.raw dfir_ntfs/ntfs3_attrlist.raw donald/test.ntfs.dd grr/ntfs_img.dd colinfinck-ntfs/testfs1; do
  [ -f "$images/$image.xz" ] || continue
  volume=$work/$(basename "$image")
  xz -dc "$images/$image.xz" > "$volume"
  fls -r -u -m / "$volume" | entries > "$work/fls"
  if ! "$tool" list --format bodyfile --streams "$volume" > "$work/body"; then
    echo "FAIL $image: tarnwick list --format bodyfile failed"; failed=1; continue
  fi
  entries < "$work/body" > "$work/ours.all"
  # Names fls -m does not give ("/$Secure:$SDH" but no "/$Secure").
  cut -d'|' -f5 "$work/fls" | sort -u > "$work/fls.names"
  awk -F'|' 'NR == FNR { known[$0] = 1; next } ($5 in known)' "$work/fls.names" "$work/ours.all" > "$work/ours"
  set_aside=$(( $(wc -l < "$work/ours.all") - $(wc -l < "$work/ours") ))
  if ! diff "$work/fls" "$work/ours" > "$work/diff"; then
    echo "FAIL $image: the timelines differ (< fls, > tarnwick):"; head -20 "$work/diff"; failed=1
  else
    echo "ok   $image: $(wc -l < "$work/ours") timeline entries equal ($set_aside lines of names fls -m leaves out set aside)"
  fi
  checked=$((checked + 1))
  rm -f "$volume"
done
[ $checked -gt 0 ] || { echo "SKIP: none of the images is there"; exit 77; }
exit $failed
