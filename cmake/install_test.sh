#!/usr/bin/env bash
# Installs a Tolvane build into a staging prefix and builds the downstream
# example (examples/downstream) against it, as a user of the package would.
#
#   cmake/install_test.sh --build-dir DIR [--no-build] [--generators "Ninja;Unix Makefiles"]
#                         [--subproject] [--cpack] [--work DIR] [--keep]
#
# For each generator, in a copy of the example under a path with blanks, at -j8:
# the program runs in every language; the catalogue holds the languages in
# source order; a second build does nothing; a names header removed from the
# build tree is made again; a newer Tolvane rebuilds the
# catalogue; a text edit rebuilds the catalogue
# with the new text and recompiles nothing; a new message name recompiles the
# program; the example's source folder is never written to. Also: the package's
# version rules, the configure-time refusals of tolvane_add_catalogue(), the
# man pages, and on request the same example with Tolvane added by
# add_subdirectory() (--subproject) and the cpack packages (--cpack: the .deb
# unpacked and checked file by file, then lintian).
#
# Exit code 0 when everything holds, 1 when a check fails, 77 when Ninja or
# Make is missing.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)

build_dir="" work="" keep=0 no_build=0 subproject=0 cpack=0
generators="Ninja;Unix Makefiles"
while [ $# -gt 0 ]; do
  case $1 in
    --build-dir) build_dir=$(cd "$2" && pwd); shift ;;
    --work) work=$2; shift ;;
    --generators) generators=$2; shift ;;
    --no-build) no_build=1 ;;
    --subproject) subproject=1 ;;
    --cpack) cpack=1 ;;
    --keep) keep=1 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
  shift
done
[ -n "$build_dir" ] || { echo "--build-dir is required" >&2; exit 2; }
command -v ninja >/dev/null && command -v make >/dev/null || {
  echo "SKIP: needs ninja and make"
  exit 77
}
if [ -z "$work" ]; then
  work=$(mktemp -d "${TMPDIR:-/tmp}/tolvane install test.XXXXXX")
fi
mkdir -p "$work"
cleanup() { if [ $keep = 0 ]; then rm -rf "$work"; else echo "kept $work"; fi; }
trap cleanup EXIT

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }
mtime() { stat -c %Y.%y "$1"; }
# Every file of a folder with its content hash and time, to see any write.
snapshot() { (cd "$1" && find . -printf '%p %T@\n' | sort && find . -type f -exec sha256sum {} + | sort); }

prefix="$work/stage prefix"
step() { printf '\n--- %s\n' "$1"; }

step "install into $prefix"
# tolvane-translate is built only where libgettextpo and expat are found.
translate=0
if cmake --build "$build_dir" --target help 2>/dev/null | grep -qE '^(\.\.\. )?tolvane-translate(:|$)'; then
  translate=1
fi
if [ $no_build = 0 ]; then
  cmake --build "$build_dir" -j2 --target Tolvane tolvane-dump tolvane_docs
  if [ $translate = 1 ]; then cmake --build "$build_dir" -j2 --target tolvane-translate; fi
fi
cmake --install "$build_dir" --prefix "$prefix" >/dev/null
if [ $translate = 1 ]; then
  for f in bin/tolvane-translate share/man/man1/tolvane-translate.1.gz; do
    [ -f "$prefix/$f" ] || fail "not installed: $f"
  done
  "$prefix/bin/tolvane-translate" --version >/dev/null || fail "the installed tolvane-translate does not run"
fi
for f in bin/Tolvane bin/tolvane-dump share/man/man1/Tolvane.1.gz share/man/man1/tolvane-dump.1.gz \
  share/doc/tolvane/msg-format.md share/doc/tolvane/README.md share/doc/tolvane/copyright \
  share/doc/tolvane/changelog.gz lib/cmake/Tolvane/TolvaneConfig.cmake \
  lib/cmake/Tolvane/TolvaneConfigVersion.cmake lib/cmake/Tolvane/TolvaneTargets.cmake \
  lib/cmake/Tolvane/TolvaneCatalogue.cmake lib/cmake/Tolvane/TolvaneBuildCatalogue.cmake; do
  [ -f "$prefix/$f" ] || fail "not installed: $f"
