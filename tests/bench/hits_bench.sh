#!/usr/bin/env bash
# How the cost of a search grows with its hits: one-word requests of
# searchrun over one index of this machine's manual pages (11,000 by
# default), for a word that few records hold and for one that thousands do,
# one fresh CGI process per request as a web server starts it; the same two
# words with Omega (xapian-omega) on the same documents when it is
# installed. Prints the medians and the ratio common/rare of each program.
# With the build of a base commit, that build is measured in the same run
# too, and searchrun's figures are also given as new/base.
#
#   tests/bench/hits_bench.sh [BUILD_DIR] [BASE_BUILD_DIR]  (default: build, none)
#   RUNS=21 DOCS=11000 COMMON=file RARE=<word> change the repetitions, the
#   documents and the two words (RARE defaults to the first word of the
#   corpus, in sorted order, that 5 to 12 documents hold).
#
# A base build without the tests, for instance:
#   git archive REV | tar -x -C /tmp/base-src
#   cmake -G Ninja -S /tmp/base-src -B /tmp/base-build -DSEARCHRUN_TESTS=OFF \
#     -DCMAKE_BUILD_TYPE=RelWithDebInfo && ninja -C /tmp/base-build
#
# Everything lives in one temporary folder; the engine services are ended on
# exit.
set -euo pipefail
cd "$(dirname "$0")/../.."
. tests/bench/bench_lib.sh
build=$(cd "${1:-build}" && pwd)
base=
[ -n "${2:-}" ] && base=$(cd "$2" && pwd)
runs=${RUNS:-21}
docs=${DOCS:-11000}
common=${COMMON:-file}
omega_cgi=/usr/lib/cgi-bin/omega/omega
have_omega=
command -v omindex >/dev/null && [ -x "$omega_cgi" ] && have_omega=1
work=$(mktemp -d)
cleanup() {
  for root in "$work/new" "$work/base"; do engine_service stop "$root" || true; done
  rm -rf "$work"
}
trap cleanup EXIT

echo "== corpus"
made=$(make_man_documents "$work/docs" 1 "$docs")
# The rare word: a plain lower-case word of a handful of documents, the same
# on every run of one machine.
rare=${RARE:-$(python3 - "$work/docs/1" <<'PY'
import os, re, sys
top = sys.argv[1]
df = {}
for name in sorted(os.listdir(top)):
    with open(os.path.join(top, name), encoding="utf-8", errors="replace") as f:
        for w in set(re.findall(r"\b[a-z]{6,12}\b", f.read())):
            df[w] = df.get(w, 0) + 1
print(next(w for w in sorted(df) if 5 <= df[w] <= 12))
PY
)}
echo "   $made manual pages in one index; words \"$rare\" (rare) and \"$common\" (common)"

echo "== indexing"
install_indexed "$work/new" "$build" "$work/docs" 1
if [ -n "$have_omega" ]; then
  omega=$work/omega
  mkdir -p "$omega/data" "$omega/log" "$omega/cdb"
  omindex --db "$omega/data/1" --url "/docs/1/" "$work/docs/1" >"$omega/omindex.log" 2>&1
  printf 'database_dir %s\ntemplate_dir %s\nlog_dir %s\ncdb_dir %s\n' "$omega/data" \
    /usr/share/xapian-omega/templates "$omega/log" "$omega/cdb" >"$omega/omega.conf"
fi
[ -z "$base" ] || install_indexed "$work/base" "$base" "$work/docs" 1

