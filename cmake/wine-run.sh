#!/bin/sh
# Runs a Windows program under Wine for the build and the tests, quietly.
#
# The first program that starts Wine's server also starts Wine's own
# background processes, which inherit its standard output and error and keep
# them open as long as the server lives. Whoever reads those streams through
# a pipe (ctest, test discovery) would wait for the server to end rather than
# for the program. So the program writes to files here, and they are copied
# out once it has ended.
#
# Wine's server ends as soon as its last program does, and a program that
# starts just then loses its connection. A server that stays 30 seconds after
# its last program is started first (this does nothing when one runs).
export WINEDEBUG=-all
WINE=$(command -v wine || command -v wine64)
WINESERVER=$(command -v wineserver || echo /usr/lib/wine/wineserver64)
"$WINESERVER" -p30 >/dev/null 2>&1 || true
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
# Every program run here prints something before it can fail (a test
# program its first line, the tools their banner or message). Ending with an
# error having printed nothing is Wine failing to start it, which happens now
# and then on a busy machine: it is run again, twice at the most, and said so.
for attempt in 1 2 3; do
  status=0
  "$WINE" "$@" >"$dir/out" 2>"$dir/err" || status=$?
  if [ "$status" -eq 0 ] || [ -s "$dir/out" ] || [ -s "$dir/err" ] || [ "$attempt" -eq 3 ]; then
    break
  fi
  echo "wine-run.sh: Wine ended $1 with status $status before it printed anything; running it again" >&2
  sleep 1
done
cat "$dir/out"
cat "$dir/err" >&2
exit $status
