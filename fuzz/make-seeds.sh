#!/usr/bin/env bash
# Builds the seed inputs of the fuzz targets in <out-dir>: decompresses a few
# small real volume images (when the shared image folder is there), formats
# two fresh volumes with mkntfs (when it is installed), and cuts boot
# sectors, file records and index buffers out of them; volumes whose load
# reads only their first few MiB also seed the whole-volume target, cut after
# the last byte a load reads. Nothing lands in the source tree.
#
#   fuzz/make-seeds.sh <tarnwick_fuzz_seeds> <out-dir> [built-volumes-dir]
#
# The optional folder holds the test volumes the project's volume builder
# made (<build>/volumes/*.img: tables in dozens of runs, indexes in extension
# records, deleted directories that still own buffers); they are cut too.
set -euo pipefail
tool=$1
out=$2
built=${3:-}
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/lib/shared-images.sh"
work=$out/images
mkdir -p "$work"

volumes=()
if [ -d "$shared_images" ]; then
  for rel in grr/ntfs_img.dd colinfinck-ntfs/testfs1 tsk-test-data/7-ntfs-undel.dd \
             tsk-test-data/8-jpeg-search.dd donald/test.ntfs.dd dfir_ntfs/ntfs_index.raw \
             dfir_ntfs/ntfs3_attrlist.raw; do
    if image=$(unpack_shared_image "$rel" "$work"); then volumes+=("$image"); fi
  done
else
  echo "make-seeds: no image folder at $shared_images; seeds from mkntfs only"
fi

if command -v mkntfs >/dev/null 2>&1 || [ -x /usr/sbin/mkntfs ]; then
  mkntfs_bin=$(command -v mkntfs || echo /usr/sbin/mkntfs)
  for cluster in 512 4096; do
    dst=$work/mkntfs-c$cluster.img
    if [ ! -s "$dst" ]; then
      rm -f "$dst.part.$$"
      truncate -s 2M "$dst.part.$$"
      "$mkntfs_bin" -F -Q -q -c "$cluster" -L seed "$dst.part.$$" >/dev/null 2>&1
      mv "$dst.part.$$" "$dst"
    fi
    volumes+=("$dst")
  done
else
  echo "make-seeds: mkntfs not installed; no freshly formatted seeds"
fi

if [ -n "$built" ] && [ -d "$built" ]; then
  for image in "$built"/*.img; do
    [ -f "$image" ] && volumes+=("$image")
  done
fi

for image in "${volumes[@]}"; do
  "$tool" "$image" "$out" "$(basename "$image")"
done
