#!/usr/bin/env bash
# Installs what tolvane-translate needs on a fresh Debian machine: gettext's
# libgettextpo and expat to build it, and for its tests the translators' own
# tools it is checked against (msgfmt and msgmerge, Translate Toolkit's
# xliff2po, xmllint). Does nothing when they are already there.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/../cmake/apt-install.sh"

have_all() {
  [ -f /usr/include/gettext-po.h ] && [ -f /usr/include/expat.h ] &&
    command -v msgfmt >/dev/null 2>&1 && command -v msgmerge >/dev/null 2>&1 &&
    command -v xliff2po >/dev/null 2>&1 && command -v xmllint >/dev/null 2>&1
}

if have_all; then
  exit 0
fi
apt_install \
  libgettextpo-dev libexpat1-dev gettext translate-toolkit libxml2-utils
if ! have_all; then
  echo "translate/install-deps.sh: libgettextpo, expat or the translation tools are still missing" >&2
  exit 1
fi
