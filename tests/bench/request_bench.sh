#!/usr/bin/env bash
# Times whole search requests, as a web server starts them (one fresh
# searchrun per request, renderer included), over 1, 3 and 5 indexes of a few
# thousand documents: with the engine service, without it, and, when a base
# commit is named, the same requests through that commit built and measured
# in the same run, with the ratio of every figure to it. Also the cost of each
# step from the run-timing log, the renderer's CPU for one page, and the
# service's memory over many requests.
#
#   tests/bench/request_bench.sh [BUILD_DIR] [BASE_REV]     (default: build, none)
#   RUNS=21 DOCS=2000 MEMORY_REQUESTS=10000 to change the repetitions, the
#   documents per index and the requests of the memory check (0: skip it);
#   QUERY_EXTRA is appended to every request (e.g. "&reltermoption=0").
set -euo pipefail
cd "$(dirname "$0")/../.."
. tests/bench/bench_lib.sh
repo=$PWD
build=$(cd "${1:-build}" && pwd)
base=${2:-}
runs=${RUNS:-21}
docs_per_index=${DOCS:-2000}
memory_requests=${MEMORY_REQUESTS:-10000}
work=$(mktemp -d)
cleanup() {
  for lock in "$work"/*/run/engine.lock; do
    [ -s "$lock" ] && kill "$(cat "$lock")" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT

echo "== documents: 5 indexes of $docs_per_index"
make_documents "$work/docs" 5 "$docs_per_index"

# install SIDE BUILD_DIR: an installation with the five indexes; their uids go
# to $work/SIDE/uids.
install_side() {
  local side=$1 dir=$2 root=$work/$1
  cmake --install "$dir" --prefix "$root" >/dev/null
  : >"$root/uids"
  for k in 1 2 3 4 5; do
    echo "7F000001_$(cd "$root/search-cgi" && ../binind/index_builder create --owner bench \
      "$work/docs/$k" 2>/dev/null)" >>"$root/uids"
  done
}

install_side new "$build"
if [ -n "$base" ]; then
  echo "== building $base"
  mkdir -p "$work/base-src"
  git -C "$repo" archive "$base" | tar -x -C "$work/base-src"
  cmake -G Ninja -S "$work/base-src" -B "$work/base-build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DSEARCHRUN_TESTS=OFF >/dev/null
  ninja -C "$work/base-build" >/dev/null
  install_side base "$work/base-build"
fi

service_start() {  # root
  "$1/binind/vela_service" --root "$1" >/dev/null 2>&1 &
  for _ in $(seq 1 100); do [ -S "$1/run/engine.sock" ] && return 0; sleep 0.05; done
  echo "the service did not start" >&2
  return 1
}
service_stop() {  # root
  [ -s "$1/run/engine.lock" ] && kill "$(cat "$1/run/engine.lock")" 2>/dev/null || true
  for _ in $(seq 1 100); do [ -S "$1/run/engine.sock" ] || return 0; sleep 0.05; done
}
# Whether the installation has an engine service at all.
has_service() { [ -x "$1/binind/vela_service" ]; }
set_auto_start() {  # root yes|no
  has_service "$1" && printf 'AUTO_START=%s\n' "$2" >"$1/setting/engine_service.cfg"
  return 0
}

request() {  # root query-string
  cd "$1/search-cgi"
  env -i PATH=/usr/bin:/bin REQUEST_METHOD=GET QUERY_STRING="$2" ./searchrun >/dev/null
  cd - >/dev/null
}

# Median milliseconds between two labels of the run-timing log over the runs
# whose process ids are listed in $work/pids (label "end": the run's last line).
step_ms() {  # root from-label to-label
  awk -v from="$2" -v to="$3" -v pids="$work/pids" '
    BEGIN { while ((getline p < pids) > 0) want[p] = 1 }
    match($0, /^\[[0-9]+\]-[0-9]+,[0-9]+: /) {
      pid = substr($0, 2, index($0, "]") - 2); if (!(pid in want)) next
      split(substr($0, index($0, "-") + 1), t, /[,:]/); label = substr($0, RSTART + RLENGTH)
      if (label == from && !(pid in a)) a[pid] = t[1]
      if (label == to) b[pid] = t[1]
      last[pid] = t[1]
    }
    END { for (p in a) { e = (to == "end") ? last[p] : b[p]; if (e != "") print e - a[p] } }' \
    "$1/logs/searchrun_time.log" | median
}

# measure SIDE MODE N: prints "whole search write"; MODE service|alone.
measure() {
  local root=$work/$1 mode=$2 n=$3 ids qs
  ids=$(head -n "$n" "$root/uids" | sed 's/^/\&index_id=/' | tr -d '\n')
  qs="user=TESSERA&search_no=0&no_rec=10&query=license$ids${QUERY_EXTRA:-}"
  if [ "$mode" = service ]; then set_auto_start "$root" yes; service_start "$root"
  else service_stop "$root"; set_auto_start "$root" no; fi
  request "$root" "$qs"; request "$root" "$qs"  # warm the caches
  local before; before=$(wc -l <"$root/logs/searchrun_time.log")
  local times=() s e
  for _ in $(seq "$runs"); do
    # The shell's own clock: no process is started to read it.
    s=${EPOCHREALTIME/./}; request "$root" "$qs"; e=${EPOCHREALTIME/./}; times+=($((e - s)))
  done
  tail -n +"$((before + 1))" "$root/logs/searchrun_time.log" |
    sed -n 's/^\[\([0-9]*\)\]-QUERY <.*/\1/p' >"$work/pids"
  local whole; whole=$(printf '%s\n' "${times[@]}" | median)
  printf '%.2f %s %s\n' "$(echo "$whole / 1000" | bc -l)" \
    "$(step_ms "$root" "b-function 'getRecordList'" "a-function 'getRecordList'")" \
    "$(step_ms "$root" "a-function 'getRecordList'" end)"
}