done
banner=$("$prefix/bin/Tolvane" 2>/dev/null </dev/null || true)
[ "${banner%%$'\n'*}" = "Tolvane v1.1" ] || fail "the installed Tolvane does not run: $banner"
dump="$prefix/bin/tolvane-dump"

# roff that renders without a warning and names what a reader looks for.
if command -v man >/dev/null; then
  section=$failures
  pages="Tolvane tolvane-dump"
  if [ $translate = 1 ]; then pages="$pages tolvane-translate"; fi
  for page in $pages; do
    file="$prefix/share/man/man1/$page.1.gz"
    text=$(MANWIDTH=100 man --warnings -l "$file" 2>"$work/man.err" | col -b) || fail "man -l $page.1"
    [ -s "$work/man.err" ] && fail "man -l $page.1 warns: $(cat "$work/man.err")"
    for heading in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" EXAMPLES "SEE ALSO"; do
      grep -q "^$heading" <<<"$text" || fail "$page.1 has no $heading section"
    done
  done
  if [ $failures = $section ]; then pass "man pages render"; fi
fi

# A project of its own for configure-only probes of the package.
probe() {
  local dir="$work/probe"
  rm -rf "$dir" "$dir.build"
  mkdir -p "$dir"
  printf 'cmake_minimum_required(VERSION 3.25)\nproject(probe LANGUAGES NONE)\n%s\n' "$1" \
    >"$dir/CMakeLists.txt"
  touch "$dir/a.h" "$dir/b.h"
  cmake -S "$dir" -B "$dir.build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >"$work/probe.log" 2>&1
}
# CMake wraps its messages: look for a text in the probe's log as one line.
logged() { tr -s ' \n' '  ' <"$work/probe.log" | grep "$1" >/dev/null; }
step "package version and configure-time refusals"
section=$failures
probe 'find_package(Tolvane 1.0 REQUIRED)' || fail "find_package(Tolvane 1.0) refused"
targets="Tolvane::Tolvane Tolvane::tolvane-dump"
if [ $translate = 1 ]; then targets="$targets Tolvane::tolvane-translate"; fi
probe "find_package(Tolvane 1.1 REQUIRED)
foreach(t $targets)"'
  get_target_property(imported ${t} IMPORTED)
  get_target_property(location ${t} LOCATION)
  if(NOT imported OR NOT EXISTS "${location}")
    message(FATAL_ERROR "${t}: no imported executable")
  endif()
endforeach()' || fail "find_package(Tolvane 1.1) refused or lacks its targets: $(cat "$work/probe.log")"
probe 'find_package(Tolvane 1.2 REQUIRED)' && fail "find_package(Tolvane 1.2) accepted"
probe 'find_package(Tolvane 2 REQUIRED)' && fail "find_package(Tolvane 2) accepted"
probe 'find_package(Tolvane 1.1 REQUIRED)
tolvane_add_catalogue(one OUTPUT app.msg NAMES_HEADER one.h SOURCES a.h)
tolvane_add_catalogue(two OUTPUT sub/../app.msg NAMES_HEADER two.h SOURCES b.h)' &&
  fail "two rules for one OUTPUT accepted"
logged 'OUTPUT ".*app.msg" is already written by tolvane_add_catalogue(one)' ||
  fail "no clear message for the OUTPUT claimed twice: $(cat "$work/probe.log")"
probe 'find_package(Tolvane 1.1 REQUIRED)
tolvane_add_catalogue(one OUTPUT one.msg NAMES_HEADER names.h SOURCES a.h)
tolvane_add_catalogue(two OUTPUT two.msg NAMES_HEADER names.h SOURCES b.h)' &&
  fail "two rules for one NAMES_HEADER accepted"
logged 'NAMES_HEADER ".*names.h" is already written by tolvane_add_catalogue(one)' ||
  fail "no clear message for the NAMES_HEADER claimed twice: $(cat "$work/probe.log")"
