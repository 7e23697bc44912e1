#!/usr/bin/env bash
# scripts/check-windows.sh [LINUX_BUILD]: cross-builds the Windows program with warnings as
# errors and plays it under Wine beside the Linux build: the headless driver of both, on the same
# seeds and the same scripts, must print the same lines and leave the same files. The scripts: a
# whole game to the win with saves and loads between (the keys the end-to-end bot chose), a game
# saved and loaded under non-ASCII names in a non-ASCII folder, and every refused save name.
# LINUX_BUILD is a build with tests (default build-test).
set -euo pipefail
cd "$(dirname "$0")/.."
linux="${1:-build-test}"
[ -x "$linux/tw_tests" ] || { echo "no Linux test build in $linux/" >&2; exit 1; }
bash scripts/deps.sh wine64 >/dev/null
echo "Cross-building (log: build-windows.log)"
bash scripts/build-windows.sh -DTW_WERROR=ON >build-windows.log 2>&1 || { tail -30 build-windows.log; exit 1; }

work="$(mktemp -d)"
trap '[ -n "${TW_KEEP:-}" ] || rm -rf "$work"' EXIT
export WINEPREFIX="$work/wine" WINEDEBUG=-all LANG=C.UTF-8 LC_ALL=C.UTF-8
unset DISPLAY
wine=/usr/lib/wine/wine64
"$wine" wineboot -i >/dev/null 2>&1 || true
failed=0

# Plays SCRIPT with SEED on both builds, each from a fresh game folder named FOLDER, and compares.
compare() {
  local name="$1" seed="$2" script="$3" folder="$4" side dir
  for side in linux windows; do
    dir="$work/$name/$side/$folder"
    mkdir -p "$dir"
    if [ "$side" = linux ]; then
      cp -r "$linux/game/tumblewick" "$linux/game/words.txt" "$linux/game/sounds" "$dir/"
      (cd "$dir" && ./tumblewick --headless --seed "$seed" <"$script" >"$work/$name/$side.out" 2>"$work/$name/$side.err")
    else
      cp -r build-windows/game/tumblewick.exe build-windows/game/words.txt build-windows/game/sounds "$dir/"
      (cd "$dir" && "$wine" ./tumblewick.exe --headless --seed "$seed" <"$script" >"$work/$name/$side.out" \
        2>"$work/$name/$side.err")
    fi
    # The one thing that must differ: the award sound's path.
    sed -i -E 's#^sound: .*[/\\]sounds[/\\]award\.wav$#sound: sounds/award.wav#' "$work/$name/$side.out"
  done
  local a="$work/$name/linux/$folder" b="$work/$name/windows/$folder" ok=1 f
  if ! cmp -s "$work/$name/linux.out" "$work/$name/windows.out"; then
    echo "$name: the output differs:"
    diff "$work/$name/linux.out" "$work/$name/windows.out" | head -20
    ok=0
  fi
  local files_a files_b
  files_a="$(cd "$a" && find . -type f ! -name tumblewick | sort)"
  files_b="$(cd "$b" && find . -type f ! -name tumblewick.exe | sort)"
  if [ "$files_a" != "$files_b" ]; then
    printf '%s: different files:\n%s\n---\n%s\n' "$name" "$files_a" "$files_b"
    ok=0
  else
    while IFS= read -r f; do
      cmp -s "$a/$f" "$b/$f" || { echo "$name: $f differs"; ok=0; }
    done <<<"$files_a"
  fi
  local lines
  lines="$(wc -l <"$work/$name/linux.out")"
  if [ "$ok" = 1 ]; then
    echo "$name: the same $lines lines and the same files ($(wc -l <<<"$files_a") of them)"
  else
    failed=1
  fi
}

# A whole game to the win, saved and loaded under "après 10", "après 20" and "après 30".
TW_E2E_SCRIPT="$work/game.script" "$linux/tw_tests" --gtest_filter='EndToEnd.*' >"$work/e2e.log" 2>&1 ||
  { tail -20 "$work/e2e.log"; exit 1; }
compare whole-game 27 "$work/game.script" game

# Non-ASCII names in a non-ASCII folder: play, hear the task, save twice, load both, exit.
cat >"$work/unicode.script" <<'KEYS'
key 40
key 40
key 13
key 81
key 50
key 87
key 27
key 40
key 40
key 40
key 13
type Café w
key 40
key 40
key 40
key 13
type игра
key 40
key 40
key 40
key 40
key 13
type Café w
key 13
type игра
key 40
key 13
KEYS
compare unicode 11 "$work/unicode.script" "Zoë win"
for said in "Game saved as Café w." "Game saved as игра." "Saved games: Café w, игра." "Game loaded."; do
  [ "$(grep -c "^say: $said" "$work/unicode/windows.out" || true)" -ge 1 ] || { echo "unicode: never heard $said"; failed=1; }
done

# Every refused name, as a save and as a load; nothing may change.
{
  printf 'key 40\nkey 40\nkey 13\nkey 27\nkey 40\nkey 40\nkey 40\n'
  names=("words.txt." "progress.ini " "Progress.INI. ." "end." "end " CON nul Aux.txt com1 COM9.sav lpt5 "prn .txt"
    "a<b" "a>b" 'a"b' "a|b" "what?" "a*" "a/b" 'a\b' "c:name" ".." "." WORDS.TXT sounds installed.txt
    ".tumblewick-1.tmp" debuglog.txt myversion.txt lasttask.txt)
  for n in "${names[@]}"; do printf 'key 13\ntype %s\n' "$n"; done
  printf 'key 40\n'
  for n in "${names[@]}"; do printf 'key 13\ntype %s\n' "$n"; done
  printf 'key 40\nkey 13\n'
} >"$work/refused.script"
compare refused 5 "$work/refused.script" game
refusals="$(grep -c '^say: That name cannot be used' "$work/refused/linux.out" || true)"
[ "$refusals" = 60 ] || { echo "refused: $refusals refusals instead of 60"; failed=1; }

exit "$failed"
