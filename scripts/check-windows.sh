#!/usr/bin/env bash
# scripts/check-windows.sh [LINUX_BUILD]: cross-builds the Windows program with warnings as
# errors and plays every key script of tests/transcripts/ with it under Wine, through the game's
# own interpreter (--script): each must say exactly the script's lines and leave exactly its files
# (among them a whole game to the win with saves and loads under non-ASCII names, every refused
# save name, and a game folder named "Zoë win"). Then the program's own window, on a virtual
# display, plays the scripts that end it (closed, the session ended), house.tw, and a save and a
# load typed into its own boxes (save-and-load.tw) through the interpreter of LINUX_BUILD (default
# build-test).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh wine64 xvfb xauth xdotool >/dev/null
echo "Cross-building (log: build-windows.log)"
bash scripts/build-windows.sh -DTW_WERROR=ON >build-windows.log 2>&1 || { tail -30 build-windows.log; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export WINEPREFIX="$work/wine" WINEDEBUG=-all LANG=C.UTF-8 LC_ALL=C.UTF-8
unset DISPLAY
/usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 || true
exe="$PWD/build-windows/game/tumblewick.exe"
failed=0
for script in "$PWD"/tests/transcripts/*.tw; do
  (cd "$work" && /usr/lib/wine/wine64 "$exe" --headless --script "$script") ||
    { echo "FAIL under Wine: $(basename "$script")"; failed=1; }
done
echo "Wine: $(ls tests/transcripts/*.tw | wc -l) key scripts played"
# The Wine server of the runs above has no display; a window needs one that starts with it.
timeout 60 /usr/lib/wine/wineserver -w || true
timeout 300 xvfb-run -a bash tests/windows/window_adapter.sh "$exe" "$PWD/${1:-build-test}/game/tumblewick" \
  tests/transcripts/{ends,closed-in-completion,house,save-and-load}.tw || failed=1
exit "$failed"
