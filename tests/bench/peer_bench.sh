#!/usr/bin/env bash
# Times whole search requests of searchrun against the two CGI search
# programs Debian ships for the same use, Omega (xapian-omega) and Namazu
# (namazu2), on one corpus of this machine's manual pages split over five
# indexes: one fresh CGI process per request, as a web server starts it, over
# 1, 3 and 5 indexes, the programs taking turns request by request; then 8
# clients at once for a while, with the processor time each answered request
# took (the engine service's part apart); then
# what each step of a searchrun request over 3 indexes costs against its
# budget. With a base commit, that commit is built and measured too, and
# searchrun's figures are also given as new/base.
#
#   tests/bench/peer_bench.sh [BUILD_DIR] [BASE_REV]     (default: build, none)
#   RUNS=15 DOCS=4500 LOAD_SECONDS=10 CLIENTS=8 WORD=file change the
#   repetitions, the documents in all, the time and clients of the load and
#   the query word; SETTLE_SECONDS=35 the quiet before each round of load;
#   BUILD_LOCK=FILE builds the base under flock FILE; EXPIRED=N makes and
#   removes N files in searchrun's results folder before each of its timed
#   requests, as the expiry of old results does on a busy site.
#
# Everything lives in one temporary folder; the programs run on this machine
# and talk to nothing over a network; the engine service and the load's
# clients are ended on exit.
set -euo pipefail
cd "$(dirname "$0")/../.."
. tests/bench/bench_lib.sh
repo=$PWD
build=$(cd "${1:-build}" && pwd)
base=${2:-}
runs=${RUNS:-15}
docs=${DOCS:-4500}
load_seconds=${LOAD_SECONDS:-10}
settle_seconds=${SETTLE_SECONDS:-35}
clients=${CLIENTS:-8}
word=${WORD:-file}
expired=${EXPIRED:-0}
omega_cgi=/usr/lib/cgi-bin/omega/omega
namazu_cgi=/usr/lib/cgi-bin/namazu.cgi
for need in omindex mknmz "$omega_cgi" "$namazu_cgi" python3; do
  command -v "$need" >/dev/null || {
    echo "$need is missing: scripts/install-deps.sh installs the benchmark's peers" >&2
    exit 1
  }
