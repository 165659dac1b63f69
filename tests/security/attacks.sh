#!/usr/bin/env bash
# Tries, against a fresh installation, what a local attacker, a hostile
# request or a careless administrator would try, and checks that each fails
# safely: no file written or read through a link, no guessable result, no
# request text on a command line, failures reported as failures, bounded
# work, permits that hold, no server paths in pages.
#
#   tests/security/attacks.sh BUILD_DIR
#
# As root it runs the installation as an unprivileged server account and the
# attacks as another one (numeric ids through setpriv, no accounts created);
# as any other user the parts that need two accounts are skipped.
set -uo pipefail
build=$(cd "${1:?usage: attacks.sh BUILD_DIR}" && pwd)
work=$(mktemp -d)
chmod 755 "$work"
pids_to_kill=()
cleanup() {
  for p in "${pids_to_kill[@]}"; do kill "$p" 2>/dev/null; done
  # The searches start the engine service of the installation by themselves.
  [ -s "$work/root/run/engine.lock" ] && kill "$(cat "$work/root/run/engine.lock")" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
checks=0
pass() { checks=$((checks + 1)); }
fail() { checks=$((checks + 1)); failures=$((failures + 1)); echo "FAIL: $*" >&2; }
expect() {  # description, condition (a shell expression, evaluated here)
  local what=$1
  if eval "$2"; then pass; else fail "$what"; fi
}

if [ "$(id -u)" = 0 ]; then
  srv=64999       # the web server's account
  attacker=65534  # anybody else on the machine
  as_server() { setpriv --reuid=$srv --regid=$srv --clear-groups "$@"; }
  as_attacker() { setpriv --reuid=$attacker --regid=$attacker --clear-groups "$@"; }
else
  srv=$(id -u)
  attacker=""
  as_server() { "$@"; }
  echo "not root: the attacks by another account are skipped"
fi

# A folder the server account may write, for the stand-in programs below.
shared=$work/shared
mkdir -p "$shared"
[ "$(id -u)" = 0 ] && chown $srv:$srv "$shared"

root=$work/root
cmake --install "$build" --prefix "$root" >/dev/null || { echo "install failed" >&2; exit 1; }
cgi=$root/search-cgi
if [ "$(id -u)" = 0 ]; then
  for d in tmp logs permit debug search-cgi/tmp system_log system_log/query system run; do
    chown -R $srv:$srv "$root/$d"
  done
fi

# One GET request through an installed program as the web server runs it:
# sets $out (the answer), $status; extra environment as NAME=VALUE words.
run_cgi() {  # program (relative to the CGI directory), query string, [NAME=VALUE...]
  local program=$1 qs=$2; shift 2
  out=$(cd "$cgi" && as_server env -i PATH=/usr/bin:/bin REQUEST_METHOD=GET \
    QUERY_STRING="$qs" "$@" timeout 60 "$program" 2>/dev/null)
  status=$?
}
request() { run_cgi ./searchrun "$@"; }
# A request that also sets $took, its whole seconds.
timed_request() { local start; start=$(date +%s); request "$@"; took=$(($(date +%s) - start)); }
has() { [[ "$out" == *"$1"* ]]; }
# Sets KEY=VALUE in a settings file below the root (the first line of a key
# wins, so an existing line is replaced).
setting() {  # file, key, value
  if grep -q "^$2=" "$root/setting/$1"; then
    sed -i "s|^$2=.*|$2=$3|" "$root/setting/$1"
  else
    echo "$2=$3" >>"$root/setting/$1"
  fi
}
lacks() { [[ "$out" != *"$1"* ]]; }
# The page without its CGI header (a cookie header may carry the key).
body() { printf '%s' "${out#*$'\n\n'}"; }

build_index() {  # folder, [extra builder words...] -> prints the id
  local folder=$1; shift
  (cd "$cgi" && as_server ../binind/index_builder create --owner demo "$@" "$folder")
}

docs=$work/docs
mkdir -p "$docs"
for i in $(seq 1 30); do echo "apple orchard report number $i" >"$docs/apple$i.txt"; done
echo "the quick brown fox" >"$docs/fox.txt"
chmod -R a+rX "$docs"
id=$(build_index "$docs") || { echo "cannot build an index" >&2; exit 1; }
uid=7F000001_$id
search="user=TESSERA&search_no=0&index_id=$uid"

echo "== 1. links planted for the coming names"
bad=$(find "$root" -perm -o+w ! -type l 2>/dev/null)
expect "no file or directory of the installation is writable by others: $bad" '[ -z "$bad" ]'
if [ -n "$attacker" ]; then
  for d in tmp search-cgi/tmp logs permit; do
    expect "another account cannot plant a link in $d" \
      '! as_attacker ln -s /etc/passwd "$root/$d/planted" 2>/dev/null'
  done
fi
echo precious >"$work/victim"
chmod 666 "$work/victim"
mv "$root/logs/searchrun_time.log" "$work/log.away" 2>/dev/null
ln -s "$work/victim" "$root/logs/searchrun_time.log"
request "$search&query=apple"
expect "a linked run-time log is refused, not written through" \
  '[ "$status" = 1 ] && [ "$(cat "$work/victim")" = precious ]'
rm -f "$root/logs/searchrun_time.log"

echo "== 2. results cannot be guessed or read by others"
request "$search&query=apple"
mapfile -t bases < <(ls "$root/tmp" | grep -E '^query[0-9]+$')
expect "two searches leave two results" '[ "${#bases[@]}" -ge 1 ]'
for b in "${bases[@]}"; do
  digits=${b#query}
  expect "result name $b carries at least 96 random bits" '[ "${#digits}" -ge 29 ]'
  mode=$(stat -c %a "$root/tmp/$b")
  expect "result $b is readable by its owner only ($mode)" '[ "$mode" = 600 ]'
done
if [ -n "$attacker" ]; then
  expect "another account cannot list the results" '! as_attacker ls "$root/tmp" >/dev/null 2>&1'
fi

echo "== 3. files outside the indexed folders"
secret=$work/secret.txt
# Readable by the builder's account, but outside the folder it indexes.
echo "topsecret shadow password" >"$secret"
chmod 644 "$secret"
mkdir -p "$work/src3"
echo "ordinary words" >"$work/src3/plain.txt"
# Readable by the builder's account only: not for every user who searches.
echo "private words topsecret" >"$work/src3/private.txt"
chown $srv "$work/src3/private.txt"
chmod 600 "$work/src3/private.txt"
ln -s "$secret" "$work/src3/link.txt"
chmod 755 "$work/src3"
chmod 644 "$work/src3/plain.txt"
id3=$(build_index "$work/src3" 2>/dev/null)
request "user=TESSERA&index_id=7F000001_$id3&query=topsecret"
expect "neither a link out of the folder nor a private file is searchable" \
  'lacks "shadow password" && lacks "private words"'
(cd "$cgi" && as_server ../binind/index_builder create --owner ../../x "$work/src3") >/dev/null 2>&1
refused=$?
expect "an owner that climbs out of the system directory is refused" '[ $refused != 0 ]'
expect "nothing landed outside the system directory" '[ ! -e "$root/x" ] && [ ! -e "$root/../x" ]'

echo "== 4. request text never reaches a command line"
mv "$cgi/tmp" "$cgi/tmp.away"
mkdir "$cgi/tmp" && chmod 500 "$cgi/tmp" && chown $srv:$srv "$cgi/tmp"
# Runs of the service take their scratch files along: none is made on disk.
request "$search&query=apple"
expect "a search through the service needs no scratch file ($status)" \
  '[ "$status" = 0 ] && has "apple"'
setting engine_service.cfg EXCHANGE no
request "$search&query=a'%20-o%20$work/evil%20'"
expect "a full scratch directory fails the search ($status)" '[ "$status" = 1 ] && has "failed"'
expect "the query never became engine arguments" '[ ! -e "$work/evil" ]'
setting engine_service.cfg EXCHANGE yes
rmdir "$cgi/tmp" && mv "$cgi/tmp.away" "$cgi/tmp"
request "$search&query=a'%20-o%20$work/evil%20'"
expect "a quote in the query stays query text" '[ ! -e "$work/evil" ] && [ "$status" = 0 ]'

echo "== 5. failures are failures"
engine=$root/binind/vela25_0.exe
# The engine programs below stand in for ours: each run must start them.
setting engine_service.cfg EXCHANGE no
mv "$engine" "$engine.away"
request "$search&query=apple"
expect "a missing engine answers the failure page with status 1" \
  '[ "$status" = 1 ] && has "failed" && lacks "No documents"'
printf '#!/bin/sh\nkill -9 $$\n' >"$engine"; chmod 755 "$engine"
request "$search&query=apple"
expect "a killed engine answers the failure page" '[ "$status" = 1 ] && has "failed"'
printf '#!/bin/sh\nexit 0\n' >"$engine"
request "$search&query=apple"
expect "an engine that writes nothing answers the failure page" '[ "$status" = 1 ]'
printf '#!/bin/sh\nexec sleep 30\n' >"$engine"
setting search_option.cfg PROGRAM_TIME_LIMIT 2
timed_request "$search&query=apple"
expect "a hung engine is killed at the time limit (${took}s) and the search fails" \
  '[ "$status" = 1 ] && [ "$took" -lt 15 ]'
rm -f "$engine" && mv "$engine.away" "$engine"
setting search_option.cfg PROGRAM_TIME_LIMIT 60
home=$(ls -d "$root"/system/group/*/User/demo/index/"$id3")
mv "$home" "$home.away"
request "user=TESSERA&index_id=7F000001_$id3&query=ordinary"
expect "a deleted index directory is a failure" '[ "$status" = 1 ] && has "failed"'
mv "$home.away" "$home"

echo "== 6. bounded work"
many=""
for i in $(seq 1 100); do many+="*e*%20"; done
timed_request "$search&query=$many"
expect "a hundred wildcards are refused at once (${took}s)" \
  '[ "$status" = 0 ] && has "wildcard" && [ "$took" -lt 5 ]'
repeated="user=TESSERA&search_no=0&query=apple"
for i in $(seq 1 20); do repeated+="&index_id=$uid"; done
request "$repeated"
pidline=$(grep -o '^\[[0-9]*\]-QUERY <apple>' "$root/logs/searchrun_time.log" | tail -1)
runpid=${pidline%%]*}; runpid=${runpid#[}
runs=$(grep "^\[$runpid\]-Command : ../binind/vela25_0.exe" "$root/logs/searchrun_time.log" | grep -c "/$id\"")
expect "an index named 20 times is searched once ($runs runs)" '[ "$runs" = 1 ]'
printf '#!/bin/sh\necho $$ > %s/engine.pid\nexec sleep 30\n' "$shared" >"$engine.slow"
mv "$engine" "$engine.away" && mv "$engine.slow" "$engine" && chmod 755 "$engine"
(cd "$cgi" && as_server env -i PATH=/usr/bin:/bin REQUEST_METHOD=GET \
  QUERY_STRING="$search&query=apple" ./searchrun >/dev/null 2>&1) &
runner=$!
for _ in $(seq 1 100); do [ -s "$shared/engine.pid" ] && break; sleep 0.1; done
# The run that started this engine, not the newest searchrun of the machine:
# other tests run theirs beside this one. The engine's parent makes the run
# (the program, or a worker of the engine service the program handed it
# to); the log names the run by the process the web server started, which
# is the one a web server that gives up signals.
enginepid=$(cat "$shared/engine.pid" 2>/dev/null)
maker=$(awk '/^PPid:/ {print $2}' "/proc/$enginepid/status" 2>/dev/null)
pidline=$(grep -o '^\[[0-9]*\]-QUERY <apple>' "$root/logs/searchrun_time.log" | tail -1)
searchrun_pid=${pidline%%]*}; searchrun_pid=${searchrun_pid#[}
expect "the slow engine was started by the run" \
  '[ -n "$maker" ] && [ -n "$searchrun_pid" ] && grep -qE "^(searchrun|vela_front)" "/proc/$maker/comm" &&
   grep -q "^searchrun" "/proc/$searchrun_pid/comm"'
kill -TERM "$searchrun_pid" 2>/dev/null
wait "$runner" 2>/dev/null
sleep 0.5
state=$(awk '{print $3}' "/proc/$enginepid/stat" 2>/dev/null)
expect "the engine ends with the run the web server signalled" '[ -z "$state" ] || [ "$state" = Z ]'
rm -f "$engine" && mv "$engine.away" "$engine"
setting engine_service.cfg EXCHANGE yes

echo "== 7. files in bounds"
rm -f "$cgi"/tmp/*  # what the runs killed above could not remove (the expiry's work)
request "$search&query=apple"
left=$(ls "$cgi/tmp")
expect "a search leaves no scratch files: $left" '[ -z "$left" ]'
setting search_option.cfg RUN_TIME_LOG_MAX_BYTES 2000
for i in 1 2 3; do request "$search&query=apple"; done
size=$(stat -c %s "$root/logs/searchrun_time.log")
expect "the run-time log starts afresh past its limit ($size bytes)" \
  '[ -e "$root/logs/searchrun_time.log.1" ] && [ "$size" -lt 8000 ]'
setting search_option.cfg RUN_TIME_LOG_MAX_BYTES 10485760

echo "== 8. permits"
key=$(cd "$cgi" && as_server ./ks_permit create --user a_b | sed 's/^ks_key=//')
request "user=a_b&ks_key=$key&search_no=0&index_id=$uid&query=apple"
expect "the permit admits its user" '[ "$status" = 0 ] && lacks "sign in"'
expect "the key never reaches the page" '[[ "$(body)" != *"$key"* ]]'
expect "the key never reaches the logs" '! grep -rq "$key" "$root/logs"'
expect "the key never reaches a result file" '! grep -rq "$key" "$root/tmp"'
for other in a.b "a%20b"; do
  request "user=$other&ks_key=$key&search_no=0&index_id=$uid&query=apple"
  expect "the permit of a_b does not admit $other" 'has "sign in"'
done
forged=$root/permit/ab9999999.ksp
printf 'Kestrane Cookie Permit\nKS_ID=ab\nKS_KEY=ab9999999\nKS_TYPE=0\nKS_USER=ab\n' >"$forged"
chown $attacker:$attacker "$forged" 2>/dev/null || chmod 666 "$forged"
request "user=ab&ks_key=ab9999999&search_no=0&index_id=$uid&query=apple"
expect "a permit file the server account did not write admits nobody" 'has "sign in"'

echo "== 9. query text"
request "$search&query=apple%0A%5B1%5D-QUERY%20%3Cforged%3E"
expect "a line feed in the query forges no log line" \
  "! grep -q '^\\[1\\]-QUERY <forged>' \"\$root/logs/searchrun_time.log\""
bare=$(grep -cv '^\[[0-9]*\]' "$root/logs/searchrun_time.log")
expect "every line of the run-time log carries its process id ($bare without)" '[ "$bare" = 0 ]'

echo "== 10. configuration faults"
mv "$root/setting/search_option.cfg" "$work/opt.away"
request "$search&query=apple"
expect "a missing search_option.cfg still searches" '[ "$status" = 0 ] && lacks "Too many"'
mv "$work/opt.away" "$root/setting/search_option.cfg"
mv "$root/setting/system_info.cfg" "$work/info.away"
request "$search&query=apple"
expect "a missing system_info.cfg is a configuration error" \
  '[ "$status" = 1 ] && has "not set up" && lacks "No index is selected"'
mv "$work/info.away" "$root/setting/system_info.cfg"
mv "$root/setting/ts_cgi_msg_table.cfg" "$work/table.away"
request "user=TESSERA&query=apple"
expect "a missing message table still gives a page that says something" 'has "No index"'
mv "$work/table.away" "$root/setting/ts_cgi_msg_table.cfg"
mv "$root/setting/query.cfg" "$work/query.away"
mkfifo "$root/setting/query.cfg"
timed_request "$search&query=apple"
expect "a settings file replaced by a FIFO stalls nothing (${took}s)" '[ "$took" -lt 10 ]'
rm "$root/setting/query.cfg" && mv "$work/query.away" "$root/setting/query.cfg"

echo "== 12. pages"
request "$search&query=apple"
expect "result pages send nosniff" 'has "X-Content-Type-Options: nosniff"'
expect "result pages send a content security policy" 'has "Content-Security-Policy:"'
expect "no absolute server path in a result page" 'lacks "$root" && lacks "file://"'
request "user=TESSERA&query=apple&index_id=$uid&search_no=9"
expect "message pages send nosniff and no-store" \
  'has "X-Content-Type-Options: nosniff" && has "Cache-Control: no-store"'
expect "no server path in a message page" \
  'lacks "$root" && lacks "../tmp" && lacks "../logs" && lacks "../setting"'

echo "== 13. engine service"
request "$search&query=apple"
for _ in $(seq 1 50); do [ -S "$root/run/engine.sock" ] && break; sleep 0.1; done
expect "a search started the service of the installation" '[ -S "$root/run/engine.sock" ]'
expect "only the server account may reach its socket" \
  '[ "$(stat -c %a "$root/run")" = 700 ] && [ $((0$(stat -c %a "$root/run/engine.sock") & 077)) = 0 ]'
request "$search&query=apple"
expect "searches through the service answer as before" '[ "$status" = 0 ] && has "apple"'
if [ -n "$attacker" ]; then
  expect "another account cannot reach the socket" \
    '! as_attacker test -w "$root/run/engine.sock" 2>/dev/null'
fi

echo "== 14. a result page through an indexed folder swapped for a link"
if [ -n "$attacker" ]; then
  # The attacker's home holds an indexed folder; the server account keeps a
  # private file of the same name, size and time in a folder of its own.
  home14=$work/home14
  mkdir -p "$home14/docs" "$work/srv14"
  echo "kiwi harvest plan 14" >"$home14/docs/note.txt"
  echo "private server key 1" >"$work/srv14/note.txt"
  touch -d '2020-01-02 03:04:05' "$home14/docs/note.txt" "$work/srv14/note.txt"
  chown -R $attacker:$attacker "$home14"
  chmod 755 "$home14" "$home14/docs" && chmod 644 "$home14/docs/note.txt"
  chown -R $srv:$srv "$work/srv14"
  chmod 755 "$work/srv14" && chmod 600 "$work/srv14/note.txt"
  id14=$(build_index "$home14/docs" 2>/dev/null)
  request "user=TESSERA&search_no=0&index_id=7F000001_$id14&query=kiwi"
  expect "the result page shows the indexed document" 'has "kiwi harvest plan 14"'
  as_attacker mv "$home14/docs" "$home14/docs.away"
  as_attacker ln -s "$work/srv14" "$home14/docs"
  request "user=TESSERA&search_no=0&index_id=7F000001_$id14&query=kiwi"
  expect "a result page reads no file of the other folder" 'lacks "private server key"'
fi

echo "== 15. idle connections to the agent"
# A port free on the agent's own loopback address.
port15=$(perl -MIO::Socket::INET -e \
  'print IO::Socket::INET->new(Listen => 1, LocalAddr => "127.0.0.9", LocalPort => 0)->sockport')
# Started as a plain command, so that $! is the agent itself (setpriv execs
# it), and with its output away from the script's.
as15=()
[ -n "$attacker" ] && as15=(setpriv --reuid=$srv --regid=$srv --clear-groups)
"${as15[@]}" "$root/binind/search_agent" --root "$root" --address 127.0.0.9 --port "$port15" \
  >"$shared/agent15.log" 2>&1 &
agent15=$!
pids_to_kill+=("$agent15")
for _ in $(seq 1 100); do
  (exec 3<>"/dev/tcp/127.0.0.9/$port15") 2>/dev/null && break
  sleep 0.1
done
# Opens COUNT connections from IDLE that send nothing, then (after WAIT
# seconds, all still open) sends an index description request from ASK and
# prints the answer; as the attacker where there is one.
idle_then_ask() {  # count, idle address, ask address, wait
  local as=()
  [ -n "$attacker" ] && as=(setpriv --reuid=$attacker --regid=$attacker --clear-groups)
  "${as[@]}" timeout 60 perl -MIO::Socket::INET -e '
    my ($count, $idle, $ask, $wait, $port, $request) = @ARGV;
    my @open;
    for (1 .. $count) {
      my $s = IO::Socket::INET->new(PeerAddr => "127.0.0.9", PeerPort => $port,
                                    LocalAddr => $idle, Timeout => 5);
      push @open, $s if $s;
    }
    select(undef, undef, undef, $wait);
    my $s = IO::Socket::INET->new(PeerAddr => "127.0.0.9", PeerPort => $port,
                                  LocalAddr => $ask, Timeout => 5) or exit 1;
    print $s $request;
    local $/;
    alarm 30;
    my $answer = <$s>;
    print defined $answer ? $answer : "";
  ' "$@" "$port15" $'get_index_info\x04\x05\x06'"$id"$'\x15\x16\x17\x18\x19\x1a'
}
out=$(idle_then_ask 300 127.0.0.2 127.0.0.3 0 | tr -d '\000-\037')
expect "with 300 idle connections open, another address is answered" \
  'has "demo" && lacks "RETURN_CODE"'
out=$(idle_then_ask 300 127.0.0.2 127.0.0.2 2 | tr -d '\000-\037')
expect "and so is the idle address itself once its silent connections are dropped" \
  'has "demo" && lacks "RETURN_CODE"'
expect "the agent still runs" 'kill -0 "$agent15" 2>/dev/null'

echo "== 18. permits and their cookie"
key18=$(cd "$cgi" && as_server ./ks_permit create --user dora | sed 's/^ks_key=//')
digits18=${key18#dora}
expect "a new key carries at least 96 random bits (${#digits18} digits)" \
  '[[ "$digits18" =~ ^[0-9]{29,}$ ]]'
printf 'Kestrane Cookie Permit\nKS_ID=dora\nKS_KEY=dora1234567\nKS_TYPE=0\nKS_USER=dora\n' \
  >"$root/permit/dora1234567.ksp"
chown $srv:$srv "$root/permit/dora1234567.ksp" && chmod 600 "$root/permit/dora1234567.ksp"
dora18="user=dora&search_no=0&index_id=$uid&query=apple"
request "$dora18&ks_key=dora1234567" REMOTE_ADDR=203.0.113.19
expect "a permit with an older, shorter key still admits its user" \
  '[ "$status" = 0 ] && has "orchard"'
for i in 1 2 3 4 5; do request "$dora18&ks_key=dora000000$i" REMOTE_ADDR=203.0.113.18; done
expect "wrong keys are refused" 'has "sign in again" && lacks "orchard"'
request "$dora18&ks_key=$key18" REMOTE_ADDR=203.0.113.18
expect "after five wrong keys the address is refused, its right key included" \
  '[[ "$out" == "Status: 4"* ]] && has "Too many sign-in attempts" && lacks "orchard" &&
   lacks "Set-Cookie"'
request "$dora18" REMOTE_ADDR=203.0.113.18 HTTP_COOKIE="ks_key=$key18"
expect "... and its right cookie" 'has "Too many sign-in attempts" && lacks "orchard"'
request "$dora18&ks_key=$key18" REMOTE_ADDR=2001:db8:18::1
expect "another address is still admitted" '[ "$status" = 0 ] && has "orchard"'
rec18=$root/permit/v4-cb007112.ksb
expect "the back-off record is the server account's, private and small" \
  '[ "$(stat -c "%u %a" "$rec18")" = "$srv 600" ] && [ "$(stat -c %s "$rec18")" -lt 128 ]'
expect "no scratch file of the records is left behind" '! ls "$root/permit" | grep -q "^backoff-"'
echo untouched >"$work/target18" && chown $srv:$srv "$work/target18"
ln -s "$work/target18" "$root/permit/v4-cb007114.ksb"
request "$dora18&ks_key=dora0000009" REMOTE_ADDR=203.0.113.20
request "$dora18&ks_key=$key18" REMOTE_ADDR=203.0.113.20
expect "a link planted as an address's record is never written through nor believed" \
  '[ "$(cat "$work/target18")" = untouched ] && has "sign in again" && lacks "orchard"'
if [ -n "$attacker" ]; then
  as_attacker touch "$root/permit/v4-cb007115.ksb" 2>/dev/null
  expect "another account cannot plant a record" '[ ! -e "$root/permit/v4-cb007115.ksb" ]'
fi
request "$dora18&ks_key=$key18" REMOTE_ADDR=203.0.113.19 SCRIPT_NAME=/cgi-bin/search/searchrun \
  HTTPS=on
expect "the cookie is scoped to the CGI directory and kept off plain connections" \
  'has "Set-Cookie: ks_key=$key18; Path=/cgi-bin/search/; HttpOnly; SameSite=Strict; Secure"'
name18=$(grep -o 'result=query[0-9]*' <<<"$out" | head -1)
run_cgi ./getfilelist.exe "$name18&page=1" REMOTE_ADDR=203.0.113.19 \
  SCRIPT_NAME=/cgi-bin/search/getfilelist.exe HTTP_COOKIE="ks_key=$key18"
expect "the renderer in that directory takes the cookie back ($name18)" \
  '[ -n "$name18" ] && lacks "Status: 403" && has "orchard"'
request "$dora18&ks_key=$key18" REMOTE_ADDR=203.0.113.19 \
  SCRIPT_NAME="$(printf '/cgi-bin/x\r\nX-Injected: 1;/searchrun')" REQUEST_SCHEME=http
cookie18=$(grep -a "^Set-Cookie:" <<<"$out")
expect "a script name that would end the header line leaves the cookie at / ($cookie18)" \
  '[ "$cookie18" = "Set-Cookie: ks_key=$key18; Path=/; HttpOnly; SameSite=Strict" ] && lacks "X-Injected"'

echo "== 20. protected records stay protected on every path"
mkdir -p "$work/src20/pub" "$work/src20/hr"
echo "welcome visitors" >"$work/src20/pub/welcome.txt"
echo "salaries grades payroll" >"$work/src20/hr/salaries.txt"
printf 'pub/*\t*\nhr/*\tcarol\n' >"$work/access20.txt"
chmod -R a+rX "$work/src20" "$work/access20.txt"
gid=$(build_index "$work/src20" --access "$work/access20.txt")
guid=7F000001_$gid
# The similar-term index lies in the root, which the server account may not
# write: the administrator builds it.
(cd "$cgi" && ../binind/index_builder similar >/dev/null)
expanded=""
for r in 1 2 3; do
  for sel in "$uid" "$guid"; do
    request "user=TESSERA&search_no=0&index_id=$sel&format=json&query=__SIMILAR-$gid-$r-0-PAGE__"
    expect "a similar-document link reads no protected record (record $r, index $sel)" \
      'lacks "salaries" && lacks "payroll" && lacks "grades"'
    [ "$sel" = "$guid" ] && has "visitors" && expanded=yes
  done
done
expect "a link to a record everyone may read still expands" '[ -n "$expanded" ]'
request "user=TESSERA&search_no=0&index_id=$guid&index_id=$uid&format=json&query=salares"
expect "no suggestion names a word only a protected record holds" 'lacks "salaries"'
request "user=TESSERA&search_no=0&index_id=$uid&format=json&query=orchar"
expect "a word of a selected index is still suggested" 'has "\"keyword\":\"orchard\""'
request "user=TESSERA&search_no=0&index_id=$guid&format=json&query=orchar"
expect "no suggestion comes from an index not selected" 'lacks "orchard"'
expect "the threaded editions are not where a web server runs every program" \
  '[ ! -e "$cgi/searchrun-mt" ] && [ -x "$root/editions/searchrun-mt" ]'
F='%12%13%14'
for edition in searchrun-mt searchrun-lite searchrun-sparc; do
  for q in salaries welcome; do
    run_cgi "../editions/$edition" \
      "search_no=0&all_file=1&query=$q&database=127.0.0.1${F}demo${F}$gid${F}${F}Staff${F}doc"
    [ $q = salaries ] && expect "$edition finds no protected record" 'lacks "salaries.txt"'
    [ $q = welcome ] && expect "$edition still finds what everyone may read" 'has "welcome.txt"'
  done
done

echo "== 21. requests reach only the agents the administrator lists"
listen() {  # address, name -> sets $lport; the listener records in $shared/name
  "$build/tests/attack_listener" "$1" "$shared/$2.port" "$shared/$2" 120 &
  pids_to_kill+=($!)
  for _ in $(seq 100); do [ -s "$shared/$2.port" ] && break; sleep 0.05; done
  lport=$(cat "$shared/$2.port")
}
listen 127.0.0.9 far && far=$lport
listen 127.0.0.1 near && near=$lport
# An installation whose own address is 127.0.0.1 takes every address for its
# own: this one answers to another, so that 127.0.0.9 is another host.
echo 127.0.0.8 >"$root/host_address"
connections() { local n; n=$(grep -c . "$shared/$1" 2>/dev/null); echo "${n:-0}"; }
setting search_option.cfg RUN_TIME_LIMIT 3
request "user=TESSERA&search_no=0&query=x&index_id=7F000009_abc%0D%0ASET%20pwned%201%0D%0A\$$far"
request "user=TESSERA&search_no=0&query=x&index_id=7F000009_R1\$$far"
request "user=TESSERA&search_no=0&query=x&index_id=00000000_R1\$$near"
expect "an agent the settings do not list is never connected to" \
  '[ "$(connections far)" = 0 ] && [ "$(connections near)" = 0 ]'
setting search_option.cfg AGENT_HOSTS "0.0.0.0:$near,127.0.0.9:$far"
request "user=TESSERA&search_no=0&query=x&index_id=00000000_R1\$$near"
expect "0.0.0.0 is never reached, listed or not" '[ "$(connections near)" = 0 ]'
request "user=TESSERA&search_no=0&query=x&index_id=7F000009_abc%0D%0ASET%20pwned%201%0D%0A\$$far"
expect "a name with line ends is never sent" '[ "$(connections far)" = 0 ] && ! grep -q SET "$shared/far"'
many="user=TESSERA&search_no=0&query=x"
for i in $(seq 1 100); do many+="&index_id=7F000009_R1\$$far"; done
timed_request "$many"
expect "an index named 100 times costs one connection ($(connections far))" '[ "$(connections far)" = 1 ]'
expect "a silent agent holds the run to its deadline (${took}s) and the page says so" \
  '[ "$took" -lt 10 ] && [ "$status" = 1 ] && has "3 seconds"'
wide="user=TESSERA&search_no=0&query=x"
for i in $(seq 1 21); do wide+="&index_id=7F000009_R$i\$$far"; done
request "$wide"
expect "the index limit holds before any connection" \
  '[ "$(connections far)" = 1 ] && has "Too many indexes"'
setting search_option.cfg RUN_TIME_LIMIT 20
start=$(date +%s)
(cd "$cgi" && as_server env -i PATH=/usr/bin:/bin REQUEST_METHOD=GET \
  QUERY_STRING="user=TESSERA&search_no=0&query=x&index_id=7F000009_R2\$$far" \
  timeout 60 ./searchrun 2>/dev/null) | true
took=$(($(date +%s) - start))
expect "a run whose client has gone stops (${took}s)" '[ "$took" -lt 10 ]'
setting search_option.cfg RUN_TIME_LIMIT 30
printf '#!/bin/sh\nsleep 30 &\necho $! > %s/grandchild.pid\nexec sleep 30\n' "$shared" >"$engine.slow"
mv "$engine" "$engine.away" && mv "$engine.slow" "$engine" && chmod 755 "$engine"
setting search_option.cfg PROGRAM_TIME_LIMIT 2
setting engine_service.cfg EXCHANGE no
request "$search&query=apple"
setting engine_service.cfg EXCHANGE yes
setting search_option.cfg PROGRAM_TIME_LIMIT 60
rm -f "$engine" && mv "$engine.away" "$engine"
sleep 0.5
grandchild=$(cat "$shared/grandchild.pid" 2>/dev/null)
state=$(awk '{print $3}' "/proc/$grandchild/stat" 2>/dev/null)
expect "what a killed engine started ends with it" '[ -n "$grandchild" ] && { [ -z "$state" ] || [ "$state" = Z ]; }'

echo "== 22. visitors cannot fill the disk"
edition_query="search_no=0&all_file=1&query=welcome&database=127.0.0.1${F}demo${F}$gid${F}${F}Staff${F}doc"
rm -f "$root"/tmp/query*
{ printf '%s' "$search&query=apple&pad="; head -c 1040000 /dev/zero | tr '\0' 'a'; } >"$shared/post"
out=$(cd "$cgi" && as_server env -i PATH=/usr/bin:/bin REQUEST_METHOD=POST \
  CONTENT_LENGTH="$(stat -c %s "$shared/post")" \
  timeout 60 ./searchrun <"$shared/post" 2>/dev/null)
status=$?
biggest=$(find "$root/tmp" -type f -printf '%s\n' | sort -n | tail -1)
expect "a 1 MiB request is refused and kept nowhere (${biggest:-0} bytes kept)" \
  'has "larger than" && [ "${biggest:-0}" -lt 100000 ]'
run_cgi ../editions/searchrun-lite "$edition_query&pad=$(head -c 70000 /dev/zero | tr '\0' 'a')"
biggest=$(find "$root/tmp" -type f -printf '%s\n' | sort -n | tail -1)
expect "a threaded edition refuses it too (${biggest:-0} bytes kept)" \
  'has "larger than the 65536 bytes" && [ "${biggest:-0}" -lt 60000 ]'
setting ts_adv_log.cfg OutputQueryInfo Y
long=$(head -c 60000 /dev/zero | tr '\0' 'b')
request "$search&query=$long"
daily=$(ls -t "$root"/system_log/query/*.log 2>/dev/null | head -1)
widest=$(awk '{ if (length($0) > w) w = length($0) } END { print w + 0 }' "$daily" 2>/dev/null)
expect "the search log keeps the query cut at 6,143 bytes (${widest:-0})" \
  '[ -n "$daily" ] && [ "$widest" -gt 6000 ] && [ "$widest" -lt 7000 ]'
setting search_option.cfg RESULTS_MAX_MB 1
head -c 2097152 /dev/urandom >"$root/tmp/query111111111111111111111111111111"
# What runs counted and added stands for five minutes while it is far from
# the limit: without a figure the directory is counted, as it is then.
rm -f "$root/tmp/.usage"
request "$search&query=apple"
expect "a full results directory refuses new results with a message" \
  '[ "$status" = 1 ] && has "no room"'
run_cgi ../editions/searchrun-mt "$edition_query"
expect "so does a threaded edition" 'has "no room for more" && lacks "welcome.txt"'
# Expiry removes the figure with the results it removes.
rm -f "$root/tmp/query111111111111111111111111111111" "$root/tmp/.usage"
request "$search&query=apple"
expect "once expiry made room, searches answer again" '[ "$status" = 0 ] && has "apple"'
setting search_option.cfg RESULTS_MAX_MB 2048

echo "== 23. a failed result leaves nothing behind"
rm -f "$root"/tmp/query*
mv "$cgi/getfilelist.exe" "$cgi/getfilelist.away"
request "$search&query=apple"
left=$(ls "$root/tmp")
# Every run that answers with a message instead of its result (a result
# that could not be written among them) removes what it had written.
expect "a result whose renderer is missing is removed whole: $left" \
  '[ "$status" = 1 ] && [ -z "$left" ] && has "Content-Type:text/html" && lacks "Execl RetCode"'
mv "$cgi/getfilelist.away" "$cgi/getfilelist.exe"
mv "$cgi/search_relterm.exe" "$cgi/search_relterm.away"
request "$search&query=apple"
expect "a missing related-term program is a failure, not a page without terms" \
  '[ "$status" = 1 ] && has "not set up"'
request "$search&query=apple&reltermoption=0"
expect "a search without related terms does not need it" '[ "$status" = 0 ] && has "apple"'
mv "$cgi/search_relterm.away" "$cgi/search_relterm.exe"

echo "$checks checks, $failures failed"
[ "$failures" = 0 ]
