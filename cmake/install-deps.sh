#!/usr/bin/env bash
# Installs what the install and packaging checks (cmake/install_test.sh
# --cpack) need on a fresh Debian machine: Make (the example is built with it
# as well as Ninja), man to render the manual pages, dpkg-shlibdeps for the
# .deb's dependencies, and lintian. Does nothing when they are already there.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/../cmake/apt-install.sh"

have_all() {
  local tool
  for tool in make man dpkg-deb dpkg-shlibdeps lintian gzip; do
    command -v "$tool" >/dev/null 2>&1 || return 1
  done
}

if have_all; then
  exit 0
fi
apt_install \
  make man-db dpkg-dev lintian gzip
if ! have_all; then
  echo "cmake/install-deps.sh: make, man, dpkg-shlibdeps, lintian or gzip is still missing" >&2
  exit 1
fi
