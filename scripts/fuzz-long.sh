#!/usr/bin/env bash
# Runs every fuzz target for a while (default 5 minutes each), starting from
# its checked-in corpus, and prints one line per target. New inputs go to a
# scratch copy; a crash leaves its input in the output folder and fails.
#
#   scripts/fuzz-long.sh [SECONDS_PER_TARGET] [PARALLEL] [PATTERN]
#   (defaults: 300, 1, every target; PATTERN is an extended regular expression
#   the target names must match)
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-300}
parallel=${2:-1}
pattern=${3:-.}
./scripts/install-deps.sh >/dev/null
# The build of scripts/test.sh's sanitizer phase, which holds the fuzz targets.
CC=clang CXX=clang++ cmake -G Ninja -S . -B build-san -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DSEARCHRUN_SANITIZE=ON -DSEARCHRUN_FUZZ=ON >/dev/null
ninja -C build-san >/dev/null || exit 1
out=$(mktemp -d /tmp/fuzz-long.XXXXXX)
echo "fuzzing each target for ${seconds}s, $parallel at a time; work in $out"

run_one() {  # target name
  local name=$1 work=$out/$1
  mkdir -p "$work/corpus" "$work/crashes"
  [ -d "tests/fuzz/corpus/$name" ] && cp -R "tests/fuzz/corpus/$name/." "$work/corpus/"
  "build-san/tests/fuzz/fuzz_$name" -max_total_time="$seconds" -max_len=8192 -timeout=20 \
    -print_final_stats=1 \
    -artifact_prefix="$work/crashes/" "$work/corpus" >"$work/log" 2>&1
  local rc=$?
  local runs
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$work/log" | grep -o '[0-9]*$')
  [ -z "$runs" ] && runs=$(grep -oE '^#[0-9]+[[:space:]]+DONE' "$work/log" | grep -oE '[0-9]+')
  local cov
  cov=$(grep -oE 'cov: [0-9]+' "$work/log" | tail -1)
  if [ $rc = 0 ]; then
    printf '%-22s ok     %12s runs  %s  corpus %s\n' "$name" "${runs:-?}" "$cov" \
      "$(ls "$work/corpus" | wc -l)"
  else
    printf '%-22s FAILED (see %s)\n' "$name" "$work/log"
  fi
  return $rc
}
export -f run_one
export out seconds

mapfile -t names < <(ls build-san/tests/fuzz/ | sed -n 's/^fuzz_\(.*\)$/\1/p' | grep -E "$pattern" |
  sort)
printf '%s\n' "${names[@]}" | xargs -P "$parallel" -I{} bash -c 'run_one {}'
status=$?
[ $status = 0 ] && echo "all ${#names[@]} targets ran ${seconds}s without a finding"
exit $status
