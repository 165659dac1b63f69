#!/usr/bin/env bash
# Times whole requests, from process start to the end of the renderer, over
# indexes of the machine's documentation, and the time to the first page of a
# result of 100,000 hits (the fast path). Prints median and spread.
#
#   tests/bench/request_bench.sh [BUILD_DIR]      (default: build)
#   RUNS=20 HITS=100000 to change the repetitions and the large result.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
runs=${RUNS:-20}
hits=${HITS:-100000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

root=$work/root
cmake --install "$build" --prefix "$root" >/dev/null
cgi=$root/search-cgi

# Indexes of the machine's own documentation.
mkdir -p "$work/docs/licenses" "$work/docs/packages"
cp -L /usr/share/common-licenses/* "$work/docs/licenses/" 2>/dev/null || true
mapfile -t found < <(find /usr/share/doc -maxdepth 2 -type f -name 'copyright' | sort | head -n 400)
for f in "${found[@]}"; do
  cp "$f" "$work/docs/packages/$(basename "$(dirname "$f")").txt"
done
ids=()
for d in licenses packages; do
  ids+=("$(cd "$cgi" && ../binind/index_builder create --owner bench "$work/docs/$d")")
done
all=""
for id in "${ids[@]}"; do all+="&index_id=7F000001_$id"; done

now_ns() { date +%s%N; }

# Prints "median min max" in milliseconds of the numbers (ns) on stdin.
summary() {
  sort -n | awk '{ v[NR] = $1 / 1e6 } END {
    m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2;
    printf "median %7.2f ms   min %7.2f   max %7.2f   (n=%d)\n", m, v[1], v[NR], NR }'
}

request() {  # query string
  (cd "$cgi" && env -i PATH=/usr/bin:/bin REQUEST_METHOD=GET QUERY_STRING="$1" ./searchrun >/dev/null)
}

echo "Whole request (searchrun + renderer), $runs runs each:"
for q in license copyright "free AND software" "gnu OR bsd" "permission NOT warranty" 'modif*'; do
  qs="user=TESSERA&search_no=0&query=$(printf '%s' "$q" | sed 's/ /+/g')$all"
  request "$qs"  # warm the page cache
  for _ in $(seq "$runs"); do
    s=$(now_ns); request "$qs"; e=$(now_ns); echo $((e - s))
  done | summary | sed "s/^/  $(printf '%-26s' "\"$q\"")/"
done

# The large result: one index whose every record matches.
echo
echo "Building an index of $hits small documents..."
mkdir -p "$work/many"
awk -v n="$hits" -v dir="$work/many" 'BEGIN {
  for (i = 0; i < n; i++) { f = sprintf("%s/doc%06d.txt", dir, i); print "common word " i > f; close(f) } }'
s=$(now_ns)
big=$(cd "$cgi" && ../binind/index_builder create --owner bench "$work/many")
e=$(now_ns)
echo "  built in $(( (e - s) / 1000000 )) ms"
qs="user=TESSERA&query=common&no_rec=10&index_id=7F000001_$big"
echo "First page and whole run of $hits hits (no_rec=10: the first 200 records are rendered first):"
for _ in $(seq 5); do
  s=$(now_ns)
  (cd "$cgi" && env -i PATH=/usr/bin:/bin REQUEST_METHOD=GET QUERY_STRING="$qs" ./searchrun) |
    { head -c 1 >/dev/null; now_ns >"$work/first"; cat >/dev/null; }
  e=$(now_ns)
  echo "$(( $(cat "$work/first") - s )) $((e - s))"
done >"$work/large"
echo -n "  time to first page: "; cut -d' ' -f1 "$work/large" | summary
echo -n "  whole run:          "; cut -d' ' -f2 "$work/large" | summary
