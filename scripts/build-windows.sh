#!/usr/bin/env bash
# scripts/build-windows.sh: cross-builds tumblewick.exe for 64-bit Windows into build-windows/game/.
# Usage: scripts/build-windows.sh [extra cmake options]
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh g++-mingw-w64-x86-64-posix cmake make g++ libcli11-dev

build=build-windows
# CLI11 is header-only. Its headers get a folder of their own, so that none of the build
# machine's other headers can reach the Windows build.
cli_headers="$(dpkg -L libcli11-dev | grep -m1 '/CLI/CLI\.hpp$' || true)"
if [ -z "$cli_headers" ]; then
  echo "CLI/CLI.hpp not found in libcli11-dev" >&2
  exit 1
fi
mkdir -p "$build/cli11-include"
rm -rf "$build/cli11-include/CLI"
cp -r "$(dirname "$cli_headers")" "$build/cli11-include/CLI"

cmake -S . -B "$build" \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DBUILD_TESTING=OFF \
  -DTW_CLI11_INCLUDE_DIR="$PWD/$build/cli11-include" \
  "$@"
cmake --build "$build" -j"${TW_JOBS:-$(nproc)}" --target tumblewick game_data

for f in tumblewick.exe words.txt sounds/award.wav; do
  [ -f "$build/game/$f" ] || { echo "missing after the build: $build/game/$f" >&2; exit 1; }
done
echo "Built $build/game/tumblewick.exe with words.txt and sounds/award.wav beside it."
