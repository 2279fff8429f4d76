#!/usr/bin/env bash
# Installs what the build, the tests and the benchmarks need on a fresh Debian machine.
set -euo pipefail
SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends \
  build-essential cmake pkg-config git ca-certificates \
  libgtest-dev libgmock-dev googletest libbenchmark-dev \
  qt6-base-dev libgl-dev libxkbcommon-dev fonts-dejavu-core \
  libvterm-dev lrzsz ckermit gkermit socat lua5.4 vim less procps \
  clang libclang-rt-dev \
  ccache gcovr gzip dpkg-dev desktop-file-utils file
