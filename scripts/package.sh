#!/usr/bin/env bash
# Makes the Debian package of a build of the tree, in out/deb/.
#
#   scripts/package.sh [BUILD_DIR] [VERSION]
#
# BUILD_DIR is a build made already (default: build, as scripts/test.sh makes
# it): it is packaged as it is, not compiled again; without it the package
# is built in obj-deb. VERSION gives the package another version than
# debian/changelog's (the upgrade test makes a newer package of one build).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
[ -z "$build" ] || build=$(cd "$build" && pwd)
out=$PWD/out/deb
mkdir -p "$out"
SEARCHRUN_BUILD_DIR=$build SEARCHRUN_DEB_VERSION=${2:-} \
  dpkg-buildpackage -b -uc -us --no-pre-clean >"$out/build.log" 2>&1 || {
  tail -40 "$out/build.log" >&2
  exit 1
}
# dpkg-buildpackage leaves its results beside the tree.
version=${2:-$(dpkg-parsechangelog -S Version)}
arch=$(dpkg --print-architecture)
for f in ../searchrun_*_"$arch".{deb,buildinfo,changes}; do
  [ ! -e "$f" ] || mv "$f" "$out/"
done
echo "$out/searchrun_${version}_$arch.deb"