# request SIDE WORD PAGE: one request of SIDE (new, base or omega) for WORD,
# its page to PAGE, with the environment a web server gives a CGI program.
# searchrun's requests ask for no related terms and no suggestions: their
# costs are not the hits'.
request() {
  local dir program query extra=()
  case $1 in
  omega)
    dir=${omega_cgi%/*} program=$omega_cgi query="P=$2&HITSPERPAGE=10&DB=1"
    extra=(OMEGA_CONFIG_FILE="$omega/omega.conf")
    ;;
  *)
    dir=$work/$1/search-cgi program=./searchrun
    query="user=TESSERA&search_no=0&no_rec=10&query=$2&index_id=$(head -n 1 "$work/$1/uids")"
    query+="&reltermoption=0&similar_keyword_option=0"
    ;;
  esac
  (cd "$dir" && env -i PATH=/usr/bin:/bin GATEWAY_INTERFACE=CGI/1.1 SERVER_PROTOCOL=HTTP/1.1 \
    SERVER_SOFTWARE=bench SERVER_NAME=127.0.0.1 SERVER_PORT=80 REMOTE_ADDR=127.0.0.1 \
    REQUEST_METHOD=GET SCRIPT_NAME="/cgi-bin/${program##*/}" QUERY_STRING="$query" \
    "${extra[@]}" "$program" >"$3" 2>/dev/null) || true
}

# The hit count a page shows, or nothing for a page without hits.
hits_of() {
  local text
  text=$(tr -d '\r' <"$2")
  case $1 in
  omega) [[ $text =~ ([1-9][0-9,]*)\ matches ]] ;;
  *) [[ $text =~ of\ \<b\>([1-9][0-9,]*) ]] ;;
  esac && echo "${BASH_REMATCH[1]}"
}

# timed SIDE WORD: ms[SIDE.WORD] becomes the median milliseconds of RUNS
# requests after two that warm the caches, count[SIDE.WORD] the hits shown.
declare -A ms count
timed() {
  local page=$work/page times=() s e
  request "$1" "$2" "$page"
  request "$1" "$2" "$page"
  count[$1.$2]=$(hits_of "$1" "$page") || {
    echo "$1 answered \"$2\" without hits:" >&2
    head -c 2000 "$page" >&2
    exit 1
  }
  for _ in $(seq "$runs"); do
    s=${EPOCHREALTIME/./}
    request "$1" "$2" "$page"
    e=${EPOCHREALTIME/./}
    times+=($((e - s)))
  done
  ms[$1.$2]=$(printf '%s\n' "${times[@]}" | median | awk '{ printf "%.2f", $1 / 1000 }')
}

ratio() {
  awk -v a="$1" -v b="$2" 'BEGIN { if (a + 0 > 0 && b + 0 > 0) printf "%.2f", a / b; else printf "-" }'
}

sides=(new ${base:+base} ${have_omega:+omega})
echo "== one-word requests over one index, $runs of each"
# The sides take turns word by word, so that a change of the machine's load
# falls on all of them alike; each engine service runs only for its turn.
for word in "$rare" "$common"; do
  for side in "${sides[@]}"; do
    [ "$side" = omega ] || engine_service start "$work/$side"
    timed "$side" "$word"
    [ "$side" = omega ] || engine_service stop "$work/$side"
  done
done

printf '%-10s %14s %14s %14s\n' "" "rare, ms" "common, ms" "common/rare"
for side in "${sides[@]}"; do
  printf '%-10s %14s %14s %14s\n' "$side" "${ms[$side.$rare]}" "${ms[$side.$common]}" \
    "$(ratio "${ms[$side.$common]}" "${ms[$side.$rare]}")"
done
for side in "${sides[@]}"; do
  echo "   hits of $side: \"$rare\" ${count[$side.$rare]}, \"$common\" ${count[$side.$common]}"
done
if [ -n "$have_omega" ]; then
  echo "   new/omega: rare $(ratio "${ms[new.$rare]}" "${ms[omega.$rare]}")," \
    "common $(ratio "${ms[new.$common]}" "${ms[omega.$common]}")"
fi
if [ -n "$base" ]; then
  echo "   new/base: rare $(ratio "${ms[new.$rare]}" "${ms[base.$rare]}")," \
    "common $(ratio "${ms[new.$common]}" "${ms[base.$common]}")"
fi
