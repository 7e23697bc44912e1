#!/usr/bin/env bash
# scripts/check-windows.sh [LINUX_BUILD]: cross-builds the Windows program with warnings as
# errors and plays every key script of tests/transcripts/ with it under Wine, through the same
# runner as the Linux build's tests: each must say exactly the script's lines and leave exactly
# its files (among them a whole game to the win with saves and loads under non-ASCII names, every
# refused save name, and a game folder named "Zoë win").
# LINUX_BUILD is a build with tests (default build-test), whose runner is used.
set -euo pipefail
cd "$(dirname "$0")/.."
linux="${1:-build-test}"
[ -x "$linux/tw_tests" ] || { echo "no Linux test build in $linux/" >&2; exit 1; }
bash scripts/deps.sh wine64 >/dev/null
echo "Cross-building (log: build-windows.log)"
bash scripts/build-windows.sh -DTW_WERROR=ON >build-windows.log 2>&1 || { tail -30 build-windows.log; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export WINEPREFIX="$work/wine" WINEDEBUG=-all LANG=C.UTF-8 LC_ALL=C.UTF-8
unset DISPLAY
/usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 || true
TW_TRANSCRIPT_RUNNER=/usr/lib/wine/wine64 TW_TRANSCRIPT_EXE="$PWD/build-windows/game/tumblewick.exe" \
  "$linux/tw_tests" --gtest_filter='Corpus/*' --gtest_brief=1
