#!/bin/sh
# Installs what the reader, its tests and its benchmarks need on Debian 12.
# Run as root; packages that are already there are left as they are.
set -eu

PACKAGES="
  build-essential cmake pkg-config gdb
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  clang libclang-rt-14-dev
  libwxgtk3.2-dev libgtk-3-dev
  libstb-dev libtiff-dev zlib1g-dev
  libv4l-dev qv4l2
  libx11-dev libxtst-dev
  libasound2-dev
  libacl1-dev
  xdg-utils
  xvfb xauth openbox fonts-dejavu-core adwaita-icon-theme librsvg2-common
  libxml2-utils
"

missing=""
for p in $PACKAGES; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing="$missing $p"
  fi
done

if [ -n "$missing" ]; then
  echo "Installing:$missing"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  # shellcheck disable=SC2086
  apt-get install -y --no-install-recommends $missing
fi
