# Sourced by the scripts that read the real NTFS images made by other
# implementations: the folder TARNWICK_SHARED_IMAGES names, else the one
# beside the checkout, as the CMake build chooses it.
shared_images=${TARNWICK_SHARED_IMAGES:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/../shared/ntfs-images}

# unpack_shared_image RELATIVE DIR: decompresses RELATIVE.xz of the folder
# into DIR once and prints the image's path; fails quietly when the image is
# not there. The rename keeps a half-written image from being taken as whole.
unpack_shared_image() {
  local source=$shared_images/$1.xz
  local target
  target=$2/$(basename "$1")
  [ -f "$source" ] || return 1
  if [ ! -s "$target" ]; then
    xz -dc "$source" > "$target.part.$$" && mv "$target.part.$$" "$target" || { rm -f "$target.part.$$"; return 1; }
  fi
  printf '%s\n' "$target"
}
