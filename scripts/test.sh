#!/bin/sh
# Builds every test with AddressSanitizer and UndefinedBehaviorSanitizer and runs them all.
set -eu
cd "$(dirname "$0")/.."
here=$(pwd)
jobs=$(nproc 2>/dev/null || echo 2)

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$here/tests/lsan.supp:print_suppressions=0"

cmake -S . -B build/test -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVELIX_SANITIZE=ON -DMORVELIX_BENCH=OFF
cmake --build build/test -j "$jobs"
ctest --test-dir build/test --output-on-failure -j "$jobs"

if [ -f fuzz/CMakeLists.txt ] && command -v clang++ >/dev/null; then
  scripts/fuzz.sh 60
fi
