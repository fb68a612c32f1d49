#!/usr/bin/env bash
# Installs what the fuzz targets need on a fresh machine: clang and its
# libFuzzer runtime. Does nothing when they are already there.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/../cmake/apt-install.sh"

have_runtime() {
  command -v clang++ >/dev/null 2>&1 || return 1
  local dir
  dir=$(mktemp -d)
  printf '%s\n' '#include <cstddef>' '#include <cstdint>' \
    'extern "C" int LLVMFuzzerTestOneInput(const uint8_t*, size_t) { return 0; }' >"$dir/probe.cc"
  local status=0
  clang++ -fsanitize=fuzzer,address,undefined "$dir/probe.cc" -o "$dir/probe" >/dev/null 2>&1 ||
    status=1
  rm -rf "$dir"
  return $status
}

if have_runtime; then
  exit 0
fi
apt_install clang libclang-rt-14-dev
if ! have_runtime; then
  echo "install-deps.sh: clang++ still cannot link -fsanitize=fuzzer" >&2
  exit 1
fi
