#!/usr/bin/env bash
# Documents of other formats against plain text, in one run: builds an index
# of each format's folder (PDF, DOCX, XLSX, PPTX, ODT, EPUB, mail: COPIES
# documents each, made by the document reader's test maker) and one of as
# many plain-text documents, in a temporary installation, and prints the
# documents per second and the peak memory (the builder and the readers it
# runs) of each; then the renderer's CPU time for a page of 10 PDF hits
# beside a page of 10 text hits, over RUNS runs each.
#
#   tests/bench/document_formats_bench.sh [BUILD_DIR] [COPIES] [RUNS]
#                                          (default: build 150 20)
set -euo pipefail
cd "$(dirname "$0")/../.."
repo=$(pwd)
build=$(cd "${1:-build}" && pwd)
copies=${2:-150}
runs=${3:-20}
. tests/bench/bench_lib.sh
work=$(mktemp -d)
[ -n "${KEEP:-}" ] || trap 'rm -rf "$work"' EXIT
chmod 0755 "$work"

# run_measured COMMAND...: "SECONDS MAXRSS_KB" of the command and every
# descendant it waited for.
run_measured() {
  /usr/bin/python3 -c '
import resource, subprocess, sys, time
start = time.monotonic()
done = subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL)
took = time.monotonic() - start
peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
sys.exit(done.returncode) if done.returncode else print("%.3f %d" % (took, peak))
' "$@"
}

echo "== documents: $copies of each format"
made=$work/made
mkdir -p "$made"
/usr/bin/python3 tests/extract/make_documents.py "$made" >/dev/null
formats=(pdf docx xlsx pptx odt epub eml)
# As many plain-text documents, of this machine's licence texts; the PDF
# files hold the same texts (so that their pages of hits compare), the
# other formats are copies of the test maker's document under other names.
make_documents "$work/text-docs" 1 "$copies"
mkdir -p "$work/docs"
mv "$work/text-docs/1" "$work/docs/text"
mkdir -p "$work/docs/pdf"
/usr/bin/python3 - "$work/docs/text" "$work/docs/pdf" <<'PY'
import os, sys
from reportlab.pdfgen import canvas
source, target = sys.argv[1:]
for name in sorted(os.listdir(source)):
    lines = open(os.path.join(source, name), errors="replace").read().splitlines()
    c = canvas.Canvas(os.path.join(target, name[:-4] + ".pdf"))
    for start in range(0, max(len(lines), 1), 60):
        y = 800
        for line in lines[start:start + 60]:
            c.drawString(40, y, line[:110])
            y -= 12
        c.showPage()
    c.save()
PY
for f in "${formats[@]:1}"; do
  mkdir -p "$work/docs/$f"
  for i in $(seq 1 "$copies"); do cp "$made/good.$f" "$work/docs/$f/doc$i.$f"; done
done
chmod -R a+rX "$work/docs"

root=$work/root
cmake --install "$build" --prefix "$root" >/dev/null
cd "$root/search-cgi"
declare -A index
printf '%-6s %10s %14s %12s\n' format documents "documents/s" "peak MiB"
total_docs=0 total_seconds=0
for f in "${formats[@]}" text; do
  read -r seconds peak < <(run_measured ../binind/index_builder --no-similar --quiet create \
    --owner bench --id "b$f" "$work/docs/$f")
  index[$f]=b$f
  printf '%-6s %10d %14.1f %12.1f\n' "$f" "$copies" "$(echo "$copies / $seconds" | bc -l)" \
    "$(echo "$peak / 1024" | bc -l)"
  if [ "$f" != text ]; then
    total_docs=$((total_docs + copies))
    total_seconds=$(echo "$total_seconds + $seconds" | bc -l)
  fi
done
printf '%-6s %10d %14.1f\n' "all" "$total_docs" "$(echo "$total_docs / $total_seconds" | bc -l)"

# page_cpu INDEX WORD: the renderer's CPU seconds (user + system) for the
# first page of 10 hits of a search for WORD in INDEX, median of $runs runs.
page_cpu() {
  local page result
  page=$(env -i PATH=/usr/bin:/bin REQUEST_METHOD=GET \
    QUERY_STRING="user=TESSERA&query=$2&index_id=7F000001_$1" ./searchrun)
  result=$(grep -o 'result=query[0-9]*' <<<"$page" | head -n1)
  [ -n "$result" ] || { echo "no result for $2 in $1" >&2; exit 1; }
  for _ in $(seq 1 "$runs"); do
    /usr/bin/python3 -c '
import os, resource, subprocess, sys
env = {"PATH": "/usr/bin:/bin", "REQUEST_METHOD": "GET", "QUERY_STRING": sys.argv[1]}
subprocess.run(["./getfilelist.exe"], env=env, stdout=subprocess.DEVNULL, check=True)
u = resource.getrusage(resource.RUSAGE_CHILDREN)
print("%.6f" % (u.ru_utime + u.ru_stime))
' "$result&page=1&no=10"
  done | median
}
echo "== the renderer's CPU for a page of 10 hits (median of $runs runs)"
pdf_cpu=$(page_cpu "${index[pdf]}" document)
text_cpu=$(page_cpu "${index[text]}" document)
printf 'PDF hits  %.2f ms\ntext hits %.2f ms\nratio     %.2f\n' "$(echo "$pdf_cpu * 1000" | bc -l)" \
  "$(echo "$text_cpu * 1000" | bc -l)" "$(echo "$pdf_cpu / $text_cpu" | bc -l)"
