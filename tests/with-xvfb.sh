#!/bin/sh
# Runs a command under an Xvfb server of its own. The server picks a free
# display number itself (-displayfd), so that many of these can start at the
# same moment without two of them ending up on one display, which xvfb-run -a
# cannot promise.
#
#   with-xvfb.sh [--window-manager] command...
#
# --window-manager also runs the openbox window manager on that display,
# started before the command so that its toolkit finds one from its first look.
set -u
wm=""
if [ "${1:-}" = "--window-manager" ]; then
  wm=yes
  shift
fi
dir=$(mktemp -d "${TMPDIR:-/tmp}/with-xvfb.XXXXXX") || exit 1
server=""
manager=""

stop() {
  [ -n "$manager" ] && kill "$manager" 2>/dev/null && wait "$manager" 2>/dev/null
  [ -n "$server" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
  rm -rf "$dir"
}

# Waits until the file is there while the process runs (a minute at most:
# a busy machine can be slow to start a server).
wait_for() {
  file=$1 process=$2 name=$3
  tries=0
  while [ ! -s "$file" ]; do
    if ! kill -0 "$process" 2>/dev/null || [ $tries -ge 1200 ]; then
      echo "with-xvfb: $name did not start:" >&2
      cat "$dir/$name.log" >&2
      stop
      exit 1
    fi
    tries=$((tries + 1))
    sleep 0.05
  done
}

Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$dir/display" 2>"$dir/Xvfb.log" &
server=$!
# The server says which display it listens on.
wait_for "$dir/display" "$server" Xvfb
DISPLAY=:$(head -n 1 "$dir/display")
export DISPLAY

if [ -n "$wm" ]; then
  # Openbox runs its start-up command once it manages the screen.
  openbox --sm-disable --startup "sh -c 'echo ready >$dir/wm'" >"$dir/openbox.log" 2>&1 &
  manager=$!
  wait_for "$dir/wm" "$manager" openbox
fi

"$@"
status=$?
stop
exit $status
