#!/usr/bin/env bash
# The Debian package as an administrator meets it, on this machine (as
# root; CI's machine is clean and thrown away afterwards): installs package A,
# registers a folder, searches through Apache and through nginx, upgrades to
# package B, searches again, purges, and checks that nothing of it is left.
#
#   tests/package/package_test.sh A.deb B.deb
#
# No service manager runs here, so the test starts what the package's units
# would (their ExecStart, as their User). The web servers listen on
# 127.0.0.1:80 only while the test runs.
set -euo pipefail
deb_a=$(realpath "$1") deb_b=$(realpath "$2")
[ "$(id -u)" = 0 ] || { echo "package test: run as root" >&2; exit 2; }
if dpkg-query -W -f='${Status}' searchrun 2>/dev/null | grep -q installed; then
  echo "package test: searchrun is installed on this machine already" >&2
  exit 2
fi
work=$(mktemp -d)
failures=0
check() {  # description, command...
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}

# What the package may leave behind: nothing outside the records dpkg, apt and
# the web servers keep of what they did. Apache's are folders it makes the
# first time a configuration is enabled or disabled on the machine, of
# either kind: those may stay, a file in them may not.
snapshot() {
  {
    find /etc /usr /var /lib /opt /srv -xdev \
      \( -path /var/lib/dpkg -o -path /var/lib/apt -o -path /var/cache -o -path /var/log \
      -o -path /var/lib/nginx -o -path /var/lib/lighttpd -o -path /var/tmp \
      -o -path /var/lib/apache2 \) -prune -o -print
    find /var/lib/apache2 -xdev ! -type d 2>/dev/null || true
  } | sort
}
snapshot >"$work/before"
getent passwd searchrun >/dev/null && had_account=1 || had_account=

# The web servers as the machine has them: stopped, the nginx default site
# as it was (the test puts it back).
default_site=$(readlink /etc/nginx/sites-enabled/default 2>/dev/null || true)
stop_all() {
  apache2ctl stop >/dev/null 2>&1 || true
  nginx -s quit >/dev/null 2>&1 || true
  [ ! -e /run/lighttpd.pid ] || kill "$(cat /run/lighttpd.pid)" 2>/dev/null || true
  # Each service leads a process group of its own: its workers go with it.
  for pid in "$work"/*.pid; do
    [ -e "$pid" ] && kill -- "-$(cat "$pid")" 2>/dev/null || true
  done
  rm -f "$work"/*.pid /run/searchrun-cgi.sock
  sleep 1
}
trap 'stop_all; rm -rf "$work"' EXIT

# start_unit UNIT: runs the unit's ExecStart as its User, as systemd would.
start_unit() {
  local unit=/lib/systemd/system/$1 user cmd
  user=$(sed -n 's/^User=//p' "$unit")
  cmd=$(sed -n 's/^ExecStart=//p' "$unit")
  # shellcheck disable=SC2086  # the unit's words, as systemd splits them
  setsid setpriv --reuid="$user" --regid="$user" --init-groups -- $cmd >"$work/$1.log" 2>&1 &
  echo $! >"$work/$1.pid"
}
start_services() {
  start_unit searchrun-engine.service
  # The web server's socket, made as searchrun-cgi.socket makes it, handed
  # to the program of searchrun-cgi.service.
  rm -f /run/searchrun-cgi.sock
  local user cmd
  user=$(sed -n 's/^User=//p' /lib/systemd/system/searchrun-cgi.service)
  cmd=$(sed -n 's/^ExecStart=//p' /lib/systemd/system/searchrun-cgi.service)
  # shellcheck disable=SC2086
  setsid systemd-socket-activate -l /run/searchrun-cgi.sock \
    setpriv --reuid="$user" --regid="$user" --init-groups -- $cmd >"$work/cgi.log" 2>&1 &
  echo $! >"$work/cgi.pid"
  for _ in $(seq 50); do
    [ -S /run/searchrun-cgi.sock ] && [ -S /var/lib/searchrun/run/engine.sock ] && break
    sleep 0.1
  done
  chown "$(sed -n 's/^SocketUser=//p' /lib/systemd/system/searchrun-cgi.socket):$(sed -n \
    's/^SocketGroup=//p' /lib/systemd/system/searchrun-cgi.socket)" /run/searchrun-cgi.sock
  chmod "$(sed -n 's/^SocketMode=//p' /lib/systemd/system/searchrun-cgi.socket)" /run/searchrun-cgi.sock
}

# search SERVER: a search through the web server, and what must not be served.
search() {
  local base=http://127.0.0.1/searchrun page main link
  check "$1: the site leads to the search page" \
    test "$(curl -s -o /dev/null -w '%{redirect_url}' "$base/")" = "$base/search/index.html"
  page=$(curl -sf "$base/search/index.html")
  check "$1: the search page lists the registered folder" grep -q "$uid" <<<"$page"
  # The page's own hidden field, as the browser sends it.
  main=$(grep -o 'name="main_page" value="[^"]*"' <<<"$page" | sed 's/.*value="//; s/"$//')
  page=$(curl -sf "$base/search-cgi/searchrun?query=gazpacho&index_id=$uid&user=TESSERA&main_page=$main") ||
    page=""
  check "$1: a search finds the document" grep -q "Cold soups" <<<"$page"
  check "$1: the result page comes from the renderer" grep -qi "<html" <<<"$page"
  link=$(grep -o 'href="[^"]*">&laquo; Search page' <<<"$page" | sed 's/^href="//; s/".*//')
  check "$1: the result page links back to the search page" \
    test "$(curl -s -o /dev/null -w '%{http_code}' "http://127.0.0.1${link:-/none}")" = 200
  page=$(curl -sf "$base/search-cgi/searchrun?query=borscht&index_id=$uid&user=TESSERA") || page=""
  check "$1: the timer's update is searched" grep -q "Soup of the day" <<<"$page"
  for path in search-cgi/ks_permit search-cgi/lang.txt search-cgi/tmp/ ../etc/passwd; do
    check "$1: $path is not served" \
      test "$(curl -s -o /dev/null -w '%{http_code}' --path-as-is "$base/$path")" -ge 400
  done
}

