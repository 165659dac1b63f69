#!/usr/bin/env bash
# Collects the demo's documents into DIR: DIR/licenses (the licence texts
# every machine has) and DIR/packages (the package documentation, plain text
# and HTML, unpacked where compressed, named PACKAGE-FILE). Shared by
# scripts/demo.sh and tests/bench/relevance_bench.sh, which measures the
# ranking over the same documents.
#   scripts/demo-docs.sh DIR
set -euo pipefail
docs=$1
mkdir -p "$docs/licenses" "$docs/packages"
cp -L /usr/share/common-licenses/* "$docs/licenses/" 2>/dev/null || true
mapfile -t found < <(find /usr/share/doc -maxdepth 2 -type f \
  \( -name 'README*' -o -name '*.txt' -o -name '*.html' -o -name 'copyright' -o -name 'NEWS*' \) \
  2>/dev/null | sort | head -n 600)
for f in "${found[@]}"; do
  pkg=$(basename "$(dirname "$f")")
  name=$(basename "$f")
  case $name in
    *.gz) gzip -dc "$f" >"$docs/packages/$pkg-${name%.gz}" 2>/dev/null || true ;;
    *) cp "$f" "$docs/packages/$pkg-$name" 2>/dev/null || true ;;
  esac
done
