#!/usr/bin/env bash
# Sets up a demo of the search system on this machine and searches it:
# builds and installs it into a demo root, indexes the machine's own
# documentation, starts a web server on 127.0.0.1 whose CGI directory is the
# installation's, and runs one search from the command line.
#
#   DEMO_ROOT   installation root            (default: out/demo)
#   DEMO_PORT   port of the web server       (default: 8080)
#   DEMO_NO_SERVER=1   skip the web server   (the command-line search still runs)
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
./scripts/install-deps.sh
if [ -z "${DEMO_NO_SERVER:-}" ] && ! command -v lighttpd >/dev/null; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends lighttpd
fi

root=${DEMO_ROOT:-$repo/out/demo}
port=${DEMO_PORT:-8080}
mkdir -p "$root"
root=$(cd "$root" && pwd)

echo "== building"
# The programs only: the tests have a command of their own.
cmake -G Ninja -S . -B build-demo -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSEARCHRUN_TESTS=OFF >/dev/null
ninja -C build-demo
cmake --install build-demo --prefix "$root" >/dev/null
echo "Demo installation: $root"

# The web server's own user must be able to write results and logs.
chmod 1777 "$root/tmp" "$root/logs" "$root/search-cgi/tmp" "$root/permit" "$root/debug" \
  "$root/system_log/query" 2>/dev/null || true

echo "== collecting documents"
docs=$root/demo-docs
rm -rf "$docs"
mkdir -p "$docs/licenses" "$docs/packages" "$docs/manuals"
cp -L /usr/share/common-licenses/* "$docs/licenses/" 2>/dev/null || true
# Package documentation: plain text and HTML, unpacked where compressed.
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
# Manual pages rendered to text, where the formatter is installed.
if command -v man >/dev/null; then
  for page in ls cp mv grep find tar bash gzip sed awk cmake ninja make gcc git; do
    MANWIDTH=80 man -P cat "$page" 2>/dev/null | col -bx >"$docs/manuals/$page.txt" 2>/dev/null || true
    [ -s "$docs/manuals/$page.txt" ] || rm -f "$docs/manuals/$page.txt"
  done
fi

echo "== building indexes"
cd "$root/search-cgi"
build_index() {  # folder, description -> prints the index id
  ../binind/index_builder create --owner demo --desc "$2" "$1"
}
ids=()
descs=()
for pair in "licenses:Licenses" "packages:Package documentation" "manuals:Manual pages"; do
  folder=${pair%%:*}
  desc=${pair#*:}
  if [ -n "$(ls -A "$docs/$folder" 2>/dev/null)" ]; then
    id=$(build_index "$docs/$folder" "$desc")
    ids+=("$id")
    descs+=("$desc")
    echo "  $desc: index $id ($(ls "$docs/$folder" | wc -l) documents)"
  fi
done
host=$(head -n 1 ../host_address)
uid_prefix=$(printf '%02X%02X%02X%02X' ${host//./ })

echo "== writing the search page"
options=""
for i in "${!ids[@]}"; do
  options+="<label><input type=\"checkbox\" name=\"index_id\" value=\"${uid_prefix}_${ids[$i]}\" checked> ${descs[$i]}</label><br>"
done
sed "s|@INDEX_OPTIONS@|$options|" "$repo/site/demo/index.html" >"$root/search/index.html"

if [ -z "${DEMO_NO_SERVER:-}" ]; then
  echo "== starting the web server"
  conf=$root/demo/lighttpd.conf
  mkdir -p "$root/demo/htdocs"
  sed -e "s|@ROOT@|$root|g" -e "s|@PORT@|$port|g" "$repo/site/demo/lighttpd.conf" >"$conf"
  if [ -f "$root/demo/lighttpd.pid" ]; then
    kill "$(cat "$root/demo/lighttpd.pid")" 2>/dev/null || true
    sleep 0.5
  fi
  lighttpd -f "$conf"
fi

echo "== one search from the command line"
all=""
for id in "${ids[@]}"; do all+="&index_id=${uid_prefix}_$id"; done
query=${DEMO_QUERY:-license}
env -i PATH=/usr/bin:/bin REQUEST_METHOD=GET \
  QUERY_STRING="user=TESSERA&query=$query&search_no=0&no_rec=5&xml=1$all" ./searchrun |
  "$repo/scripts/show-hits.sh"

if [ -z "${DEMO_NO_SERVER:-}" ]; then
  echo
  echo "Search page: http://127.0.0.1:$port/search/index.html"
  echo "Stop the server: kill \$(cat $root/demo/lighttpd.pid)"
fi
