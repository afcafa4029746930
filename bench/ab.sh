#!/usr/bin/env bash
# A/B of two builds of tarnwick-bench (say, before and after a change to the
# library) on one volume: alternates them, ROUNDS processes each, CYCLES loads
# per process, and prints the median LoadMft wall and CPU seconds of each.
#
#   bench/ab.sh OLD-BENCH NEW-BENCH IMAGE [ROUNDS] [CYCLES]
set -euo pipefail
old=$1 new=$2 image=$3 rounds=${4:-5} cycles=${5:-3}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$old" --cycles 1 "$image" >/dev/null  # warm the cache
# The one that runs second in a pair pays for memory the first just gave
# back, so the order alternates: old new, new old, ...
for ((r = 0; r < rounds; r++)); do
  if ((r % 2 == 0)); then
    "$old" --cycles "$cycles" "$image" >>"$tmp/old"
    "$new" --cycles "$cycles" "$image" >>"$tmp/new"
  else
    "$new" --cycles "$cycles" "$image" >>"$tmp/new"
    "$old" --cycles "$cycles" "$image" >>"$tmp/old"
  fi
done
median() { sort -g | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }
for side in old new; do
  wall=$(awk '{print $4}' "$tmp/$side" | median)
  cpu=$(awk '{print $7}' "$tmp/$side" | median)
  eval "${side}_wall=$wall ${side}_cpu=$cpu"
  best=$(awk '{print $4}' "$tmp/$side" | sort -g | head -1)
  echo "$side: LoadMft median wall ${wall} s, cpu ${cpu} s, min wall ${best} s ($(wc -l <"$tmp/$side") loads)"
done
awk -v a="$old_wall" -v b="$new_wall" -v c="$old_cpu" -v d="$new_cpu" \
  'BEGIN {printf "new/old: wall %.3f, cpu %.3f\n", b/a, d/c}'
