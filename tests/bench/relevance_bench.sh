#!/usr/bin/env bash
# Relevance of the ranking over the demo's documents: indexes the licence
# texts and the package documentation exactly as scripts/demo.sh collects
# them, in a temporary installation, runs each query of the list below over
# both indexes as one search, and prints the rank of the first document a
# person would expect on top, with the first hits and how many different
# headings the first ten hits show.
#
#   tests/bench/relevance_bench.sh [BUILD_DIR]     (default: build)
#
# A query whose expected documents are not on this machine (the package
# documentation depends on what is installed) is reported as skipped.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=$(cd "${1:-build}" && pwd)
work=$(mktemp -d)
[ -n "${KEEP:-}" ] || trap 'rm -rf "$work"' EXIT

# QUERY|EXPECTED: the expected documents as extended regular expressions
# over the file names of the collection ("licenses/" or "packages/" first).
queries=(
  'license|licenses/.*'
  'gpl|licenses/GPL(-[0-9])?'
  'apache|licenses/Apache-2\.0'
  'artistic|licenses/Artistic'
  'bsd|licenses/BSD'
  'mozilla|licenses/MPL-.*'
  'lesser general public license|licenses/LGPL.*'
  'free documentation license|licenses/GFDL.*'
  'creative commons|licenses/CC0-1\.0'
  'cmake|packages/cmake(-data)?-copyright'
  'googletest|packages/(googletest|libgtest-dev)-.*'
  'chromium|packages/chromium(-common)?-.*'
  'benchmark|packages/libbenchmark(-dev|1debian)-.*'
  'build-essential|packages/build-essential-.*'
)

echo "== collecting documents"
docs=$work/docs
scripts/demo-docs.sh "$docs"
echo "  $(ls "$docs/licenses" | wc -l) licences, $(ls "$docs/packages" | wc -l) package documents"

(cd "$docs" && ls -1d licenses/* packages/*) >"$work/names"

echo "== building the indexes"
root=$work/root
cmake --install "$build" --prefix "$root" >/dev/null
ids=""
declare -A folder_of
for folder in licenses packages; do
  id=$(cd "$root/search-cgi" && ../binind/index_builder --no-similar create --owner bench \
    --desc "$folder" "$docs/$folder")
  ids+="&index_id=7F000001_$id"
  folder_of[$id]=$folder
done

# hits QUERY: "folder/file<TAB>score<TAB>copies<TAB>title" of the first 100 hits,
# best first (copies: how many documents of the same content the hit stands
# for, where the search shows copies as one hit).
hits() {
  local q
  q=$(printf '%s' "$1" | sed 's/ /+/g')
  (cd "$root/search-cgi" && env -i PATH=/usr/bin:/bin REQUEST_METHOD=GET \
    QUERY_STRING="user=TESSERA&query=$q&search_no=0&no_rec=100&xml=1$ids" ./searchrun) |
    tr -d '\r' | tr '\n' ' ' | sed 's/<hit /\n<hit /g; s/<\/hits>/\n/' | awk '
      function field(name,   m) {
        if (match($0, "<" name "[^>]*>[^<]*</" name ">")) {
          m = substr($0, RSTART, RLENGTH); sub(/^<[^>]*>/, "", m); sub(/<[^>]*>$/, "", m)
          return m
        }
        return ""
      }
      /^<hit / {
        id = ""; copies = 1
        if (match($0, /<index id="[^"]*"/)) id = substr($0, RSTART + 11, RLENGTH - 12)
        if (match($0, /<copies count="[0-9]*"/)) copies = substr($0, RSTART + 15, RLENGTH - 16)
        printf "%s\t%s\t%s\t%s\t%s\n", id, field("file"), field("score"), copies, field("title")
      }' | while IFS=$'\t' read -r id file score copies title; do
      printf '%s/%s\t%s\t%s\t%s\n' "${folder_of[${id#*_}]:-?}" "$file" "$score" "$copies" "$title"
    done
}

echo "== queries (rank of the first expected document among the first 100 hits)"
printf '%-32s %6s  %-40s %s\n' query rank "first expected" "headings in top 10"
for entry in "${queries[@]}"; do
  query=${entry%%|*}
  expected=${entry#*|}
  if ! grep -Eqx "$expected" "$work/names"; then
    printf '%-32s %6s  (no expected document on this machine: %s)\n' "$query" skipped "$expected"
    continue
  fi
  hits "$query" >"$work/hits"
  rank=$(cut -f1 "$work/hits" | grep -Enx "$expected" | head -n1 | cut -d: -f1 || true)
  first=$(cut -f1 "$work/hits" | grep -Ex "$expected" | head -n1 || true)
  headings=$(head -n 10 "$work/hits" | cut -f4 | sort -u | wc -l)
  printf '%-32s %6s  %-40s %s\n' "$query" "${rank:->100}" "${first:--}" "$headings"
  head -n 3 "$work/hits" | awk -F'\t' '{ printf "      %2d. [%s] %s%s  \"%s\"\n", NR, $2, $1,
    ($3 > 1 ? " (" $3 " copies)" : ""), substr($4, 1, 50) }'
done
