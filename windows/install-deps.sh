#!/usr/bin/env bash
# Installs what the Windows build needs on a fresh Debian machine: the
# MinGW-w64 cross compiler (posix thread model), Wine to run its programs and
# tests, and GoogleTest's sources to build it for Windows. Does nothing when
# they are already there.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/../cmake/apt-install.sh"

have_all() {
  command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1 &&
    { command -v wine >/dev/null 2>&1 || command -v wine64 >/dev/null 2>&1; } &&
    [ -f /usr/src/googletest/CMakeLists.txt ]
}

if ! have_all; then
  apt_install \
    g++-mingw-w64-x86-64-posix wine wine64 googletest
  if ! have_all; then
    echo "install-windows-deps.sh: the cross compiler, Wine or GoogleTest's sources are still missing" >&2
    exit 1
  fi
fi

# Wine sets up its prefix (~/.wine) on first use, which takes a while and must
# not happen in two test processes at once: do it here, once.
WINE=$(command -v wine || command -v wine64)
WINEDEBUG=-all "$WINE" cmd /c exit >/dev/null 2>&1 || true
