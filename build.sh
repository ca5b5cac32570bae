#!/bin/sh
# Morvelix Barcode Reader: install what is missing, build, then run.
#
#   ./build.sh run    build the reader (release) and start it
#   ./build.sh test   build everything with the sanitizers and run every test
#   ./build.sh bench  build the engine benchmarks (release) and run them
set -eu
cd "$(dirname "$0")"
here=$(pwd)
jobs=$(nproc 2>/dev/null || echo 2)

what=${1:-run}
case "$what" in
  run|test|bench) ;;
  *) echo "usage: $0 run|test|bench" >&2; exit 2 ;;
esac

if [ "$(id -u)" = 0 ]; then
  scripts/install-deps.sh
else
  echo "Not root: skipping the package install (run as root once to install what is missing)." >&2
fi

release() {
  cmake -S "$here" -B "$here/build/release" -DCMAKE_BUILD_TYPE=Release -DMORVELIX_TESTS=OFF "$@"
  cmake --build "$here/build/release" -j "$jobs"
}

case "$what" in
  run)
    release
    exec scripts/run-reader.sh "$here/build/release"
    ;;
  bench)
    release -DMORVELIX_APP=OFF
    exec "$here/build/release/bench/engine_bench"
    ;;
  test)
    exec scripts/test.sh
    ;;
esac
