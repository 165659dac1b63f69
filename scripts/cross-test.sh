#!/usr/bin/env bash
# The big-endian build: searchrun-sparc, the page renderer and the byte-order
# checks built for s390x (a big-endian CPU; the SPARC machines the edition is
# named after cannot be built for here) and run under the user-mode emulator.
# The search engine is not built: its library exists for this host only.
#
#   scripts/cross-test.sh [build dir]     (default: build-s390x)
#
# Needs g++-s390x-linux-gnu and qemu-user; without them it says so and ends
# with status 0.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-s390x}
triple=s390x-linux-gnu
sysroot=/usr/$triple
if ! command -v $triple-g++ >/dev/null || ! command -v qemu-s390x >/dev/null; then
  echo "cross-test: $triple-g++ or qemu-s390x missing; the big-endian build is not tested"
  exit 0
fi
emulate=(qemu-s390x -L "$sysroot")

cmake -G Ninja -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_SYSTEM_NAME=Linux -DCMAKE_SYSTEM_PROCESSOR=s390x \
  -DCMAKE_C_COMPILER=$triple-gcc -DCMAKE_CXX_COMPILER=$triple-g++ \
  -DCMAKE_FIND_ROOT_PATH="$sysroot" -DCMAKE_FIND_ROOT_PATH_MODE_PROGRAM=NEVER \
  -DCMAKE_FIND_ROOT_PATH_MODE_LIBRARY=ONLY -DCMAKE_FIND_ROOT_PATH_MODE_INCLUDE=ONLY \
  -DCMAKE_FIND_ROOT_PATH_MODE_PACKAGE=ONLY \
  -DSEARCHRUN_TESTS=OFF -DSEARCHRUN_CROSS_CHECKS=ON >/dev/null
ninja -C "$dir" searchrun-sparc getfilelist byte_order_check

echo "== byte order checks on s390x"
"${emulate[@]}" "$dir/tests/cross/byte_order_check" | tee "$dir/byte_order.out"
grep -qx "host: big-endian" "$dir/byte_order.out"

echo "== searchrun-sparc answers on s390x"
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/search-cgi" "$root/tmp" "$root/logs" "$root/Db" "$root/system/group" \
  "$root/template" "$root/setting"
cp site/older/ts_ini_option.cfg site/older/ts_msg_table_default.cfg site/setting/db_interface.num \
  site/setting/ts_query_server_port.cfg site/host_address "$root/search-cgi/"
cp site/older/DB_ENCODE "$root/Db/"
# An English installation: its pages are the static renderer's own (another
# language's go to its twin, which is not built here).
echo EN >"$root/lang.cfg"
cp site/older/DomainName.txt "$root/system/group/"
cp site/older/msg_header.html site/older/msg_footer.html "$root/template/"
out=$(cd "$root/search-cgi" && REQUEST_METHOD=GET QUERY_STRING="query=apple&all_file=on" \
  "${emulate[@]}" "$OLDPWD/$dir/programs/searchrun-sparc" || true)
grep -q "$(sed -n 's/^VALUE_0006 //p' site/older/ts_msg_table_default.cfg)" <<<"$out" || {
  echo "searchrun-sparc did not answer with the search_no page:"; echo "$out"; exit 1; }
echo "ok: the message page of a request without search_no"

echo "== the s390x renderer reads a result file written on s390x"
"${emulate[@]}" "$dir/tests/cross/byte_order_check" write "$root/tmp/query111111111111111111111111111111" bigendiancheck
page=$(cd "$root/search-cgi" && REQUEST_METHOD= \
  "${emulate[@]}" "$OLDPWD/$dir/companions/renderer/getfilelist.exe" query111111111111111111111111111111 10 1 || true)
grep -q bigendiancheck <<<"$page" || {
  echo "the renderer did not show the result:"; echo "$page" | head -40; exit 1; }
echo "ok: the renderer shows the result"
