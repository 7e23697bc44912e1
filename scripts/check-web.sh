#!/usr/bin/env bash
# scripts/check-web.sh [LINUX_BUILD]: builds the browser version and plays it in headless Chromium
# beside the native headless driver of LINUX_BUILD (default build-test): the same seeds and keys
# must give the same spoken lines and the same files. Also checks the page for a screen reader,
# a second tab and the end of the game, and prints its speed and size.
set -euo pipefail
cd "$(dirname "$0")/.."
linux="${1:-build-test}"
[ -x "$linux/tw_tests" ] || { echo "no Linux test build in $linux/" >&2; exit 1; }
bash scripts/deps.sh chromium >/dev/null
command -v npm >/dev/null || bash scripts/deps.sh nodejs npm >/dev/null
bash scripts/build-web.sh
(cd tests/web && npm ci --no-audit --no-fund --loglevel=error >/dev/null)
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# The keys of the whole game by ear, for a few completed tasks with their swaps.
sed -n 's/^> //p' tests/transcripts/whole-game.tw >"$work/game.script"
node tests/web/web_test.js build-web/site "$linux/game/tumblewick" "$work/game.script"
