#!/usr/bin/env bash
# Builds searchrun and its companions, lays out a demo installation and sends
# it search requests through the installed programs, as a web server would.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh

root=${DEMO_ROOT:-$PWD/out/demo}
cmake -G Ninja -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C build
cmake --install build --prefix "$root" >/dev/null
echo "Demo installation: $root"
cd "$root/search-cgi"

request() {  # query string, extra environment...
  local qs=$1; shift
  echo
  echo "---- GET ?$qs"
  env -i PATH=/usr/bin:/bin REQUEST_METHOD=GET QUERY_STRING="$qs" "$@" ./searchrun
  echo "---- exit status $?"
}

# A user who has not signed in is refused with a message page.
request "user=alice&query=report&index_id=7F000001_none"
# Sign in: the permit tool hands out the key the browser would carry.
key=$(./ks_permit create --user alice | sed -n 's/^ks_key=//p')
echo
echo "alice signed in, ks_key=$key"
request "user=alice&ks_key=$key&query=report&search_no=3"
