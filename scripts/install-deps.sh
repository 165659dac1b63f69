#!/usr/bin/env bash
# Installs what building and testing need on a Debian 12 machine (as root).
#   scripts/install-deps.sh           the native build and its tests
#   scripts/install-deps.sh --cross   the s390x cross compiler and emulator
#                                     of scripts/cross-test.sh
#   scripts/install-deps.sh --package what making the Debian package and its
#                                     test need (web servers among them)
set -euo pipefail
if [ "${1:-}" = "--cross" ]; then
  if ! command -v s390x-linux-gnu-g++ >/dev/null || ! command -v qemu-s390x >/dev/null; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update
    # With recommends: they bring the target's C library.
    apt-get install -y g++-s390x-linux-gnu qemu-user
  fi
  # The target's zlib, which the page renderer links: unpacked into the
  # cross compiler's tree rather than installed, since an installed one must
  # have the very version of the host's.
  sysroot=/usr/s390x-linux-gnu
  if [ ! -f $sysroot/lib/libz.a ]; then
    dpkg --print-foreign-architectures | grep -qx s390x || dpkg --add-architecture s390x
    apt-get update
    work=$(mktemp -d)
    (cd "$work" && apt-get download zlib1g-dev:s390x)
    dpkg-deb -x "$work"/zlib1g-dev_*_s390x.deb "$work/x"
    cp "$work/x/usr/lib/s390x-linux-gnu/libz.a" $sysroot/lib/
    cp "$work/x/usr/include/zlib.h" "$work/x/usr/include/zconf.h" $sysroot/include/
    rm -rf "$work"
  fi
  exit 0
fi
# install_missing PACKAGE...: installs those not installed yet.
install_missing() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -gt 0 ] || return 0
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
}
if [ "${1:-}" = "--package" ]; then
  # The web servers are installed stopped: the package test starts them on
  # loopback when it needs them.
  policy=
  if [ ! -e /usr/sbin/policy-rc.d ]; then
    printf '#!/bin/sh\nexit 101\n' >/usr/sbin/policy-rc.d
    chmod 0755 /usr/sbin/policy-rc.d
    policy=1
  fi
  install_missing debhelper lintian help2man apache2 nginx-light fcgiwrap curl lighttpd systemd
  [ -z "$policy" ] || rm -f /usr/sbin/policy-rc.d
  exit 0
fi
packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  libxapian-dev zlib1g-dev
  libpoppler-cpp-dev libarchive-dev libxml2-dev libgmime-3.0-dev
  catdoc unrtf
  python3-docx python3-openpyxl python3-odf python3-reportlab
  locales
  chromium
  help2man man-db groff-base bsdextrautils
)
# Benchmark peers: the CGI search programs tests/bench/peer_bench.sh measures
# searchrun against, and manual pages for its corpus.
packages+=(
  xapian-omega namazu2 namazu2-index-tools
  manpages manpages-dev
)
install_missing "${packages[@]}"
