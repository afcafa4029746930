#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12, where missing.
# Each part of the project lists its Debian packages in scripts/packages.d/.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

wanted=$(grep -hv '^\s*#' "$here"/packages.d/*.txt | tr -s ' \n' '\n' | sed '/^$/d' | sort -u)
missing=()
for pkg in $wanted; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q '^install ok installed$' || missing+=("$pkg")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