# CPU milliseconds of the renderer for one page of 10 hits of the newest result.
renderer_ms() {  # side
  local root=$work/$1 result
  result=$(ls -t "$root/tmp" | grep -E '^query[0-9]+$' | head -n 1)
  TIMEFORMAT='%3U %3S'
  local t
  t=$( { time (cd "$root/search-cgi" && for _ in $(seq "$runs"); do
    REQUEST_METHOD= ./getfilelist.exe "../tmp/$result" 10 1 >/dev/null; done); } 2>&1)
  echo "$t" | awk -v n="$runs" '{ printf "%.2f", ($1 + $2) * 1000 / n }'
}

ratio() { [ -n "$2" ] && [ "$2" != nan ] && [ "$1" != nan ] && awk -v a="$1" -v b="$2" \
  'BEGIN { if (b > 0) printf "%.2f", a / b; else printf "-" }' || printf -- "-"; }

echo "== requests: one-word query, $runs runs each, medians in ms"
printf '%-18s %8s %8s %8s %8s %8s\n' "" "indexes" "whole" "search" "write" "whole/base"
declare -A base_whole
if [ -n "$base" ]; then
  for n in 1 3 5; do
    read -r w s r < <(measure base alone "$n")
    base_whole[$n]=$w
    printf '%-18s %8s %8s %8s %8s %8s\n' "base" "$n" "$w" "$s" "$r" "1.00"
  done
fi
modes=(alone)
has_service "$work/new" && modes=(service alone)
for mode in "${modes[@]}"; do
  for n in 1 3 5; do
    read -r w s r < <(measure new "$mode" "$n")
    printf '%-18s %8s %8s %8s %8s %8s\n' "new, $mode" "$n" "$w" "$s" "$r" \
      "$(ratio "$w" "${base_whole[$n]:-}")"
  done
done

echo "== renderer: CPU of one page of 10 hits (mean of $runs), ms"
new_page=$(renderer_ms new)
if [ -n "$base" ]; then
  base_page=$(renderer_ms base)
  echo "  base $base_page   new $new_page   new/base $(ratio "$new_page" "$base_page")"
else
  echo "  new $new_page"
fi

if has_service "$work/new" && [ "$memory_requests" -gt 0 ]; then
  echo "== service memory over $memory_requests requests (one index)"
  root=$work/new
  service_stop "$root"; set_auto_start "$root" yes; service_start "$root"
  qs="user=TESSERA&search_no=0&no_rec=10&query=license&index_id=$(head -n 1 "$root/uids")"
  for _ in $(seq 20); do request "$root" "$qs"; done
  pid=$(cat "$root/run/engine.lock")
  rss() { awk '/^VmRSS/ { print $2 }' "/proc/$pid/status"; }
  first=$(rss)
  for i in $(seq "$memory_requests"); do
    request "$root" "$qs"
    [ $((i % (memory_requests / 4 > 0 ? memory_requests / 4 : 1))) = 0 ] && echo "  after $i: $(rss) kB"
  done
  echo "  before: $first kB   after: $(rss) kB"
  service_stop "$root"
fi
