#!/bin/sh
# Starts the reader built in the given build folder. Its window is an X11 one
# also under a Wayland session (through XWayland): keystroke output and its
# own focus handling work through X11.
set -eu
build=$1
export GDK_BACKEND="${GDK_BACKEND:-x11}"
exec "$build/app/morvelix"
