#!/usr/bin/env bash
# Installs what building and testing need on a Debian 12 machine (as root).
#   scripts/install-deps.sh           the native build and its tests
#   scripts/install-deps.sh --cross   the s390x cross compiler and emulator
#                                     of scripts/cross-test.sh
set -euo pipefail
if [ "${1:-}" = "--cross" ]; then
  if ! command -v s390x-linux-gnu-g++ >/dev/null || ! command -v qemu-s390x >/dev/null; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update
    # With recommends: they bring the target's C library.
    apt-get install -y g++-s390x-linux-gnu qemu-user
  fi
  exit 0
fi
packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  libxapian-dev zlib1g-dev
  locales
  chromium
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi
