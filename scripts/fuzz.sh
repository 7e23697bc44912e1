#!/usr/bin/env bash
# scripts/fuzz.sh: builds the libFuzzer targets with clang and runs each for a while from the
# corpus kept in tests/fuzz/corpus (reproducers of every fault found included).
# Usage: scripts/fuzz.sh [seconds per target, default 60]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
bash scripts/deps.sh clang libclang-rt-14-dev cmake make libcli11-dev

. scripts/build-quietly.sh
build=build-fuzz
CXX=clang++ build_quietly "$build.log" "$build" "fuzz_load fuzz_progress fuzz_words fuzz_keys" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTW_FUZZ=ON -DBUILD_TESTING=OFF
# Inputs that break a target are written beside its log, never into the source tree.
mkdir -p "$build/artifacts"

status=0
for target in load progress words keys; do
  # New inputs go to a scratch folder; the kept corpus is only read.
  scratch="$(mktemp -d)"
  log="$build/fuzz_$target.log"
  if UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 "$build/fuzz_$target" -max_total_time="$seconds" -timeout=10 \
      -rss_limit_mb=2048 -max_len=65536 -print_final_stats=1 -artifact_prefix="$build/artifacts/$target-" "$scratch" "tests/fuzz/corpus/$target" >"$log" 2>&1; then
    runs="$(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo '?')"
    echo "fuzz_$target: $runs runs in ${seconds} s, no fault"
  else
    echo "fuzz_$target FAILED; the end of its log:"
    tail -30 "$log"
    status=1
  fi
  rm -rf "$scratch"
done
exit "$status"
