#!/bin/sh
# Starts the reader built in the given build folder. Until the window exists
# this runs the engine benchmark instead.
set -eu
build=$1
if [ -x "$build/app/morvelix" ]; then
  exec "$build/app/morvelix"
fi
exec "$build/bench/engine_bench"
