#!/usr/bin/env bash
# Runs every libFuzzer target for a while: scripts/fuzz.sh [seconds-per-target] [target...]
# Targets: boot_sector file_record index_buffer volume listing (default: all, 60 s each).
#
# Builds with clang in ${TARNWICK_FUZZ_BUILD_DIR:-build-hostile-fuzz}, cuts
# seeds from the shared real volume images and from mkntfs volumes, then runs
# each target with the seeds, the stored regressions and its growing corpus
# (kept in the build dir between runs). Exits non-zero on any finding; the
# input that caused it is left in <build>/artifacts/ and named on the output.
# Executions per target are appended to <build>/fuzz-stats.tsv. Targets run
# side by side, one per core (TARNWICK_FUZZ_JOBS sets how many).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(boot_sector file_record index_buffer volume listing)
build=${TARNWICK_FUZZ_BUILD_DIR:-$root/build-hostile-fuzz}

cc=$(command -v clang-14 || command -v clang || true)
cxx=$(command -v clang++-14 || command -v clang++ || true)
if [ -z "$cc" ] || [ -z "$cxx" ]; then
  echo "fuzz: clang is not installed (scripts/setup.sh installs it)" >&2
  exit 1
fi

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" -DTARNWICK_WARNINGS_AS_ERRORS=OFF >/dev/null
build_targets=(tarnwick_fuzz_seeds)
for t in "${targets[@]}"; do build_targets+=("tarnwick_fuzz_$t"); done
cmake --build "$build" -j2 --target "${build_targets[@]}"

seeds=$build/seeds
# The test volumes of the normal build, where it made them, seed too.
bash "$root/fuzz/make-seeds.sh" "$build/fuzz/tarnwick_fuzz_seeds" "$seeds" "${TARNWICK_BUILD_DIR:-$root/build}/volumes"

declare -A max_len=([boot_sector]=1024 [file_record]=4096 [index_buffer]=16384 [volume]=2097152 [listing]=2097152)
# The listing reads whole volumes too: it starts from the volume target's seeds.
declare -A seed_of=([listing]=volume)
mkdir -p "$build/artifacts"
stats=$build/fuzz-stats.tsv
[ -s "$stats" ] || printf 'date\ttarget\tseconds\texecutions\tcorpus\tresult\n' > "$stats"
# fuzz_target T: runs one target for its time and leaves its result in
# $build/fuzz-T.result (exit status, executions, corpus size).
fuzz_target() {
  local t=$1 corpus=$build/corpus/$1 log=$build/fuzz-$1.log rc
  mkdir -p "$corpus" "$seeds/$t"
  # git keeps no empty folder: a target with no stored regression has none.
  local inputs=("$corpus" "$seeds/${seed_of[$t]:-$t}")
  [ -d "$root/fuzz/regressions/$t" ] && inputs+=("$root/fuzz/regressions/$t")
  set +e
  ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 UBSAN_OPTIONS=print_stacktrace=1 \
    "$build/fuzz/tarnwick_fuzz_$t" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2560 \
    -max_len="${max_len[$t]}" -print_final_stats=1 -artifact_prefix="$build/artifacts/$t-" \
    "${inputs[@]}" >"$log" 2>&1
  rc=$?
  set -e
  local runs
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  printf '%s %s %s\n' "$rc" "${runs:-?}" "$(ls "$corpus" | wc -l)" > "$build/fuzz-$t.result"
}

# Each target runs on one core: as many at once as there are cores, each for
# its whole time.
parallel=${TARNWICK_FUZZ_JOBS:-$(nproc)}
for t in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$parallel" ]; do wait -n || true; done
  echo "== fuzz $t for ${seconds}s"
  rm -f "$build/fuzz-$t.result"
  fuzz_target "$t" &
done
wait

failed=0
for t in "${targets[@]}"; do
  read -r rc runs units < "$build/fuzz-$t.result" || { rc=1; runs=?; units=?; }
  result=ok
  if [ "$rc" -ne 0 ]; then
    result=finding
    failed=1
    echo "fuzz $t: FINDING (exit $rc); last lines of $build/fuzz-$t.log:" >&2
    tail -40 "$build/fuzz-$t.log" >&2
  fi
  printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$(date -u +%FT%TZ)" "$t" "$seconds" "$runs" "$units" "$result" >> "$stats"
  echo "fuzz $t: $runs executions, corpus $units inputs, $result"
done
exit $failed
