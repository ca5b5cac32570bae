#!/bin/sh
# Builds the libFuzzer targets with clang, ASan and UBSan and runs them side
# by side. Each target first replays the inputs kept in fuzz/corpus/ as a
# regression case, then fuzzes for the given number of seconds (default 60)
# on top of the time that replay took, so that the whole budget goes to new
# inputs. New finds go to a scratch folder; a crash fails the run.
#
# The kept inputs are a minimised set: after a longer run, merge the finds
# into them with
#   build/fuzz/fuzz/<target> -merge=1 fuzz/corpus/<target> <finds>
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-60}
jobs=$(nproc 2>/dev/null || echo 2)
targets="scan_fuzz run_line_fuzz image_file_fuzz"

CC=clang CXX=clang++ cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DMORVELIX_FUZZ=ON -DMORVELIX_SANITIZE=ON -DMORVELIX_APP=ON -DMORVELIX_TESTS=OFF -DMORVELIX_BENCH=OFF
# shellcheck disable=SC2086
cmake --build build/fuzz -j "$jobs" --target $targets

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT

# Replays the kept inputs, then fuzzes; the log holds both.
fuzz() {
  target=$1
  binary=build/fuzz/fuzz/$target
  kept=fuzz/corpus/$target
  scratch=$logs/$target-finds
  mkdir -p "$kept" "$scratch"
  started=$(date +%s)
  "$binary" -runs=0 "$kept" || return 1
  replay=$(($(date +%s) - started + 1))
  echo "== $target: kept inputs replayed in $replay s, now $seconds s of new inputs"
  "$binary" -max_total_time=$((replay + seconds)) -print_final_stats=1 \
    -artifact_prefix="build/fuzz/$target-" "$scratch" "$kept"
}

for target in $targets; do
  fuzz "$target" >"$logs/$target.log" 2>&1 &
  echo $! >"$logs/$target.pid"
done
failed=""
for target in $targets; do
  wait "$(cat "$logs/$target.pid")" || failed="$failed $target"
done
for target in $targets; do
  echo "======== $target"
  case " $failed " in
    *" $target "*)
      # Everything, for the sanitizer's report and the input that caused it.
      cat "$logs/$target.log" ;;
    *)
      # The replay and the stats; the progress lines and what the loader
      # says of each file it refuses would only bury them.
      grep -e '^== ' -e '^stat::' "$logs/$target.log" || true ;;
  esac
done
if [ -n "$failed" ]; then
  echo "fuzzing failed:$failed" >&2
  exit 1
fi
