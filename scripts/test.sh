#!/usr/bin/env bash
# Runs every test: the unit and end-to-end tests of a normal build, the same
# tests under AddressSanitizer and UndefinedBehaviorSanitizer, and the fuzz
# targets over their seed corpora.
#
#   scripts/test.sh            everything (what CI runs)
#   scripts/test.sh --quick    the normal build and its unit tests only, for
#                              a developer's loop
set -euo pipefail
cd "$(dirname "$0")/.."
quick=""
case "${1:-}" in
  --quick) quick=1 ;;
  "") ;;
  *) echo "usage: scripts/test.sh [--quick]" >&2; exit 2 ;;
esac
./scripts/install-deps.sh

jobs=$(nproc)
# Each phase's heading, and the minutes the one before it took.
phase_start=$SECONDS
phase() {
  [ -n "${phase_name:-}" ] && echo "-- $phase_name: $(( (SECONDS - phase_start) / 60 )) min $(( (SECONDS - phase_start) % 60 )) s"
  phase_name=$1
  phase_start=$SECONDS
  echo "== $1"
}
run_build() {  # dir, extra cmake arguments...
  local dir=$1; shift
  cmake -G Ninja -S . -B "$dir" "$@" >/dev/null
  ninja -C "$dir" -j "$jobs"
}

if [ -n "$quick" ]; then
  echo "== build and unit tests"
  run_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
  ctest --test-dir build --output-on-failure -j "$jobs" -L unit
  exit 0
fi

phase "build"
run_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSEARCHRUN_BENCH=ON
phase "tests"
ctest --test-dir build --output-on-failure -j "$jobs"

# One clang build serves both: every library is built with AddressSanitizer,
# UndefinedBehaviorSanitizer and the fuzzer's coverage, the tests run under
# the sanitizers and the fuzz targets link the same objects (a third full
# build would cost a third of the run).
phase "sanitizer build"
CC=clang CXX=clang++ run_build build-san -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DSEARCHRUN_SANITIZE=ON -DSEARCHRUN_FUZZ=ON
phase "tests under the sanitizers"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-san --output-on-failure -j "$jobs" -LE fuzz
phase "fuzz targets over their seed corpora"
ctest --test-dir build-san --output-on-failure -j "$jobs" -L fuzz
phase done
