#!/usr/bin/env bash
# Sets up a demo of the search system on this machine and searches it:
# builds and installs it into a demo root, indexes the machine's own
# documentation, starts a web server on 127.0.0.1 whose CGI directory is the
# installation's, and runs one search from the command line.
#
#   DEMO_ROOT   installation root            (default: out/demo)
#   DEMO_PORT   port of the web server       (default: 8080)
#   DEMO_ACCOUNT  unprivileged account the web server and the programs it
#               starts run as (default: searchrun; created when missing)
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
account=${DEMO_ACCOUNT:-searchrun}
mkdir -p "$root/demo"
root=$(cd "$root" && pwd)

# Searches run as an account of their own, never as root: only it may write
# the installation's results, logs and permits.
if ! id -u "$account" >/dev/null 2>&1; then
  useradd --system --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin "$account"
fi
if ! runuser -u "$account" -- test -x "$root"; then
  echo "The account $account cannot reach $root; choose another DEMO_ROOT." >&2
  exit 1
fi

echo "== building"
# The programs only: the tests have a command of their own.
cmake -G Ninja -S . -B build-demo -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSEARCHRUN_TESTS=OFF \
  -DSEARCHRUN_SERVER_ACCOUNT="$account" >/dev/null
ninja -C build-demo
cmake --install build-demo --prefix "$root" >/dev/null
# Indexes are built as the same account, so that searches can read them.
chown -R "$account:" "$root/system"
echo "Demo installation: $root (searches run as $account)"
# Runs a program as the account (setpriv replaces itself by the program).
as_account() { setpriv --reuid="$account" --regid="$account" --init-groups -- "$@"; }

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
  as_account ../binind/index_builder create --owner demo --desc "$2" "$1"
}
ids=()
descs=()
folders=()
for pair in "licenses:Licenses" "packages:Package documentation" "manuals:Manual pages"; do
  folder=${pair%%:*}
  desc=${pair#*:}
  if [ -n "$(ls -A "$docs/$folder" 2>/dev/null)" ]; then
    id=$(build_index "$docs/$folder" "$desc")
    ids+=("$id")
    descs+=("$desc")
    folders+=("$folder")
    echo "  $desc: index $id ($(ls "$docs/$folder" | wc -l) documents)"
  fi
done
# A protected index: the access file says who may read which of its
# documents; alice and carol, signed in below, see different hits.
company=$root/demo-company
rm -rf "$company"
mkdir -p "$company/pub" "$company/hr" "$company/eng"
echo "<title>Welcome</title><p>The company handbook for everyone.</p>" >"$company/pub/welcome.html"
echo "<title>Salaries 2024</title><p>The handbook of pay grades.</p>" >"$company/hr/salaries.html"
echo "<title>Engine design</title><meta name=\"author\" content=\"Alice\"><p>The handbook of the engine.</p>" \
  >"$company/eng/design.html"
printf '# who may read what (see README)\n@engineers\talice\npub/*\t*\nhr/*\tcarol\neng/*\t@engineers\n' \
  >"$root/demo/access.txt"
protected=$(as_account ../binind/index_builder create --owner demo --desc "Company (protected)" \
  --access "$root/demo/access.txt" "$company")
echo "  Company (protected): index $protected (3 documents, readers by $root/demo/access.txt)"
host=$(head -n 1 ../host_address)
uid_prefix=$(printf '%02X%02X%02X%02X' ${host//./ })

echo "== writing the search page"
options=""
for i in "${!ids[@]}"; do
  options+="<label><input type=\"checkbox\" name=\"index_id\" value=\"${uid_prefix}_${ids[$i]}\" checked> ${descs[$i]}</label><br>"
done
options+="<label><input type=\"checkbox\" name=\"index_id\" value=\"${uid_prefix}_$protected\"> Company (protected: unsigned searches see its public part)</label><br>"

# Two classes: the reference texts, and all documentation (the package
# documentation and, as a sub-class, the reference texts).
{
  echo "# The demo's classes, written by scripts/demo.sh."
  echo "[Reference]"
  echo "uid = REF"
  for i in "${!ids[@]}"; do [ "${folders[$i]}" = packages ] || echo "index = ${ids[$i]}"; done
  echo
  echo "[All documentation]"
  echo "uid = ALL"
  for i in "${!ids[@]}"; do [ "${folders[$i]}" != packages ] || echo "index = ${ids[$i]}"; done
  echo "subclass = Reference"
} >"$root/setting/index_class.cfg"
classes="<option value=\"All documentation\">All documentation</option>"
classes+="<option value=\"Reference\">Reference (licenses, manual pages)</option>"
sed -e "s|@INDEX_OPTIONS@|$options|" -e "s|@CLASS_OPTIONS@|$classes|" \
  "$repo/site/demo/index.html" >"$root/search/index.html"

if [ -z "${DEMO_NO_SERVER:-}" ]; then
  echo "== starting the web server"
  conf=$root/demo/lighttpd.conf
  mkdir -p "$root/demo/htdocs"
  sed -e "s|@ROOT@|$root|g" -e "s|@PORT@|$port|g" -e "s|@ACCOUNT@|$account|g" \
    "$repo/site/demo/lighttpd.conf" >"$conf"
  chown "$account:" "$root/demo"
  for pidfile in "$root/demo/lighttpd.pid" "$root/demo/expire.pid" "$root/demo/class.pid" \
    "$root/run/engine.lock"; do
    if [ -s "$pidfile" ]; then
      kill "$(cat "$pidfile")" 2>/dev/null || true
      sleep 0.5
    fi
  done
  # The engine service keeps the indexes open between searches; where a
  # service manager runs, the installed binind/searchrun-engine.service does
  # this instead.
  # (setpriv itself, not the shell function, so that $! is the program's pid.)
  setpriv --reuid="$account" --regid="$account" --init-groups -- \
    nohup ../binind/vela_service --root "$root" >"$root/demo/engine.log" 2>&1 </dev/null &
  # The class server tells the searches which indexes a class holds; where
  # systemd runs, binind/searchrun-class-server.service does this instead.
  setpriv --reuid="$account" --regid="$account" --init-groups -- \
    nohup ../binind/class_server --root "$root" >"$root/demo/class.log" 2>&1 </dev/null &
  echo $! >"$root/demo/class.pid"
  # The web server starts as root only to take the port, then runs as the
  # account, and so does every CGI program it starts.
  lighttpd -f "$conf"
  # Results expire after RESULT_EXPIRE_MINUTES; where systemd runs, the
  # installed timer (binind/searchrun-expire.timer) does this instead.
  setpriv --reuid="$account" --regid="$account" --init-groups -- \
    nohup ../binind/expire_results --root "$root" --every 600 >"$root/demo/expire.log" 2>&1 </dev/null &
  echo $! >"$root/demo/expire.pid"
fi

echo "== the protected index, for two signed-in users"
signed_in=()
for user in alice carol; do
  key=$(as_account ./ks_permit create --user "$user")
  key=${key#ks_key=}
  echo "$user sees:"
  as_account env -i PATH=/usr/bin:/bin REQUEST_METHOD=GET \
    QUERY_STRING="user=$user&ks_key=$key&query=handbook&xml=1&index_id=${uid_prefix}_$protected" \
    ./searchrun | "$repo/scripts/show-hits.sh"
  signed_in+=("  $user: http://127.0.0.1:$port/search-cgi/searchrun?user=$user&ks_key=$key&query=handbook&index_id=${uid_prefix}_$protected")
done

echo "== one search from the command line"
all=""
for id in "${ids[@]}"; do all+="&index_id=${uid_prefix}_$id"; done
query=${DEMO_QUERY:-license}
as_account env -i PATH=/usr/bin:/bin REQUEST_METHOD=GET \
  QUERY_STRING="user=TESSERA&query=$query&search_no=0&no_rec=5&xml=1$all" ./searchrun |
  "$repo/scripts/show-hits.sh"

# The administrator's report of the search log (the search above is in it).
as_account ../binind/search_report --root "$root" >"$root/search/report.html"
chmod 0644 "$root/search/report.html"

if [ -z "${DEMO_NO_SERVER:-}" ]; then
  first=$(ls -t "$root/tmp" | grep -E '^query[0-9]+$' | head -n 1)
  echo
  echo "Search page: http://127.0.0.1:$port/search/index.html"
  echo "Search log report: http://127.0.0.1:$port/search/report.html"
  echo "The protected index as each signed-in user sees it:"
  printf '%s\n' "${signed_in[@]}"
  echo "The first hit of the search above, as text, as its own bytes, and the page as JSON:"
  echo "  http://127.0.0.1:$port/search-cgi/getfilelist.exe?result=$first&view=1"
  echo "  http://127.0.0.1:$port/search-cgi/getfilelist.exe?result=$first&view=1&raw=1"
  echo "  http://127.0.0.1:$port/search-cgi/getfilelist.exe?result=$first&page=1&no=5&format=json"
  echo "Stop the server: kill \$(cat $root/demo/lighttpd.pid) \$(cat $root/demo/expire.pid)" \
    "\$(cat $root/demo/class.pid) \$(cat $root/run/engine.lock)"
fi
