#!/usr/bin/env bash
# scripts/play.sh: installs what is missing, builds the game and starts it in this terminal.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF >/dev/null
cmake --build build -j"$(nproc)" --target tumblewick
# The build folder is the program's folder (words.txt, sounds/, saved games) and, as the
# current folder, also takes the start-up log.
cd build
exec ./tumblewick "$@"
