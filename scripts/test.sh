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

echo "== build and test"
run_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSEARCHRUN_BENCH=ON
ctest --test-dir build --output-on-failure -j "$jobs"

echo "== sanitizer build and test"
run_build build-asan -DCMAKE_BUILD_TYPE=Debug -DSEARCHRUN_SANITIZE=ON
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"

echo "== fuzz targets over their seed corpora"
CC=clang CXX=clang++ run_build build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DSEARCHRUN_FUZZ=ON -DSEARCHRUN_TESTS=OFF
ctest --test-dir build-fuzz --output-on-failure -j "$jobs" -L fuzz