echo "== lintian"
lintian --fail-on error,warning --suppress-tags-from-file /dev/null "$deb_a" >"$work/lintian" 2>&1 &&
  lintian_ok=1 || lintian_ok=
cat "$work/lintian"
check "lintian finds no error or warning" test -n "$lintian_ok"

echo "== install $(basename "$deb_a")"
DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$deb_a" >"$work/apt-a" 2>&1 ||
  { cat "$work/apt-a"; exit 1; }
check "the account exists" getent passwd searchrun
check "the data belongs to the account" test "$(stat -c %U /var/lib/searchrun/tmp)" = searchrun
check "results are private" test "$(stat -c %a /var/lib/searchrun/tmp)" = 700
# The account owns no folder whose entries this package's scripts, run as
# root, change or write into.
check "the data folders' folder is root's" test "$(stat -c %U /var/lib/searchrun)" = root
check "settings are configuration files" \
  grep -q /etc/searchrun/setting/search_option.cfg <<<"$(dpkg-query -W -f='${Conffiles}' searchrun)"
for unit in searchrun-engine.service searchrun-agent.service searchrun-class-server.service \
  searchrun-expire.timer searchrun-cgi.socket; do
  check "$unit is enabled" test -n "$(find /etc/systemd/system -name "$unit" -type l)"
done
check "index_builder has its manual page" test -f /usr/share/man/man8/index_builder.8.gz
check "an upgrade restarts the daemons" \
  grep -q "_dh_action=restart" /var/lib/dpkg/info/searchrun.postinst
check "the units are sound" systemd-analyze verify /lib/systemd/system/searchrun-*.service \
  /lib/systemd/system/searchrun-*.timer /lib/systemd/system/searchrun-cgi.socket