probe 'find_package(Tolvane 1.1 REQUIRED)
tolvane_add_catalogue(one OUTPUT ${CMAKE_SOURCE_DIR}/one.msg NAMES_HEADER n.h SOURCES a.h)' &&
  fail "an OUTPUT in the source tree accepted"
logged 'OUTPUT ".*one.msg" is in the source tree' || fail "no clear message for the source tree"
probe 'find_package(Tolvane 1.1 REQUIRED)
tolvane_add_catalogue(one OUTPUT one.msg NAMES_HEADER n.h SOURCES a.h missing.h)' &&
  fail "a missing source accepted"
logged 'source ".*/missing.h" does not exist' || fail "no clear message for a missing source"
probe 'find_package(Tolvane 1.1 REQUIRED)
add_custom_command(OUTPUT gen.h COMMAND ${CMAKE_COMMAND} -E touch gen.h)
tolvane_add_catalogue(one OUTPUT one.msg NAMES_HEADER n.h SOURCES a.h ${CMAKE_BINARY_DIR}/gen.h)' ||
  fail "a source made by another rule refused: $(cat "$work/probe.log")"
if [ $failures = $section ]; then pass "version rules and refusals"; fi

# Builds the example copied to $1 in $2 with generator $3 (extra cmake
# arguments follow) and runs every check on it.
check_example() {
  local src=$1 bld=$2 gen=$3
  shift 3
  local name="[$gen${subproject_label:-}]"
  rm -rf "$src" "$bld"
  cp -r "$repo/examples/downstream" "$src"
  local before section=$failures
  before=$(snapshot "$src")

  step "$name configure and build at -j8"
  cmake -S "$src" -B "$bld" -G "$gen" "$@" >"$work/configure.log" 2>&1 ||
    { cat "$work/configure.log"; fail "$name configure"; return; }
  cmake --build "$bld" -j8 || { fail "$name first build"; return; }

  local msg="$bld/greet.msg" names="$bld/include/greet_names.h" obj="$bld/CMakeFiles/greet.dir/greet.cc.o"
  local expected=$'English: Hello, world\nFran\u00e7ais: Bonjour tout le monde\n\u65e5\u672c\u8a9e: \u3053\u3093\u306b\u3061\u306f'
  local got
  got=$(for l in EN FR JA; do "$bld/greet" "$msg" $l; done) || fail "$name greet fails"
  [ "$got" = "$expected" ] || fail "$name greet printed: $got"
  languages() { "$dump" "$msg" | sed -n 's/^Language \(..\):.*/\1/p' | tr '\n' ' '; }
  [ "$(languages)" = "EN FR JA " ] || fail "$name languages in the catalogue: $(languages)"
  "$dump" --check "$msg" >/dev/null || fail "$name the catalogue fails tolvane-dump --check"
  grep -q '^#define GREET_LANGUAGE 3$' "$names" || fail "$name names header: $(cat "$names")"

  step "$name second build"
  local t_msg t_names t_obj t_exe out
  t_msg=$(mtime "$msg") t_names=$(mtime "$names") t_obj=$(mtime "$obj") t_exe=$(mtime "$bld/greet")
  out=$(cmake --build "$bld" -j8 2>&1)
  echo "$out"
  if [ "$gen" = Ninja ]; then
    grep -q 'ninja: no work to do' <<<"$out" || fail "$name second build did work"
  fi
  grep -q -E 'Building|Linking|Generating' <<<"$out" && fail "$name second build did work"
  [ "$t_msg $t_names $t_obj $t_exe" = \
    "$(mtime "$msg") $(mtime "$names") $(mtime "$obj") $(mtime "$bld/greet")" ] ||
    fail "$name second build touched files"

  step "$name after the names header was removed"
  rm "$names"
  cmake --build "$bld" -j8 || fail "$name build after the names header was removed"
  grep -q '^#define GREET_LANGUAGE 3$' "$names" || fail "$name names header not made again"
  t_msg=$(mtime "$msg") t_names=$(mtime "$names") t_obj=$(mtime "$obj") t_exe=$(mtime "$bld/greet")
  out=$(cmake --build "$bld" -j8 2>&1)
  if grep -q -E 'Building|Linking|Generating' <<<"$out" || [ "$t_msg $t_names $t_obj $t_exe" != \
    "$(mtime "$msg") $(mtime "$names") $(mtime "$obj") $(mtime "$bld/greet")" ]; then
    fail "$name the build after the names header came back is not stable: $out"
  fi

  if [ -z "${subproject_label:-}" ]; then
    step "$name after the tool changed"
    touch "$prefix/bin/Tolvane"
    cmake --build "$bld" -j8
    [ "$(mtime "$msg")" != "$t_msg" ] || fail "$name catalogue not rebuilt for a new Tolvane"
    [ "$t_obj $t_exe" = "$(mtime "$obj") $(mtime "$bld/greet")" ] ||
      fail "$name a new Tolvane recompiled the program"
    t_msg=$(mtime "$msg")
  fi

  [ "$(snapshot "$src")" = "$before" ] || fail "$name the build wrote into the source folder"

  step "$name after a text edit"
  sed -i 's/Hello, world/Hello again/' "$src/messages/greet_en.h"
  before=$(snapshot "$src")
  out=$(cmake --build "$bld" -j8 2>&1)
  echo "$out"
  [ "$(mtime "$msg")" != "$t_msg" ] || fail "$name catalogue not rebuilt after a text edit"
  [ "$("$bld/greet" "$msg" EN)" = "English: Hello again" ] || fail "$name the new text is not there"
  [ "$(languages)" = "EN FR JA " ] || fail "$name languages after the edit: $(languages)"
  [ "$t_names $t_obj $t_exe" = "$(mtime "$names") $(mtime "$obj") $(mtime "$bld/greet")" ] ||
    fail "$name a text edit recompiled or relinked the program"
  grep -q -E 'Building CXX|Linking' <<<"$out" && fail "$name a text edit recompiled the program"
  t_msg=$(mtime "$msg")
  out=$(cmake --build "$bld" -j8 2>&1)
  if [ "$(mtime "$msg")" != "$t_msg" ] || grep -q -E 'Building|Generating' <<<"$out"; then
    fail "$name the build after the edit is not stable: $out"
  fi

  [ "$(snapshot "$src")" = "$before" ] || fail "$name the build wrote into the source folder"

  step "$name after a new message name"
  printf '#message 4 GREET_THANKS "Thanks"\n' >>"$src/messages/greet_en.h"
  before=$(snapshot "$src")
  cmake --build "$bld" -j8 || fail "$name build after a new name"
  grep -q '^#define GREET_THANKS 4$' "$names" || fail "$name new name not in the names header"
  [ "$(mtime "$obj")" != "$t_obj" ] || fail "$name a new name did not recompile the program"

  [ "$(snapshot "$src")" = "$before" ] || fail "$name the build wrote into the source folder"
  if [ $failures = $section ]; then pass "$name downstream example"; fi
}

