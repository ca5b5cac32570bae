#!/bin/sh
# Builds every test with AddressSanitizer and UndefinedBehaviorSanitizer and
# runs them all; then builds the tests of the camera and its live loop, which
# run threads of their own, with ThreadSanitizer and runs those.
set -eu
cd "$(dirname "$0")/.."
here=$(pwd)
jobs=$(nproc 2>/dev/null || echo 2)

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$here/tests/lsan.supp:print_suppressions=0"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$here/tests/tsan.supp"

cmake -S . -B build/test -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVELIX_SANITIZE=ON -DMORVELIX_BENCH=OFF
cmake --build build/test -j "$jobs"
ctest --test-dir build/test --output-on-failure -j "$jobs"

cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVELIX_SANITIZE=thread -DMORVELIX_BENCH=OFF
cmake --build build/tsan -j "$jobs" --target capture_tests platform_capture_tests app_test
ctest --test-dir build/tsan --output-on-failure -j "$jobs" -L capture

if [ -f fuzz/CMakeLists.txt ] && command -v clang++ >/dev/null; then
  scripts/fuzz.sh 60
fi
