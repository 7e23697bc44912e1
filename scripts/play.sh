#!/usr/bin/env bash
# scripts/play.sh: installs what is missing, builds the game and starts it in this terminal.
# The build's output goes to build.log; only the game's own lines reach the screen, unless the
# build fails.
set -euo pipefail
cd "$(dirname "$0")/.."
log="$PWD/build.log"
bash scripts/deps.sh >"$log" 2>&1 || { tail -20 "$log"; exit 1; }
# True when the build has something to compile or link: make is asked what it would do.
needs_build() {
  [ -f build/Makefile ] || return 0
  # Captured whole first: grep -q stops at its first match, and make, cut off mid-output, would
  # die of SIGPIPE and make the pipeline false under pipefail.
  local plan
  plan="$(make -C build -n tumblewick 2>/dev/null || echo failed)"
  grep -q -E '(^| )(/usr/bin/)?(c\+\+|g\+\+|clang\+\+) |cmake_link_script|make_award |^failed$' <<<"$plan"
}
if needs_build; then
  echo "Building Tumblewick, please wait."
  if ! { cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF &&
    cmake --build build -j"$(nproc)" --target tumblewick; } >>"$log" 2>&1; then
    echo "The build failed. The end of $log:"
    tail -30 "$log"
    exit 1
  fi
fi
# The build's game folder holds the program and its files and nothing else: saved games, the
# settings and the start-up log land there, never among the build's own files.
cd build/game
exec ./tumblewick "$@"
