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
#   DEMO_HOST   address this installation answers to (default: 127.0.1.1)
#   DEMO_PEER_HOST, DEMO_PEER_ROOT   the second "host": its address (default
#               127.0.0.2) and installation root (default: DEMO_ROOT-peer)
#   DEMO_NO_SERVER=1   skip the web server   (the command-line search still runs)
#
# Two hosts run on this machine: this installation and a peer on a second
# loopback address, each with its engine service and its agent. The manual
# pages are indexed on the peer, so one search merges hits of both hosts.
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
mkdir -p "$root"
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
host_a=${DEMO_HOST:-127.0.1.1}
host_b=${DEMO_PEER_HOST:-127.0.0.2}
peer=${DEMO_PEER_ROOT:-$root-peer}
mkdir -p "$peer"
peer=$(cd "$peer" && pwd)
for pair in "$root:$host_a" "$peer:$host_b"; do
  dir=${pair%%:*}
  cmake --install build-demo --prefix "$dir" >/dev/null
  # The address other hosts know this one by: an index of any other
  # address is searched through that host's agent.
  echo "${pair#*:}" >"$dir/host_address"
  # Searches reach only the agents listed here: each installation lists
  # the other one's, at its query server port.
  other=$host_b other_root=$peer
  [ "$dir" = "$peer" ] && other=$host_a other_root=$root
  echo "AGENT_HOSTS=$other:$(head -n1 "$other_root/setting/ts_query_server_port.cfg" 2>/dev/null ||
    echo 20001)" >>"$dir/setting/search_option.cfg"
  # Indexes are built as the same account, so that searches can read them.
  chown -R "$account:" "$dir/system"
done
echo "Demo installation: $root, answering to $host_a (searches run as $account)"
echo "Its peer: $peer, answering to $host_b"
# Runs a program as the account (setpriv replaces itself by the program).
as_account() { setpriv --reuid="$account" --regid="$account" --init-groups -- "$@"; }

echo "== collecting documents"
docs=$root/demo-docs
rm -rf "$docs"
mkdir -p "$docs/manuals"
"$repo/scripts/demo-docs.sh" "$docs"
# Manual pages rendered to text, where the formatter is installed.
if command -v man >/dev/null; then
  for page in ls cp mv grep find tar bash gzip sed awk cmake ninja make gcc git; do
    MANWIDTH=80 man -P cat "$page" 2>/dev/null | col -bx >"$docs/manuals/$page.txt" 2>/dev/null || true
    [ -s "$docs/manuals/$page.txt" ] || rm -f "$docs/manuals/$page.txt"
  done
fi

# Office documents, PDF files and mail, as the document reader's tests make
# them (the good ones only).
made=$(mktemp -d)
/usr/bin/python3 "$repo/tests/extract/make_documents.py" "$made" >/dev/null
mkdir -p "$docs/office"
for f in good.pdf good.docx good.odt good.xlsx good.pptx good.epub good.eml; do
  [ ! -f "$made/$f" ] || cp "$made/$f" "$docs/office/"
done
rm -rf "$made"
chmod -R a+rX "$docs"

echo "== building indexes"
cd "$root/search-cgi"
build_index() {  # installation, folder, description -> prints the index id
  (cd "$1/search-cgi" && as_account ../binind/index_builder --no-similar create --owner demo \
    --desc "$3" "$2")
}
uid_of() {  # address, index id -> the index uid
  local a
  IFS=. read -ra a <<<"$1"
  printf '%02X%02X%02X%02X_%s' "${a[@]}" "$2"
}
uids=()
descs=()
folders=()
# The manual pages live on the peer (the licenses stand in where no manual
# pages could be rendered).
[ -n "$(ls -A "$docs/manuals" 2>/dev/null)" ] || cp "$docs/licenses/"* "$docs/manuals/"
for entry in "licenses:Licenses:$root:$host_a" "packages:Package documentation:$root:$host_a" \
  "office:Office documents:$root:$host_a" \
  "manuals:Manual pages:$peer:$host_b"; do
  IFS=: read -r folder desc dir address <<<"$entry"
  if [ -n "$(ls -A "$docs/$folder" 2>/dev/null)" ]; then
    id=$(build_index "$dir" "$docs/$folder" "$desc")
    uids+=("$(uid_of "$address" "$id")")
    descs+=("$desc")
    folders+=("$folder")
    echo "  $desc: index $id on $address ($(ls "$docs/$folder" | wc -l) documents)"
  fi