done
work=$(mktemp -d)
background=()
cleanup() {
  for pid in "${background[@]}"; do kill "$pid" 2>/dev/null || true; done
  for root in "$work/new" "$work/base"; do engine_service stop "$root" || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

echo "== corpus"
made=$(make_man_documents "$work/docs" 5 "$docs")
if [ "$made" -lt "$docs" ]; then
  echo "   only $made manual pages on this machine: the licence texts of make_documents" \
    "instead, 5 folders of $((docs / 5)); query word \"${WORD:-license}\""
  rm -rf "$work/docs"
  make_documents "$work/docs" 5 $((docs / 5))
  word=${WORD:-license}
else
  echo "   $made manual pages as text, 5 folders of $((made / 5)); query word \"$word\""
fi

echo "== indexing"
# mknmz is slow, and each folder's index is its own: they run beside the rest.
namazu=$work/namazu
mkdir -p "$namazu/index" "$namazu/cgi-bin"
for k in 1 2 3 4 5; do
  mkdir "$namazu/index/$k"
  HOME=$work mknmz -O "$namazu/index/$k" "$work/docs/$k" >"$namazu/mknmz.$k.log" 2>&1 &
  background+=($!)
done
began=$EPOCHSECONDS
s=$EPOCHSECONDS
install_indexed "$work/new" "$build" "$work/docs" 5
echo "   searchrun's builder: $((EPOCHSECONDS - s)) s"
omega=$work/omega
mkdir -p "$omega/data" "$omega/log" "$omega/cdb"
s=$EPOCHSECONDS
for k in 1 2 3 4 5; do
  omindex --db "$omega/data/$k" --url "/docs/$k/" "$work/docs/$k" >"$omega/omindex.$k.log" 2>&1
done
echo "   omindex: $((EPOCHSECONDS - s)) s"
printf 'database_dir %s\ntemplate_dir %s\nlog_dir %s\ncdb_dir %s\n' "$omega/data" \
  /usr/share/xapian-omega/templates "$omega/log" "$omega/cdb" >"$omega/omega.conf"
wait "${background[@]}" || true
background=()
for k in 1 2 3 4 5; do
  [ -s "$namazu/index/$k/NMZ.i" ] || {
    tail -n 5 "$namazu/mknmz.$k.log" >&2
    exit 1
  }
done
echo "   mknmz, beside both: all done $((EPOCHSECONDS - began)) s after the start"
# namazu.cgi reads the .namazurc of its own folder, so it gets a folder of its
# own; several indexes answer one request under one page template.
cp "$namazu_cgi" "$namazu/cgi-bin/namazu.cgi"
printf 'Index %s\nTemplate %s\nLogging off\n' "$namazu/index" "$namazu/index/1" \
  >"$namazu/cgi-bin/.namazurc"

if [ -n "$base" ]; then
  echo "== building $base"
  mkdir -p "$work/base-src"
  git -C "$repo" archive "$base" | tar -x -C "$work/base-src"
  launcher=()
  command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  cmake -G Ninja -S "$work/base-src" -B "$work/base-build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DSEARCHRUN_TESTS=OFF "${launcher[@]}" >/dev/null
  # BUILD_LOCK names a lock file that builds sharing this machine take turns on.
  ${BUILD_LOCK:+flock "$BUILD_LOCK"} ninja -C "$work/base-build" >/dev/null
  install_indexed "$work/base" "$work/base-build" "$work/docs" 5
fi

# target NAME N: sets the folder, program, request, extra variables and the
# pattern of a page with hits for a request of NAME over N indexes, every
# page of 10 hits (Namazu's own default is 20). NAME is
# new, new-plain (no related terms, no suggestions), base, base-plain, omega,
# namazu or floor (the harness alone).
target() {
  local n=$2 k
  extra=()
  case $1 in
  new | new-plain | base | base-plain)
    local root=$work/${1%-plain}
    dir=$root/search-cgi program=./searchrun
    query="user=TESSERA&search_no=0&no_rec=10&query=$word"
    while read -r k; do query+="&index_id=$k"; done < <(head -n "$n" "$root/uids")
    [ "${1#*-}" = plain ] && query+="&reltermoption=0&similar_keyword_option=0"
    hits='Results <b>[0-9]+</b> - <b>[0-9]+</b> of <b>([1-9][0-9,]*)'
    ;;
  omega)
    dir=${omega_cgi%/*} program=$omega_cgi
    query="P=$word&HITSPERPAGE=10&DB=$(seq -s / 1 "$n")"
    extra=(OMEGA_CONFIG_FILE="$omega/omega.conf")
    hits='([1-9][0-9,]*) matches'
    ;;
  namazu)
    dir=$namazu/cgi-bin program=./namazu.cgi
    query="query=$word&max=10$(seq 1 "$n" | sed 's/^/\&idxname=/' | tr -d '\n')"
    hits='Total <!-- HIT -->([1-9][0-9,]*)'
    ;;
  floor) dir=$work program=/bin/true query='' hits='' ;;
  esac
}

# request PAGE: one request of the current target, its page to PAGE. The
# environment is what a web server passes to a CGI program, nothing more.
request() {
  cd "$dir"
  env -i PATH=/usr/bin:/bin GATEWAY_INTERFACE=CGI/1.1 SERVER_PROTOCOL=HTTP/1.1 \
    SERVER_SOFTWARE=bench SERVER_NAME=127.0.0.1 SERVER_PORT=80 REMOTE_ADDR=127.0.0.1 \
    REQUEST_METHOD=GET SCRIPT_NAME="/cgi-bin/${program##*/}" QUERY_STRING="$query" \
    "${extra[@]}" "$program" >"$1" 2>/dev/null || true
  cd "$OLDPWD"
}

# Whether PAGE shows hits (their count to found): a quick error page must not
# count as an answer. Read by the shell itself, so that the check starts no
# process of its own.
answered() {
  local text=
  found=
  [ -z "$hits" ] && return 0
  IFS= read -r -d '' text <"$1" || true
  [[ $text =~ $hits ]] && [[ $text != *"can't open the index"* ]] && found=${BASH_REMATCH[1]}
}