echo "== register a folder"
docs=/srv/searchrun-package-test
mkdir -p "$docs"
printf '<title>Cold soups</title><p>A gazpacho of tomatoes.</p>\n' >"$docs/soup.html"
printf '<title>Bread</title><p>Flour and water.</p>\n' >"$docs/bread.html"
chmod -R a+rX "$docs"
out=$(searchrun-register --desc "Kitchen" --schedule daily "$docs" 2>"$work/register.err") ||
  { cat "$work/register.err"; exit 1; }
id=$(sed -n 's/^index \([0-9A-Za-z_]*\) of .*/\1/p' <<<"$out")
uid=$(printf '%02X%02X%02X%02X_%s' 127 0 0 1 "$id")
check "the suggestions know its words" test -d /var/lib/searchrun/terms/similar_term
check "the folder has its timer" grep -qx "OnCalendar=daily" \
  "/etc/systemd/system/searchrun-update@$id.timer.d/schedule.conf"
check "its timer is enabled" test -L "/etc/systemd/system/timers.target.wants/searchrun-update@$id.timer"
# What the timer runs, as its unit runs it: a new document is found afterwards.
printf '<title>Soup of the day</title><p>A borscht.</p>\n' >"$docs/borscht.html"
chmod a+r "$docs/borscht.html"
(cd / && setpriv --reuid=searchrun --regid=searchrun --init-groups -- \
  $(sed -n "s/^ExecStart=//p; " /lib/systemd/system/searchrun-update@.service | sed "s/%i/$id/g") \
  >"$work/update.log" 2>&1) || cat "$work/update.log"
start_services

echo "== Apache"
a2enconf searchrun >/dev/null
apache2ctl start
search Apache
apache2ctl stop
sleep 1

echo "== nginx"
ln -sf ../sites-available/searchrun /etc/nginx/sites-enabled/default
nginx
search nginx

nginx -s quit
sleep 1

echo "== lighttpd"
lighty-enable-mod searchrun >/dev/null
lighttpd -f /etc/lighttpd/lighttpd.conf
search lighttpd
kill "$(cat /run/lighttpd.pid)"
sleep 1

echo "== upgrade to $(basename "$deb_b")"
echo "# kept by the administrator" >>/etc/searchrun/setting/search_option.cfg
ls /var/lib/searchrun/tmp | grep -q '^query' && had_results=1 || had_results=
check "the searches left results" test -n "$had_results"
stop_all
DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$deb_b" >"$work/apt-b" 2>&1 ||
  { cat "$work/apt-b"; exit 1; }
check "the new version is installed" \
  test "$(dpkg-query -W -f='${Version}' searchrun)" = "$(dpkg-deb -f "$deb_b" Version)"
check "the administrator's setting is kept" \
  grep -q "kept by the administrator" /etc/searchrun/setting/search_option.cfg
check "no result of the old version is left" test -z "$(ls /var/lib/searchrun/tmp)"
start_services
nginx
search "nginx after the upgrade"
stop_all

echo "== purge"
DEBIAN_FRONTEND=noninteractive apt-get purge -y -q searchrun >"$work/apt-purge" 2>&1 ||
  { cat "$work/apt-purge"; exit 1; }
rm -rf "$docs"
[ -z "$default_site" ] || ln -sf "$default_site" /etc/nginx/sites-enabled/default
snapshot >"$work/after"
check "nothing of the package is left" diff "$work/before" "$work/after"
check "no process of the test is left" test -z "$(pgrep -x fcgiwrap; pgrep -f /usr/lib/searchrun/)"
check "its logs are gone" test ! -e /var/log/searchrun
check "no web server includes a snippet of it" \
  test -z "$(find /etc/apache2/conf-enabled /etc/nginx/sites-enabled /etc/lighttpd/conf-enabled \
    -lname '*searchrun*')"
if [ -z "$had_account" ]; then check "the account is gone" test -z "$(getent passwd searchrun)"; fi

echo "== $failures failures"
[ "$failures" = 0 ]
