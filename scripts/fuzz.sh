#!/bin/sh
# Builds the libFuzzer targets with clang, ASan and UBSan and runs each for the
# given number of seconds (default 60). The inputs kept in fuzz/corpus/ run
# first as regression cases; new finds go to a scratch folder (copy the
# interesting ones into fuzz/corpus/ by hand). A crash fails the run.
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-60}
jobs=$(nproc 2>/dev/null || echo 2)

CC=clang CXX=clang++ cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DMORVELIX_FUZZ=ON -DMORVELIX_SANITIZE=ON -DMORVELIX_APP=OFF -DMORVELIX_TESTS=OFF -DMORVELIX_BENCH=OFF
cmake --build build/fuzz -j "$jobs"

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
for target in scan_fuzz run_line_fuzz; do
  scratch=$(mktemp -d)
  mkdir -p "fuzz/corpus/$target"
  echo "== $target: $seconds s"
  build/fuzz/fuzz/$target -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="build/fuzz/$target-" "$scratch" "fuzz/corpus/$target"
  rm -rf "$scratch"
done
