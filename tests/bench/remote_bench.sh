#!/usr/bin/env bash
# Times whole search requests (one fresh searchrun per request, renderer
# included) over 8 indexes held by 4 hosts, each host an installation of its
# own on a loopback address with its agent and engine service, against the
# same 8 indexes held by the requesting installation itself. Prints medians
# and the search step from the run-timing log, and the ratio remote / local.
#
#   tests/bench/remote_bench.sh [BUILD_DIR]          (default: build)
#   RUNS=21 DOCS=500 to change the repetitions and the documents per index;
#   QUERY_EXTRA is appended to every request (e.g. "&reltermoption=0");
#   AGENT_PORT (default 27101) is the agents' port, on 127.0.0.31 to .34.
set -euo pipefail
cd "$(dirname "$0")/../.."
. tests/bench/bench_lib.sh
build=$(cd "${1:-build}" && pwd)
runs=${RUNS:-21}
docs_per_index=${DOCS:-500}
port=${AGENT_PORT:-27101}
work=$(mktemp -d)
daemons=()
cleanup() {
  for pid in "${daemons[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

echo "== documents: 8 indexes of $docs_per_index"
make_documents "$work/docs" 8 "$docs_per_index"

# install NAME HOST_ADDRESS: an installation answering to that address.
install_at() {
  cmake --install "$build" --prefix "$work/$1" >/dev/null
  echo "$2" >"$work/$1/host_address"
}
# index NAME FOLDER: builds an index there and prints its id.
index() { (cd "$work/$1/search-cgi" && ../binind/index_builder create --owner bench \
  "$work/docs/$2" 2>/dev/null); }
hex() { local a; IFS=. read -ra a <<<"$1"; printf '%02X%02X%02X%02X' "${a[@]}"; }
start() {  # program arguments...
  "$@" >/dev/null 2>&1 &
  daemons+=($!)
}

install_at local 127.0.0.1
local_ids=""
for k in 1 2 3 4 5 6 7 8; do local_ids+="&index_id=7F000001_$(index local "$k")"; done
start "$work/local/binind/vela_service" --root "$work/local"

install_at req 127.0.0.30
remote_ids=""
for h in 1 2 3 4; do
  address=127.0.0.3$h
  install_at "h$h" "$address"
  for k in $((2 * h - 1)) $((2 * h)); do
    remote_ids+="&index_id=$(hex "$address")_$(index "h$h" "$k")\$$port"
  done
  start "$work/h$h/binind/vela_service" --root "$work/h$h"
  start "$work/h$h/binind/search_agent" --root "$work/h$h" --address "$address" --port "$port"
done
sleep 1

request() {  # root query-string
  (cd "$1/search-cgi" &&
    env -i PATH=/usr/bin:/bin REQUEST_METHOD=GET QUERY_STRING="$2" ./searchrun >/dev/null)
}

# measure NAME IDS: prints "whole search" in ms.
measure() {
  local root=$work/$1 qs="user=TESSERA&search_no=0&no_rec=10&query=license$2${QUERY_EXTRA:-}"
  request "$root" "$qs"
  request "$root" "$qs"
  local page
  page=$(cd "$root/search-cgi" && env -i PATH=/usr/bin:/bin REQUEST_METHOD=GET \
    QUERY_STRING="$qs&xml=1" ./searchrun || true)
  if ! grep -q '<record' <<<"$page"; then
    echo "no hits from $1: the benchmark would time failures" >&2
    exit 1
  fi
  local before times=() s e
  before=$(wc -l <"$root/logs/searchrun_time.log")
  for _ in $(seq "$runs"); do
    s=${EPOCHREALTIME/./}; request "$root" "$qs"; e=${EPOCHREALTIME/./}; times+=($((e - s)))
  done
  local search
  search=$(tail -n +"$((before + 1))" "$root/logs/searchrun_time.log" | awk '
    match($0, /^\[[0-9]+\]-[0-9]+,[0-9]+: /) {
      pid = substr($0, 2, index($0, "]") - 2)
      split(substr($0, index($0, "-") + 1), t, /[,:]/); label = substr($0, RSTART + RLENGTH)
      if (label == "b-function '\''getRecordList'\''") a[pid] = t[1]
      if (label == "a-function '\''getRecordList'\''" && (pid in a)) print t[1] - a[pid]
    }' | median)
  printf '%.2f %s\n' "$(printf '%s\n' "${times[@]}" | median | awk '{ print $1 / 1000 }')" "$search"
}

echo "== one-word query over 8 indexes, $runs runs each, medians in ms"
printf '%-28s %8s %8s\n' "" "whole" "search"
read -r lw ls < <(measure local "$local_ids")
printf '%-28s %8s %8s\n' "8 local indexes" "$lw" "$ls"
read -r rw rs < <(measure req "$remote_ids")
printf '%-28s %8s %8s\n' "8 indexes on 4 agents" "$rw" "$rs"
awk -v a="$rw" -v b="$lw" 'BEGIN { printf "remote / local: %.2f\n", a / b }'
