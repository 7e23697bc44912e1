#!/usr/bin/env bash
# scripts/test.sh: installs what is missing, builds, and runs every test: once in a plain build,
# once under AddressSanitizer and UBSan.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh

jobs="$(nproc)"
status=0

run() {
  local dir="$1"; shift
  cmake -S . -B "$dir" "$@" >/dev/null
  cmake --build "$dir" -j"$jobs"
  (cd "$dir" && ctest --output-on-failure -j"$jobs" --timeout 600) || status=1
}

run build-test -DCMAKE_BUILD_TYPE=RelWithDebInfo
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run build-asan -DCMAKE_BUILD_TYPE=Debug -DTW_SANITIZE=ON

exit "$status"
