#!/bin/sh
# Runs a command on $DISPLAY under the openbox window manager, started first
# so that the command's toolkit finds a window manager from its first look.
set -u
dir=$(mktemp -d "${TMPDIR:-/tmp}/with-openbox.XXXXXX") || exit 1
openbox --sm-disable --startup "touch $dir/ready" >"$dir/log" 2>&1 &
wm=$!

# Openbox runs the start-up command once it manages the screen (~10 s at most).
tries=0
while [ ! -e "$dir/ready" ]; do
  if ! kill -0 "$wm" 2>/dev/null || [ $tries -ge 200 ]; then
    echo "with-openbox: openbox did not start:" >&2
    cat "$dir/log" >&2
    kill "$wm" 2>/dev/null
    rm -rf "$dir"
    exit 1
  fi
  tries=$((tries + 1))
  sleep 0.05
done

"$@"
status=$?

kill "$wm" 2>/dev/null
wait "$wm" 2>/dev/null
rm -rf "$dir"
exit $status
