#!/usr/bin/env bash
# Times the page renderer alone: getfilelist.exe writing the first page of a
# default one-word result over 3 indexes, as searchrun hands it over, against
# the floor of starting any program on this machine (a static no-op and
# /bin/true), all in one run and interleaved, so that the load of the machine
# falls on every program alike. With an older renderer, that one renders the
# same result too, its page must be the same bytes, and new/old is given.
#
#   tests/bench/renderer_bench.sh [BUILD_DIR] [OLD_RENDERER]
#   RUNS=300 DOCS=1500 WORD=file change the repetitions, the documents and
#   the query word.
#
# Everything lives in one temporary folder; the engine service is stopped as
# soon as the result is written.
set -euo pipefail
cd "$(dirname "$0")/../.."
. tests/bench/bench_lib.sh
build=$(cd "${1:-build}" && pwd)
old=${2:+$(cd "$(dirname "$2")" && pwd)/$(basename "$2")}
runs=${RUNS:-300}
docs=${DOCS:-1500}
word=${WORD:-file}
work=$(mktemp -d)
cleanup() {
  engine_service stop "$work/root" || true
  rm -rf "$work"
}
trap cleanup EXIT

made=$(make_man_documents "$work/docs" 5 "$docs")
[ "$made" -ge 30 ] || {
  rm -rf "$work/docs"
  make_documents "$work/docs" 5 $((docs / 5))
  word=${WORD:-license}
}
install_indexed "$work/root" "$build" "$work/docs" 5
cgi=$work/root/search-cgi
query="user=TESSERA&search_no=0&no_rec=10&query=$word"
while read -r k; do query+="&index_id=$k"; done < <(head -n 3 "$work/root/uids")
engine_service start "$work/root"
(cd "$cgi" && env -i PATH=/usr/bin:/bin REQUEST_METHOD=GET REMOTE_ADDR=127.0.0.1 \
  SCRIPT_NAME=/cgi-bin/searchrun QUERY_STRING="$query" ./searchrun >"$work/searchrun.page")
engine_service stop "$work/root"
# The result is the one the page's links name.
result=$(grep -o 'result=query[0-9]*' "$work/searchrun.page" | head -n 1 | cut -d= -f2)
[ -n "$result" ] && [ -f "$work/root/tmp/$result" ] || {
  echo "searchrun wrote no result:" >&2
  head -c 2000 "$work/searchrun.page" >&2
  exit 1
}
programs=("page=./getfilelist.exe ../tmp/$result N N" "true=/bin/true")
if command -v cc >/dev/null && echo 'int main(void) { return 0; }' >"$work/noop.c" &&
  cc -O2 -static -o "$work/noop" "$work/noop.c" 2>/dev/null; then
  programs+=("static-noop=$work/noop")
fi
if [ -n "$old" ]; then
  cp "$old" "$cgi/getfilelist.old"
  programs+=("old-page=./getfilelist.old ../tmp/$result N N")
  for r in exe old; do
    (cd "$cgi" && env -i PATH=/usr/bin:/bin REQUEST_METHOD= "./getfilelist.$r" "../tmp/$result" N N \
      >"$work/page.$r")
  done
  cmp -s "$work/page.exe" "$work/page.old" || {
    echo "the two renderers write different pages of $result" >&2
    exit 1
  }
fi
(cd "$cgi" && env -i PATH=/usr/bin:/bin REQUEST_METHOD= ./getfilelist.exe "../tmp/$result" N N |
  grep -q 'Results <b>') || {
  echo "the renderer's page of $result shows no hits" >&2
  exit 1
}

settle_programs "$cgi/getfilelist.exe" "$cgi/getfilelist.old" "$work/noop"
echo "== $runs runs of each, interleaved; ${made} documents, 3 indexes, query \"$word\""
# Each program is started as searchrun starts the renderer (a fresh process,
# its answer to a file), timed from the start to the parent's wait.
cd "$cgi"
env -i PATH=/usr/bin:/bin REQUEST_METHOD= python3 - "$runs" "${programs[@]}" <<'PY'
import os, statistics, sys, time
runs = int(sys.argv[1])
programs = [p.split("=", 1) for p in sys.argv[2:]]
out = os.open("/dev/null", os.O_WRONLY)
wall = {name: [] for name, _ in programs}
for r in range(runs + 3):
    for name, cmd in (programs if r % 2 else programs[::-1]):
        argv = cmd.split()
        start = time.perf_counter_ns()
        pid = os.posix_spawn(argv[0], argv, os.environ,
                             file_actions=[(os.POSIX_SPAWN_DUP2, out, 1)])
        _, status, _ = os.wait4(pid, 0)
        if status != 0:
            sys.exit(f"{name} failed: {status}")
        if r >= 3:  # the first rounds warm the caches
            wall[name].append((time.perf_counter_ns() - start) / 1e6)
med = {name: statistics.median(v) for name, v in wall.items()}
floor = med.get("static-noop", med["true"])
print(f"{'':14s} {'median ms':>10s} {'p10 ms':>8s} {'/floor':>7s} {'-floor ms':>10s}")
for name, _ in programs:
    p10 = sorted(wall[name])[len(wall[name]) // 10]
    print(f"{name:14s} {med[name]:10.2f} {p10:8.2f} {med[name] / floor:7.2f} "
          f"{med[name] - floor:10.2f}")
if "old-page" in med:
    print(f"new/old page {med['page'] / med['old-page']:.2f}; beyond the floor "
          f"{(med['page'] - floor) / max(med['old-page'] - floor, 1e-9):.2f}")
PY