done
# A table of this host to search by field: the installed packages.
table=$root/demo-tables/packages.csv
mkdir -p "$(dirname "$table")"
{ echo "name,version,section,size"
  dpkg-query -W -f='${Package},${Version},${Section},${Installed-Size}\n' 2>/dev/null || true; } >"$table"
chmod 0644 "$table"
db_id=$(as_account ../binind/index_builder create --owner demo --desc "Installed packages" \
  --type db "$table")
db_uid=$(uid_of "$host_a" "$db_id")
echo "  Installed packages: index $db_id on $host_a ($(($(wc -l <"$table") - 1)) rows)"

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
  >"$root/demo-access.txt"
protected=$(uid_of "$host_a" "$(as_account ../binind/index_builder create --owner demo \
  --desc "Company (protected)" --access "$root/demo-access.txt" "$company")")
echo "  Company (protected): index ${protected#*_} on $host_a (readers: $root/demo-access.txt)"

# The words the searches propose ("did you mean") come from every index of
# an installation, gathered into ROOT/similar_term once they are all built.
for dir in "$root" "$peer"; do
  (cd "$dir/search-cgi" && ../binind/index_builder similar)
done

echo "== writing the search page"
options=""
for i in "${!uids[@]}"; do
  where=""
  [ "${folders[$i]}" != manuals ] || where=" (on the peer, $host_b)"
  options+="<label><input type=\"checkbox\" name=\"index_id\" value=\"${uids[$i]}\" checked> ${descs[$i]}$where</label><br>"
done
options+="<label><input type=\"checkbox\" name=\"index_id\" value=\"$protected\"> Company (protected: without signing in, its public part)</label><br>"

# Two classes of this host's indexes: the licenses, and all documentation
# (the package documentation and, as a sub-class, the licenses).
{
  echo "# The demo's classes, written by scripts/demo.sh."
  echo "[Reference]"
  echo "uid = REF"
  for i in "${!uids[@]}"; do [ "${folders[$i]}" != licenses ] || echo "index = ${uids[$i]#*_}"; done
  echo
  echo "[All documentation]"
  echo "uid = ALL"
  for i in "${!uids[@]}"; do [ "${folders[$i]}" != packages ] || echo "index = ${uids[$i]#*_}"; done
  echo "subclass = Reference"
} >"$root/setting/index_class.cfg"
classes="<option value=\"All documentation\">All documentation</option>"
classes+="<option value=\"Reference\">Reference (licenses)</option>"
# The installation's page template, with the demo's class choice and its
# search by field added.
page=$(<"$root/template/search_page.html")
page=${page/'<!--more-scope-->'/"$(<"$repo/site/demo/class_scope.html")"}
page=${page/'<!--more-forms-->'/"$(<"$repo/site/demo/field_form.html")"}
page=${page/@INDEX_OPTIONS@/"$options"}
page=${page/@CLASS_OPTIONS@/"$classes"}
page=${page/@DB_INDEX_UID@/"$db_uid"}
printf '%s\n' "$page" >"$root/search/index.html"

