#!/usr/bin/env bash
# scripts/check-package.sh: what a new player meets: the Debian package is built, unpacked and
# played from a read-only tree; as root, where no tumblewick package is installed yet, it is also
# installed with dpkg, played and removed again (TW_INSTALL_PACKAGE=0 skips this); and
# scripts/play.sh, run a second time, shows nothing but the game's own lines.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/package-deb.sh
deb="$(ls -t dist/tumblewick_*.deb | head -1)"
bash tests/install_test.sh --deb "$deb"

if [ "${TW_INSTALL_PACKAGE:-1}" = 1 ] && [ "$(id -u)" = 0 ] && ! dpkg-query -W tumblewick >/dev/null 2>&1; then
  dpkg -i "$deb" >/dev/null
  home="$(mktemp -d)"
  out="$(cd "$home" && printf 'key Down Down Enter Escape Down Down Down Enter\ntype installed\n' |
    HOME="$home" XDG_DATA_HOME= tumblewick --headless --seed 3)"
  dpkg -r tumblewick >/dev/null
  grep -qxF "say: Game saved as installed.  Press escape to return to the game." <<<"$out" ||
    { echo "the installed package did not save: $out" >&2; exit 1; }
  [ -f "$home/.local/share/tumblewick/installed" ] || { echo "the save is not in the player folder" >&2; exit 1; }
  rm -rf "$home"
  echo "installed with dpkg, played, saved into the player folder, removed"
fi

# The play command: the second run prints only what the game prints.
first="$(bash scripts/play.sh --no-echo </dev/null 2>&1)" || { echo "play.sh failed: $first" >&2; exit 1; }
second="$(bash scripts/play.sh --no-echo </dev/null 2>&1)" || { echo "play.sh failed: $second" >&2; exit 1; }
game="$(cd build/game && ./tumblewick --no-echo </dev/null 2>&1)"
[ "$second" = "$game" ] || { printf 'play.sh printed more than the game:\n%s\n---\n%s\n' "$second" "$game" >&2; exit 1; }
[ -z "$(ls -A build/game | grep -v -x -F -e tumblewick -e words.txt -e sounds -f <(grep -v -e "^#" -e "^$" packaging/player-files.txt))" ] ||
  { echo "build/game holds more than the game's files: $(ls -A build/game)" >&2; exit 1; }
echo "play.sh: quiet on the second run; build/game holds only the game's files"
