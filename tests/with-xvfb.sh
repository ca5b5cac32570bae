#!/bin/sh
# Runs a command under an Xvfb server of its own. The server picks a free
# display number itself (-displayfd), so that many of these can start at the
# same moment without two of them ending up on one display, which xvfb-run -a
# cannot promise.
set -u
dir=$(mktemp -d "${TMPDIR:-/tmp}/with-xvfb.XXXXXX") || exit 1
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$dir/display" 2>"$dir/log" &
server=$!

# Wait for the server to say which display it listens on (at most ~10 s).
tries=0
while [ ! -s "$dir/display" ]; do
  if ! kill -0 "$server" 2>/dev/null || [ $tries -ge 200 ]; then
    echo "with-xvfb: Xvfb did not start:" >&2
    cat "$dir/log" >&2
    kill "$server" 2>/dev/null
    rm -rf "$dir"
    exit 1
  fi
  tries=$((tries + 1))
  sleep 0.05
done

DISPLAY=:$(head -n 1 "$dir/display")
export DISPLAY
"$@"
status=$?

kill "$server" 2>/dev/null
wait "$server" 2>/dev/null
rm -rf "$dir"
exit $status