# timed N NAME...: ms[NAME.N] becomes the median milliseconds of RUNS
# requests of NAME over N indexes, after two that warm the caches; every page
# must show hits (their count goes to count[NAME.N]). The NAMEs take turns,
# request by request and each round starting one further, so that the
# machine's drift weighs on all of them alike. For searchrun, the process ids
# of the timed runs go to $work/pids.NAME.N for the steps; NAMEs timed
# together must keep their run-timing logs apart (new and base, not new and
# new-plain).
timed() {
  local n=$1 name page=$work/page s e i k log
  shift
  local names=("$@")
  declare -A took lines
  for name in "${names[@]}"; do
    target "$name" "$n"
    request "$page"
    request "$page"
    log=$work/${name%-plain}/logs/searchrun_time.log
    lines[$name]=0
    [ -f "$log" ] && lines[$name]=$(wc -l <"$log")
    took[$name]=
  done
  for i in $(seq 0 $((runs - 1))); do
    for k in $(seq 0 $((${#names[@]} - 1))); do
      name=${names[$(((i + k) % ${#names[@]}))]}
      target "$name" "$n"
      case $name in new* | base*) expire_files "$work/${name%-plain}/tmp" "$expired" ;; esac
      # The shell's own clock: no process is started to read it.
      s=${EPOCHREALTIME/./}
      request "$page"
      e=${EPOCHREALTIME/./}
      took[$name]+=" $((e - s))"
      answered "$page" || {
        echo "$name over $n indexes answered without hits ($query):" >&2
        head -c 2000 "$page" >&2
        exit 1
      }
      count[$name.$n]=$found
    done
  done
  for name in "${names[@]}"; do
    # The timed runs' lines are kept now: the load that follows may fill the
    # log past its limit, and a log started afresh holds none of them.
    log=$work/${name%-plain}/logs/searchrun_time.log
    if [ -f "$log" ]; then
      tail -n +"$((lines[$name] + 1))" "$log" >"$work/timelog.$name.$n"
      sed -n 's/^\[\([0-9]*\)\]-QUERY <.*/\1/p' "$work/timelog.$name.$n" >"$work/pids.$name.$n"
    fi
    ms[$name.$n]=$(printf '%s\n' ${took[$name]} | median | awk '{ printf "%.2f", $1 / 1000 }')
  done
}

# Processor time used so far, in clock ticks: by the whole machine (every
# program and the kernel's work for them), and by the engine service of the
# installation at ROOT (0 without one).
busy_ticks() {
  local cpu user nice system idle iowait irq softirq steal _
  read -r cpu user nice system idle iowait irq softirq steal _ </proc/stat
  echo $((user + nice + system + irq + softirq + steal))
}
service_ticks() {
  local pid f
  [ -s "$1/run/engine.lock" ] && read -r pid <"$1/run/engine.lock" &&
    read -r -a f <"/proc/$pid/stat" 2>/dev/null && echo $((f[13] + f[14])) && return
  echo 0
}
tick_ms=$(awk -v hz="$(getconf CLK_TCK)" 'BEGIN { print 1000 / hz }')

# load NAME: rate[NAME] becomes the answered requests per second of CLIENTS
# loops of fresh requests over 3 indexes for LOAD_SECONDS, failed[NAME] the
# count of pages without hits, cpu[NAME] and served[NAME] the processor
# ticks of the machine and of the engine service over the round, answered[NAME]
# its answered requests (all summed over rounds).
load() {
  target "$1" 3
  local root=$work/${1%-plain}
  local busy0 busy1 serve0 serve1
  busy0=$(busy_ticks) serve0=$(service_ticks "$root")
  local start=${EPOCHREALTIME/./} end c ok=0 bad_pages=0 a b
  end=$((start + load_seconds * 1000000))
  for c in $(seq "$clients"); do
    (
      good=0 bad=0
      while [ "${EPOCHREALTIME/./}" -lt "$end" ]; do
        request "$work/load.$c.page"
        if answered "$work/load.$c.page"; then good=$((good + 1)); else bad=$((bad + 1)); fi
      done
      echo "$good $bad" >"$work/load.$c"
    ) &
    background+=($!)
  done
  wait "${background[@]}"
  background=()
  local took=$((${EPOCHREALTIME/./} - start))
  busy1=$(busy_ticks) serve1=$(service_ticks "$root")
  for c in $(seq "$clients"); do
    read -r a b <"$work/load.$c"
    ok=$((ok + a)) bad_pages=$((bad_pages + b))
  done
  cpu[$1]=$((${cpu[$1]:-0} + busy1 - busy0))
  served[$1]=$((${served[$1]:-0} + serve1 - serve0))
  answered[$1]=$((${answered[$1]:-0} + ok))
  rate[$1]=$(awk -v n="$ok" -v us="$took" 'BEGIN { printf "%.1f", n * 1e6 / us }')
  failed[$1]=$bad_pages
}

ratio() {
  awk -v a="$1" -v b="$2" 'BEGIN { if (a + 0 > 0 && b + 0 > 0) printf "%.2f", a / b; else printf "-" }'
}

declare -A ms rate failed count cpu served answered
echo "== one-word requests, $runs of each"
# With a base, its requests take turns with the same ones of the new build,
# and its load runs right after the new build's: the machine's drift over
# the minutes of a run then weighs on both alike.
sides=(new ${base:+base})
programs=("$omega_cgi" "$namazu/cgi-bin/namazu.cgi")
for side in "${sides[@]}"; do programs+=("$work/$side"/search-cgi/* "$work/$side"/binind/*); done
settle_programs "${programs[@]}"
for side in "${sides[@]}"; do engine_service start "$work/$side"; done
# The peers (and the harness alone) take turns with searchrun's default
# requests, request by request: a ratio of figures taken minutes apart would
# carry the machine's drift over those minutes, often a tenth or more here.
for n in 1 3 5; do
  names=("${sides[@]}" omega namazu)
  [ "$n" = 1 ] && names+=(floor)
  timed "$n" "${names[@]}"
  timed "$n" "${sides[@]/%/-plain}"
done
# The fastest peer over 3 indexes is the one the load is run against.
peer=omega
awk -v a="${ms[namazu.3]}" -v b="${ms[omega.3]}" 'BEGIN { exit !(a < b) }' && peer=namazu
echo "== $clients clients for $load_seconds s, 3 indexes"
# With a base, the loads run new, base, base, new, and each side's rate is
# the mean of its two: a drift over the minute weighs on both alike.
order=(new)
[ -n "$base" ] && order+=(base base new)
declare -A rates bad
for t in "${order[@]}" "$peer"; do
  # Files removed in one round would weigh on the next: on a file system
  # that passes over recently freed entries for a while (ext4 without a
  # journal, half a minute), every file made then costs more.
  sleep "$settle_seconds"
  load "$t"
  rates[$t]+=" ${rate[$t]}"
  bad[$t]=$((${bad[$t]:-0} + failed[$t]))
done
for t in "${!rates[@]}"; do
  rate[$t]=$(printf '%s\n' ${rates[$t]} | awk '{ s += $1 } END { printf "%.1f", s / NR }')
  failed[$t]=${bad[$t]}
done
for side in "${sides[@]}"; do engine_service stop "$work/$side"; done

row() { printf '%-22s %10s %11s %10s %10s %12s\n' "$@"; }
row """" "searchrun" "no-rel/sugg" "omega" "namazu" "sr/fastest"
for n in 1 3 5; do
  best=$(printf '%s\n' "${ms[omega.$n]}" "${ms[namazu.$n]}" | sort -g | head -n 1)
  row "$n index$([ "$n" = 1 ] || echo es), ms" "${ms[new.$n]}" "${ms[new-plain.$n]}" "${ms[omega.$n]}" \
    "${ms[namazu.$n]}" "$(ratio "${ms[new.$n]}" "$best")"
done
load_omega=- load_namazu=-
[ "$peer" = omega ] && load_omega=${rate[omega]}
[ "$peer" = namazu ] && load_namazu=${rate[namazu]}
row "$clients clients, req/s" "${rate[new]}" - "$load_omega" "$load_namazu" \
  "$(ratio "${rate[new]}" "${rate[$peer]}")"
echo "   targets: sr/fastest at most 0.90 for the times, at least 1.00 for the load;"
echo "   hits over 5 indexes: searchrun ${count[new.5]}, omega ${count[omega.5]}," \
  "namazu ${count[namazu.5]}"
echo "   harness floor (env -i /bin/true) ${ms[floor.1]} ms; pages without hits under load:" \
  "searchrun ${failed[new]}, $peer ${failed[$peer]}"
# Under load the machine's processor is what runs out: its time per answered
# request (every program, the harness's included, and the kernel's work for
# them), and the engine service's part of it.
per_request() {  # ticks NAME
  awk -v t="$1" -v n="${answered[$2]:-0}" -v ms="$tick_ms" \
    'BEGIN { if (n > 0) printf "%.2f", t * ms / n; else printf "-" }'
}
echo "   processor per answered request under load, ms: searchrun $(per_request "${cpu[new]}" new)" \
  "(engine service $(per_request "${served[new]}" new)), $peer $(per_request "${cpu[$peer]}" "$peer")"
if [ -n "$base" ]; then
  echo "== new/base"
  printf '%-18s %10s %10s\n' "" "searchrun" "no-rel/sugg"
  for n in 1 3 5; do
    printf '%-18s %10s %10s\n' "$n index$([ "$n" = 1 ] || echo es)" "$(ratio "${ms[new.$n]}" "${ms[base.$n]}")" \
      "$(ratio "${ms[new-plain.$n]}" "${ms[base-plain.$n]}")"
  done
  printf '%-18s %10s   (req/s, base %s)\n' "$clients clients" \
    "$(ratio "${rate[new]}" "${rate[base]}")" "${rate[base]}"
  echo "processor per answered request under load, ms: base $(per_request "${cpu[base]}" base)" \
    "(engine service $(per_request "${served[base]}" base))"
fi

# The steps of the timed default requests over 3 indexes, from the run-timing
# log: per run, the step's span between its "b-" and "a-" lines, and the
# engine calls, each the delta of the line that reads an index's result count
# (it spans the engine program's start and the service's answer). Medians.
steps() {  # side
  awk -v pids="$work/pids.$1.3" '
    BEGIN { while ((getline p < pids) > 0) want[p] = 1 }
    match($0, /^\[[0-9]+\]-[0-9]+,[0-9]+: /) {
      pid = substr($0, 2, index($0, "]") - 2); if (!(pid in want)) next
      split(substr($0, index($0, "-") + 1), t, /[,:]/); label = substr($0, RSTART + RLENGTH)
      if (label ~ /^m_org_velaout->m_output_count/) engine[pid] += t[2]
      key = label; sub(/^[ab]-(function |block )?/, "", key); gsub(/\047/, "", key)
      if (label ~ /^b-/ && !((pid, key) in from)) from[pid, key] = t[1]
      if (label ~ /^a-/) to[pid, key] = t[1]
      seen[pid] = 1
    }
    function span(p, b, a) { return ((p, b) in from && (p, a) in to) ? to[p, a] - from[p, b] : "nan" }
    # The suggestions include the checks sent ahead of them, where they are.
    function suggestions(p, s, sent) {
      s = span(p, "similarKeywordOutput", "similarKeywordOutput")
      sent = span(p, "sendSimilarKeywordChecks", "sendSimilarKeywordChecks")
      return (s == "nan" || sent == "nan") ? s : s + sent
    }
    END {
      for (p in seen)
        print span(p, "getRecordList", "getRecordList"), engine[p] + 0,
          span(p, "getReltermString", "getReltermString"), suggestions(p),
          span(p, "execl", "ecgi")
    }' "$work/timelog.$1.3" >"$work/steps.$1"
}
column_median() { awk -v c="$2" '$c != "nan" { print $c }' "$1" | median; }
budget() {  # label median [budget]
  awk -v l="$1" -v m="$2" -v b="${3:-}" 'BEGIN {
    v = (b == "" || m == "nan") ? "" : (m + 0 <= b + 0 ? "OK" : "OVER")
    printf "  %-40s %8s %8s  %s\n", l, m, b == "" ? "-" : b, v }'
}
per_index() { awk -v v="$1" 'BEGIN { if (v == "nan") print v; else printf "%.2f\n", v / 3 }'; }
for side in new ${base:+base}; do
  steps "$side"
  f=$work/steps.$side
  search=$(column_median "$f" 1) engine=$(column_median "$f" 2)
  beyond=$(awk '$1 != "nan" { print $1 - $2 }' "$f" | median)
  echo "== steps of $side over 3 indexes: median ms, budget, verdict"
  budget "search (getRecordList)" "$search"
  budget "  per index" "$(per_index "$search")"
  budget "  engine calls in it" "$engine"
  budget "  beyond the engine calls, per index" "$(per_index "$beyond")" 1
  budget "related terms, per index" "$(per_index "$(column_median "$f" 3)")" 1
  budget "suggestions" "$(column_median "$f" 4)" 1
  page=$(column_median "$f" 5)
  budget "renderer's page (b-execl..a-ecgi)" "$page" 2
  # Without "a-ecgi" the renderer took the process over, and its end is in
  # no log.
  [ "$page" != nan ] || echo "  (the renderer ran in searchrun's place: its time is not in the log)"
done
