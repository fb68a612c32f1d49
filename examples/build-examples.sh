#!/usr/bin/env bash
# Builds the example message sources into one catalogue and one names header:
#   build-examples.sh OUTPUT_DIR   (the Tolvane binary is taken from $TOLVANE)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=${1:?usage: build-examples.sh OUTPUT_DIR}
tolvane=${TOLVANE:?set TOLVANE to the Tolvane executable}
rm -rf "$out"
mkdir -p "$out"
cp "$here"/messages_*.h "$out"/
cd "$out"
"$tolvane" -c -tmessages_en.h -hAppMessages.h app.msg
"$tolvane" -tmessages_fr.h -hAppMessages.h app.msg
"$tolvane" -tmessages_ja.h -hAppMessages.h app.msg
echo
echo "Built $out/app.msg ($(stat -c %s app.msg) bytes) and $out/AppMessages.h:"
cat AppMessages.h
dump="$(dirname "$tolvane")/dump/tolvane-dump"
if [ -x "$dump" ]; then
  echo
  "$dump" "$out/app.msg"
  echo
  "$dump" --messages "$out/app.msg"
  echo
  "$dump" --stats "$out/app.msg"
fi
