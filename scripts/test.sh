#!/usr/bin/env bash
# scripts/test.sh: installs what is missing, builds, and runs every check:
#   a gcc build and a clang build, warnings as errors, each with all tests;
#   the Windows program cross-built, warnings as errors, and played under Wine beside the gcc build;
#   the browser version built with emscripten; the key scripts played in Chromium, Firefox ESR and
#   WebKitGTK; Orca reading the page in Chromium and Firefox;
#   an AddressSanitizer and UBSan build with all tests and the key storm;
#   a ThreadSanitizer build of the threaded back ends' tests;
#   the libFuzzer targets, about a minute each;
#   the Debian package, played unpacked from a read-only tree, and the quiet play command;
#   the source format and the core's headers.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
bash scripts/deps.sh clang libclang-rt-14-dev clang-format

jobs="$(nproc)"
status=0
declare -a timings

# Runs a step, noting how long it took; a failed step fails the run but the others still run.
step() {
  local name="$1"; shift
  local start=$SECONDS
  echo "=== $name"
  if "$@"; then timings+=("$name: $((SECONDS - start)) s"); else timings+=("$name: FAILED after $((SECONDS - start)) s"); status=1; fi
}

. scripts/build-quietly.sh
build_and_test() {
  local dir="$1" filter="$2"; shift 2
  mkdir -p "$dir"
  build_quietly "$dir/build-output.log" "$dir" "" -DTW_WERROR=ON "$@" || return 1
  (cd "$dir" && ctest --output-on-failure -j"$jobs" --timeout 1500 ${filter:+-R "$filter"})
}

step "format and core headers" bash scripts/check-source.sh
step "gcc build and tests" build_and_test build-test "" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=g++
step "Windows cross-build and the Wine check" bash scripts/check-windows.sh build-test
step "Windows zip and installer, under Wine" env TW_REBUILD=0 bash scripts/package-windows.sh
step "the browser version in Chromium, Firefox and WebKitGTK" bash scripts/check-web.sh
step "clang build and tests" build_and_test build-clang "" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
step "AddressSanitizer, UBSan and the key storm" build_and_test build-asan "" -DCMAKE_BUILD_TYPE=Debug -DTW_SANITIZE=ON \
  -DCMAKE_CXX_COMPILER=g++
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
step "ThreadSanitizer, threaded back ends" build_and_test build-tsan "EspeakVoice|SpeechdReader|SoundPlayer|Terminal" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTW_SANITIZE=thread -DCMAKE_CXX_COMPILER=clang++
step "fuzzing" bash scripts/fuzz.sh "${TW_FUZZ_SECONDS:-60}"
step "Debian package, installed tree and play command" bash scripts/check-package.sh

echo "=== timings"
printf '%s\n' "${timings[@]}"
exit "$status"
