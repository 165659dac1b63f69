#!/usr/bin/env bash
# Load on the host agent: an installation of the build tree with one index of
# a few hundred documents, its agent on a loopback address, and many clients
# at once asking it to search (each request a job process with the engine's
# search) or to describe the index. Prints throughput, latency percentiles and
# the agent's memory after the first 100 and after all requests.
#
#   tests/bench/agent_bench.sh [BUILD_DIR]                  (default: build)
#   REQUESTS=10000 CLIENTS=200 DOCS=500 to change the load and the index.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=$(cd "${1:-build}" && pwd)
requests=${REQUESTS:-10000}
clients=${CLIENTS:-200}
docs=${DOCS:-500}
address=127.0.0.6
work=$(mktemp -d)
agent=
service=
cleanup() {
  for pid in $agent $service; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

root=$work/root
cmake --install "$build" --prefix "$root" >/dev/null
printf 'AUTO_START=no\n' >"$root/setting/engine_service.cfg"
mkdir -p "$work/docs"
words=(apple pear plum cider orchard harvest market budget report annual board notes)
for i in $(seq 1 "$docs"); do
  echo "document $i ${words[$((i % 12))]} ${words[$((i * 7 % 12))]} ${words[$((i * 5 % 12))]}" \
    >"$work/docs/doc$i.txt"
done
id=$(cd "$root/search-cgi" && ../binind/index_builder create --owner bench "$work/docs")

port=$(( 30000 + RANDOM % 20000 ))
"$root/binind/search_agent" --root "$root" --address $address --port $port 2>"$work/agent.log" &
agent=$!
for _ in $(seq 1 100); do
  (exec 3<>"/dev/tcp/$address/$port") 2>/dev/null && break
  sleep 0.05
done

F=$'\x12\x13\x14' E=$'\x15\x16\x17' W=$'\x04\x05\x06' END=$'\x18\x19\x1a'
printf '%s' "agent_vela_search$W -B0 -bm \"-s -i -F60\" 'apple' ${F}0${F}score$F*$F*${F}0${F}0$F$address$F$port${E}bench$F$id$F ${F}doc$E$END" \
  >"$work/search"
printf '%s' "get_index_info$W$id$E$END" >"$work/info"

echo "== $requests searches, $clients clients at once ($docs documents, engine run per search)"
"$build/tests/bench/agent_load" $address $port "$agent" "$work/search" "$requests" "$clients"
"$root/binind/vela_service" --root "$root" 2>/dev/null &
service=$!
for _ in $(seq 1 100); do [ -S "$root/run/engine.sock" ] && break; sleep 0.05; done
echo "== the same with the engine service"
"$build/tests/bench/agent_load" $address $port "$agent" "$work/search" "$requests" "$clients"
echo "== $requests index descriptions, $clients clients at once"
"$build/tests/bench/agent_load" $address $port "$agent" "$work/info" "$requests" "$clients"