IFS=';' read -r -a gens <<<"$generators"
for gen in "${gens[@]}"; do
  tag=${gen// /-}
  check_example "$work/example src $tag" "$work/example build $tag" "$gen" \
    -DCMAKE_PREFIX_PATH="$prefix"
done

if [ $subproject = 1 ]; then
  subproject_label=" add_subdirectory"
  check_example "$work/example src sub" "$work/example build sub" Ninja \
    -DGREET_TOLVANE_SOURCE_DIR="$repo"
  # The tool came from that build, not from the staging prefix.
  grep -q "tolvane/Tolvane" "$work/example build sub/build.ninja" ||
    fail "[add_subdirectory] the rule does not use the Tolvane it builds"
  unset subproject_label
fi

# The .deb as a distribution would take it: its files unpacked with dpkg -x,
# then lintian, which must report no error and no warning.
check_deb() {
  local deb=$1 root="$work/deb"
  if ! command -v dpkg-deb >/dev/null || ! command -v lintian >/dev/null; then
    fail "dpkg-deb or lintian missing (cmake/install-deps.sh installs them)"
    return
  fi
  rm -rf "$root"
  dpkg-deb -x "$deb" "$root"
  dpkg-deb -f "$deb" Package Version Depends Maintainer
  local doc="$root/usr/share/doc/tolvane" man="$root/usr/share/man/man1"
  [ -x "$root/usr/bin/Tolvane" ] && [ -x "$root/usr/bin/tolvane-dump" ] || fail ".deb has no programs"
  [ -f "$root/usr/lib/cmake/Tolvane/TolvaneConfig.cmake" ] || fail ".deb has no CMake package"
  cmp -s "$doc/README.md" "$repo/README.md" || fail ".deb has no README.md in $doc"
  # The copyright file: machine-readable, with LICENSE's holder and text.
  local copyright="$doc/copyright"
  if [ ! -f "$copyright" ]; then
    fail ".deb has no usr/share/doc/tolvane/copyright"
  else
    head -1 "$copyright" | grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/$' ||
      fail "copyright is not in the machine-readable format"
    grep -q "^Copyright: $(sed -n 's/^Copyright (c) //p' "$repo/LICENSE")$" "$copyright" ||
      fail "copyright does not name LICENSE's holder"
    # The only continuation lines are the license text's, " ." for an empty line.
    [ "$(sed -n 's/^ \.$//p; s/^ //p' "$copyright")" = \
      "$(sed -n '/^Permission/,$p' "$repo/LICENSE")" ] || fail "copyright's license text is not LICENSE's"
  fi
  # Manual pages and changelog compressed with gzip -9n: no name, no time.
  local page pages="Tolvane tolvane-dump" gz gzs=("$doc/changelog.gz")
  if [ $translate = 1 ]; then pages="$pages tolvane-translate"; fi
  for page in $pages; do
    [ ! -e "$man/$page.1" ] || fail ".deb has an uncompressed $page.1"
    if ! cmp -s <(gzip -dc "$man/$page.1.gz" 2>/dev/null) "$repo/man/$page.1"; then
      fail ".deb has no $page.1.gz holding man/$page.1"
    fi
    gzs+=("$man/$page.1.gz")
  done
  for gz in "${gzs[@]}"; do
    [ "$(od -An -tx1 -N8 "$gz" 2>/dev/null | tr -d ' ')" = 1f8b080000000000 ] ||
      fail "$(basename "$gz") is not compressed without name and time"
  done
  [ "$(gzip -dc "$doc/changelog.gz" | sed -n '1s/^tolvane (\([^)]*\)).*/\1/p')" = \
    "$(dpkg-deb -f "$deb" Version)" ] || fail "changelog.gz does not start with the package's version"
  # Run as root, lintian says it should not be, and goes on; its exit code counts.
  local status=0
  lintian --fail-on error,warning --display-info "$deb" >"$work/lintian.log" 2>&1 || status=$?
  sed 's/^/  lintian: /' "$work/lintian.log"
  [ $status = 0 ] || fail "lintian reports errors or warnings (exit $status)"
}

if [ $cpack = 1 ]; then
  step "cpack"
  section=$failures
  (cd "$build_dir" && cpack -B "$work/packages") >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; fail "cpack"; }
  tgz=$(ls "$work"/packages/*.tar.gz 2>/dev/null | head -1)
  deb=$(ls "$work"/packages/*.deb 2>/dev/null | head -1)
  if [ -z "$tgz" ] || [ -z "$deb" ]; then
    fail "cpack made no .tar.gz or no .deb: $(ls "$work/packages")"
  else
    listing=$(tar -tzf "$tgz")
    grep -q '^tolvane-1.1-Linux/bin/Tolvane$' <<<"$listing" || fail ".tar.gz has no bin/Tolvane"
    grep -q '^tolvane-1.1-Linux/lib/cmake/Tolvane/TolvaneConfig.cmake$' <<<"$listing" ||
      fail ".tar.gz has no CMake package"
    check_deb "$deb"
    if [ $failures = $section ]; then pass "cpack: $(basename "$tgz") $(basename "$deb")"; fi
  fi
fi

echo
if [ $failures != 0 ]; then
  echo "$failures checks failed"
  exit 1
fi
echo "all install checks passed"
