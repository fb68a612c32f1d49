#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time.
# Fails when any target finds a crash, a leak, a timeout or a sanitizer
# report; every such input is copied to fuzz/regressions/<target>/, where the
# ordinary test suite replays it from then on (commit it with the fix).
#
#   FUZZ_SECONDS     seconds per target (default 60)
#   FUZZ_TARGETS     targets to run (default: all that were built)
#   FUZZ_BUILD_DIR   build directory (default build/fuzz)
#   FUZZ_JOBS        targets run side by side (default 1)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
seconds=${FUZZ_SECONDS:-60}
build=${FUZZ_BUILD_DIR:-build/fuzz}
jobs=${FUZZ_JOBS:-1}

bash fuzz/install-deps.sh
mkdir -p "$build"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DTOLVANE_TESTS=OFF >"$build/configure.log" 2>&1 || {
  cat "$build/configure.log" >&2
  exit 1
}
cmake --build "$build" --target fuzzers

targets=${FUZZ_TARGETS:-$(find "$build/fuzz" -maxdepth 1 -type f -name 'fuzz_*' -printf '%f\n' |
  sed 's/^fuzz_//' | sort)}
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1:abort_on_error=1}

# One target: a scratch corpus seeded from the committed one (new inputs go
# there, not into the source tree), then the findings copied out.
run_one() {
  local target=$1
  local work=$build/fuzz-work/$target
  rm -rf "$work"
  mkdir -p "$work/corpus" "$work/artifacts"
  local dict=()
  [ -f "fuzz/$target.dict" ] && dict=(-dict="fuzz/$target.dict")
  local seeds=(fuzz/corpus/"$target")
  [ -d "fuzz/regressions/$target" ] && seeds+=(fuzz/regressions/"$target")
  local status=0
  "$build/fuzz/fuzz_$target" "$work/corpus" "${seeds[@]}" "${dict[@]}" \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=8192 \
    -print_final_stats=1 -artifact_prefix="$work/artifacts/" >"$work/log" 2>&1 || status=$?
  local found
  found=$(find "$work/artifacts" -type f | wc -l)
  if [ "$status" -ne 0 ] || [ "$found" -ne 0 ]; then
    mkdir -p "fuzz/regressions/$target"
    for artifact in "$work"/artifacts/*; do
      [ -f "$artifact" ] || continue
      cp "$artifact" "fuzz/regressions/$target/$(basename "$artifact")"
      echo "  $target: kept fuzz/regressions/$target/$(basename "$artifact")"
    done
    echo "FAIL $target (exit $status); its log: $root/$work/log"
    grep -E 'ERROR|runtime error|broken invariant|SUMMARY' "$work/log" | head -20 || true
    return 1
  fi
  echo "ok   $target: $(grep -E '^stat::number_of_executed_units' "$work/log" | awk '{print $2}') runs in ${seconds}s"
}

failed=0
running=0
for target in $targets; do
  if [ "$jobs" -gt 1 ]; then
    run_one "$target" &
    running=$((running + 1))
    if [ "$running" -ge "$jobs" ]; then
      wait -n || failed=1
      running=$((running - 1))
    fi
  else
    run_one "$target" || failed=1
  fi
done
while [ "$running" -gt 0 ]; do
  wait -n || failed=1
  running=$((running - 1))
done
if [ "$failed" -ne 0 ]; then
  echo "fuzzing found problems: fix them and commit the inputs under fuzz/regressions/" >&2
  exit 1
fi
