#!/usr/bin/env bash
# A/B of two builds of the tarnwick tool (say, before and after a change to
# the listing) on one volume: alternates `tarnwick list IMAGE > /dev/null`
# of each, ROUNDS runs each, and prints the median and fastest wall time
# and the median CPU time (user + system) of each. On a loaded machine the
# CPU times are the steadier measure.
#
#   bench/ab-list.sh OLD-TARNWICK NEW-TARNWICK IMAGE [ROUNDS] [-- LIST-OPTIONS...]
set -euo pipefail
old=$1 new=$2 image=$3
rounds=7
if [ $# -ge 4 ] && [ "$4" != -- ]; then rounds=$4; shift; fi
shift 3
[ "${1:-}" = -- ] && shift
TIMEFORMAT='%R %U %S'
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$old" list "$@" "$image" >/dev/null  # warm the cache
# The one that runs second in a pair pays for memory the first just gave
# back, so the order alternates: old new, new old, ...
for ((r = 0; r < rounds; r++)); do
  if ((r % 2 == 0)); then order="old new"; else order="new old"; fi
  for side in $order; do
    tool=$old
    [ "$side" = new ] && tool=$new
    { time "$tool" list "$@" "$image" >/dev/null 2>&1; } 2>>"$tmp/$side"
  done
done
median() { sort -g | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }
for side in old new; do
  wall=$(awk '{print $1}' "$tmp/$side" | median)
  cpu=$(awk '{print $2 + $3}' "$tmp/$side" | median)
  best=$(awk '{print $1}' "$tmp/$side" | sort -g | head -1)
  eval "${side}_wall=$wall ${side}_cpu=$cpu"
  echo "$side: median wall ${wall} s (min ${best} s), cpu ${cpu} s"
done
awk -v a="$old_wall" -v b="$new_wall" -v c="$old_cpu" -v d="$new_cpu" \
  'BEGIN {printf "new/old: wall %.3f, cpu %.3f\n", b/a, (c > 0 ? d/c : 1)}'