echo "== starting the services"
# Where a service manager runs, the unit files installed in binind/ do this
# instead: searchrun-engine, searchrun-agent, searchrun-class-server and the
# searchrun-expire timer.
for pidfile in "$root"/demo/*.pid "$peer"/demo/*.pid "$root/run/engine.lock" "$peer/run/engine.lock"; do
  if [ -s "$pidfile" ]; then
    kill "$(cat "$pidfile")" 2>/dev/null || true
    sleep 0.5
  fi
done
# start INSTALLATION NAME PROGRAM ARGUMENTS...: runs a daemon as the account,
# its log in INSTALLATION/demo/NAME.log, its pid in NAME.pid.
start() {
  local dir=$1 name=$2
  shift 2
  mkdir -p "$dir/demo"
  chown "$account:" "$dir/demo"
  # (setpriv itself, not the shell function, so that $! is the program's pid.)
  setpriv --reuid="$account" --regid="$account" --init-groups -- \
    nohup "$@" >"$dir/demo/$name.log" 2>&1 </dev/null &
  echo $! >"$dir/demo/$name.pid"
}
for dir in "$root" "$peer"; do
  # The engine service keeps the indexes open between searches; the agent
  # answers the searches other hosts send (at the installation's address and
  # query server port).
  start "$dir" engine "$dir/binind/vela_service" --root "$dir"
  start "$dir" agent "$dir/binind/search_agent" --root "$dir"
done
# The class server tells the searches which indexes a class holds.
start "$root" class "$root/binind/class_server" --root "$root"
# Results expire after RESULT_EXPIRE_MINUTES.
start "$root" expire "$root/binind/expire_results" --root "$root" --every 600
for _ in $(seq 50); do
  [ -S "$root/run/engine.sock" ] && [ -S "$peer/run/engine.sock" ] && break
  sleep 0.1
done
sleep 0.3  # the agents and the class server listen at once

if [ -z "${DEMO_NO_SERVER:-}" ]; then
  echo "== starting the web server"
  conf=$root/demo/lighttpd.conf
  mkdir -p "$root/demo/htdocs"
  sed -e "s|@ROOT@|$root|g" -e "s|@PORT@|$port|g" -e "s|@ACCOUNT@|$account|g" \
    "$repo/site/demo/lighttpd.conf" >"$conf"
  # The report's password, new for each demo, readable by the web server only.
  report_password=$(head -c 12 /dev/urandom | base64 | tr -d '/+=')
  (umask 077 && printf 'admin:%s\n' "$report_password" >"$root/demo/report.users")
  chown "$account:" "$root/demo/report.users"
  # The web server starts as root only to take the port, then runs as the
  # account, and so does every CGI program it starts.
  lighttpd -f "$conf"
fi

echo "== the protected index, for two signed-in users"
signed_in=()
for user in alice carol; do
  key=$(as_account ./ks_permit create --user "$user")
  key=${key#ks_key=}
  echo "$user sees:"
  as_account env -i PATH=/usr/bin:/bin REQUEST_METHOD=GET \
    QUERY_STRING="user=$user&ks_key=$key&query=handbook&xml=1&index_id=$protected" ./searchrun |
    "$repo/scripts/show-hits.sh"
  signed_in+=("  $user: http://127.0.0.1:$port/search-cgi/searchrun?user=$user&ks_key=$key&query=handbook&index_id=$protected")
done

echo "== one search from the command line"
all=""
for uid in "${uids[@]}"; do all+="&index_id=$uid"; done
query=${DEMO_QUERY:-license}
as_account env -i PATH=/usr/bin:/bin REQUEST_METHOD=GET \
  QUERY_STRING="user=TESSERA&query=$query&search_no=0&no_rec=5&xml=1$all" ./searchrun |
  "$repo/scripts/show-hits.sh"

echo "== a search by field: packages whose name holds \"${DEMO_FIELD_QUERY:-lib*}\""
as_account env -i PATH=/usr/bin:/bin REQUEST_METHOD=GET \
  QUERY_STRING="user=TESSERA&search_no=0&no_rec=5&xml=1&index_id=$db_uid&MultiDBFieldCount=1&m_query_1=${DEMO_FIELD_QUERY:-lib*}&m_field_1=name" \
  ./searchrun | "$repo/scripts/show-hits.sh"

# The administrator's report of the search log (the search above is in it),
# made as the report timer makes it, in a folder only the server account and
# the web server's authenticated /report/ read.
as_account ../binind/search_report --root "$root" --out "$root/report/report.html"
# Demos before this one published it on the public pages.
rm -f "$root/search/report.html"

if [ -z "${DEMO_NO_SERVER:-}" ]; then
  # Read to the end: a pipe closed early would end the demo (pipefail) once
  # many results are kept.
  first=$(ls -t "$root/tmp" | grep -E '^query[0-9]+$' | sed -n 1p)
  echo
  echo "Search page: http://127.0.0.1:$port/search/index.html"
  echo "Search log report: http://127.0.0.1:$port/report/report.html (user admin, password $report_password)"
  echo "  made again, as $account: $root/binind/search_report --root $root --out $root/report/report.html"
  echo "The protected index as each signed-in user sees it:"
  printf '%s\n' "${signed_in[@]}"
  echo "The first hit of the search above, as text, as its own bytes, and the page as JSON:"
  echo "  http://127.0.0.1:$port/search-cgi/getfilelist.exe?result=$first&view=1"
  echo "  http://127.0.0.1:$port/search-cgi/getfilelist.exe?result=$first&view=1&raw=1"
  echo "  http://127.0.0.1:$port/search-cgi/getfilelist.exe?result=$first&page=1&no=5&format=json"
fi
echo "Stop the demo: kill \$(cat $root/demo/*.pid $peer/demo/*.pid)"
