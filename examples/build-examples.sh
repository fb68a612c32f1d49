#!/usr/bin/env bash
# Builds the example message sources into one catalogue and one names header:
#   build-examples.sh OUTPUT_DIR   (the Tolvane binary is taken from $TOLVANE)
# The Japanese table comes from a translator's PO file, messages_ja.po,
# turned into a message source by tolvane-translate.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=${1:?usage: build-examples.sh OUTPUT_DIR}
tolvane=${TOLVANE:?set TOLVANE to the Tolvane executable}
translate="$(dirname "$tolvane")/translate/tolvane-translate"
rm -rf "$out"
mkdir -p "$out"
cp "$here"/messages_*.h "$here"/messages_ja.po "$out"/
cd "$out"
"$tolvane" -c -tmessages_en.h -hAppMessages.h app.msg
"$tolvane" -tmessages_fr.h -hAppMessages.h app.msg
if [ -x "$translate" ]; then
  echo
  "$translate" import --reference messages_en.h --reference-charset ISO-8859-1 \
    --language JA --font FONT_JA --coding UNICODE --file-type 1 --application-type 2a \
    -o messages_ja.h messages_ja.po
  "$tolvane" -tmessages_ja.h -hAppMessages.h app.msg
else
  echo "No JA table: tolvane-translate, which turns messages_ja.po into a source, was not built"
fi
echo
echo "Built $out/app.msg ($(stat -c %s app.msg) bytes) and $out/AppMessages.h:"
cat AppMessages.h
dump="$(dirname "$tolvane")/dump/tolvane-dump"
if [ -x "$dump" ]; then
  echo
  "$dump" "$out/app.msg"
  echo
  "$dump" --messages --charset ISO-8859-1 "$out/app.msg"
  echo
  "$dump" --stats "$out/app.msg"
fi
