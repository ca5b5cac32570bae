#!/bin/sh
# Builds every test with AddressSanitizer and UndefinedBehaviorSanitizer and
# runs them all; then builds the tests of the camera and its live loop, which
# run threads of their own, with ThreadSanitizer and runs those; then runs
# the live loop's soak in a Release build, where its memory measure means
# something; then the fuzzers.
set -eu
cd "$(dirname "$0")/.."
here=$(pwd)
jobs=$(nproc 2>/dev/null || echo 2)

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$here/tests/lsan.supp:print_suppressions=0"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$here/tests/tsan.supp"

# Configures a sanitized build in the given folder. The sanitizers' own
# checks cost more than -O2 saves, and their reports need only line tables:
# -O1 -g1 halves the build.
configure_sanitized() {
  folder=$1
  shift
  cmake -S . -B "$folder" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG" \
    "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG" -DMORVELIX_BENCH=OFF "$@"
}

# Every phase runs, whatever an earlier one did: a failure in one says
# nothing about the others. Each ends with a line that says how it went.
summary=""
failed=0
passed=0

# Runs one phase: its name, then the function that does it.
phase() {
  name=$1
  shift
  echo "==== $name ($(date +%T))"
  started=$(date +%s)
  # Not as the condition of an if: there the shell would ignore set -e.
  set +e
  ( set -e; "$@" )
  status=$?
  set -e
  if [ "$status" -eq 0 ]; then
    result=passed
    passed=$((passed + 1))
  else
    result=FAILED
    failed=$((failed + 1))
  fi
  line="==== $name: $result in $(( $(date +%s) - started )) s"
  echo "$line"
  summary="$summary$line
"
}

sanitized() {
  configure_sanitized build/test -DMORVELIX_SANITIZE=ON
  cmake --build build/test -j "$jobs"
  ctest --test-dir build/test --output-on-failure -j "$jobs"
}

thread_sanitized() {
  configure_sanitized build/tsan -DMORVELIX_SANITIZE=thread
  cmake --build build/tsan -j "$jobs" --target capture_tests platform_capture_tests app_live_test
  ctest --test-dir build/tsan --output-on-failure -j "$jobs" -L capture
}

soak() {
  cmake -S . -B build/soak -DCMAKE_BUILD_TYPE=Release -DMORVELIX_BENCH=OFF
  cmake --build build/soak -j "$jobs" --target app_live_test
  ctest --test-dir build/soak --output-on-failure -R '^app_live_soak$'
}

phase "AddressSanitizer and UndefinedBehaviorSanitizer" sanitized
phase "ThreadSanitizer" thread_sanitized
phase "Soak, Release" soak
if [ -f fuzz/CMakeLists.txt ] && command -v clang++ >/dev/null; then
  phase "Fuzzing" scripts/fuzz.sh 60
fi

echo
printf '%s' "$summary"
echo "phases: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
