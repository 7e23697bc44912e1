#!/usr/bin/env bash
# tests/install_test.sh BUILD_DIR | --deb PACKAGE: installs the build under a temporary prefix
# (or unpacks the package there) and plays the installed copy from a read-only tree: it must
# greet, save, load and exit, writing only into the player folder; a copy in a writable folder
# without the marker keeps its files beside itself.
set -euo pipefail
# The files the game writes besides the saves: one list, kept with the packaging.
mapfile -t written < <(grep -v -e "^#" -e "^$" "$(dirname "$0")/../packaging/player-files.txt")
work="$(mktemp -d)"
trap '[ -n "${TW_KEEP:-}" ] || rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

prefix="$work/prefix"
if [ "$1" = --deb ]; then
  deb="$2"
  dpkg-deb -x "$deb" "$prefix"
  [ -z "$(dpkg-deb -c "$deb" | awk '{print $6}' | grep -v -E '^\./usr/(bin/tumblewick|share/(tumblewick|applications|metainfo|man)(/.*)?|bin/|share/)?$')" ] ||
    fail "the package holds files it should not: $(dpkg-deb -c "$deb")"
  depends="$(dpkg-deb -f "$deb" Depends)"
  for lib in libespeak-ng1 libspeechd2 libsdl2-2.0-0 libstdc++6; do
    grep -q "$lib" <<<"$depends" || fail "the package does not depend on $lib: $depends"
  done
else
  cmake --install "$1" --prefix "$prefix/usr" >/dev/null
fi
for f in bin/tumblewick share/tumblewick/words.txt share/tumblewick/sounds/award.wav share/tumblewick/installed.txt \
  share/applications/tumblewick.desktop share/metainfo/tumblewick.metainfo.xml share/man/man6/tumblewick.6.gz; do
  [ -f "$prefix/usr/$f" ] || fail "the install has no $f"
done
desktop-file-validate "$prefix/usr/share/applications/tumblewick.desktop" || fail "the desktop file is not valid"
appstreamcli validate --no-net "$prefix/usr/share/metainfo/tumblewick.metainfo.xml" >/dev/null ||
  fail "the AppStream file is not valid"
warnings="$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$prefix/usr/share/man/man6/tumblewick.6.gz" 2>&1 >/dev/null)"
[ -z "$warnings" ] || fail "the man page has warnings: $warnings"

sed -n "s/^> //p" "$(dirname "$0")/transcripts/save-and-load.tw" >"$work/session"

tree() { (cd "$1" && find . -printf '%p %s %m\n' | sort && find . -type f -exec sha256sum {} + | sort); }
play='cd "$3" && HOME="$2" XDG_DATA_HOME= "$1/usr/bin/tumblewick" --headless --seed 5 <"$4" >"$5"'
as_root=0
if [ "$(id -u)" = 0 ] && unshare -m true 2>/dev/null; then as_root=1; fi

# Plays the copy under prefix ($2: readonly, from a read-only mount, or writable) with a fresh
# home, and checks that it wrote only into the player folder.
play_installed() {
  local prefix="$1" mode="$2" before out
  before="$(tree "$prefix")"
  rm -rf "$work/home" "$work/cwd"
  mkdir -p "$work/home" "$work/cwd"
  if [ "$mode" = readonly ]; then
    unshare -m sh -c 'mount --bind "$1" "$1" && mount -o remount,ro,bind "$1" "$1" && touch "$1/x" 2>/dev/null && exit 9
      '"$play" sh "$prefix" "$work/home" "$work/cwd" "$work/session" "$work/out" || fail "the installed game failed ($?)"
  else
    sh -c "$play" sh "$prefix" "$work/home" "$work/cwd" "$work/session" "$work/out" || fail "the installed game failed"
  fi
  out="$(cat "$work/out")"
  for said in "say: Tumblewick, rough beta version 0.6b, by Dorvel.  Main menu." \
    "say: Game saved as first try.  Press escape to return to the game." \
    "say: Saved games: your last game, first try." "say: Game loaded.  Press escape to enter to the game."; do
    grep -qxF "$said" <<<"$out" || fail "the installed game ($mode) did not say: $said"$'\n'"$out"
  done
  [ "$(tree "$prefix")" = "$before" ] || fail "the installed tree changed ($mode)"
  [ -z "$(ls -A "$work/cwd")" ] || fail "the game wrote into the folder it was started from: $(ls -A "$work/cwd")"
  local player="$work/home/.local/share/tumblewick" f
  for f in "${written[@]}" "first try"; do
    [ -f "$player/$f" ] || fail "the player folder ($mode) has no $f: $(ls -A "$player" 2>&1)"
  done
}

# The install as it is, read-only where possible; writable, where the marker alone decides.
if [ "$as_root" = 1 ]; then
  play_installed "$prefix" readonly
  echo "played from a read-only mount"
fi
play_installed "$prefix" writable
echo "played from a writable tree with the installed marker"
# Without the marker, a folder that cannot be written is enough.
if [ "$as_root" = 1 ]; then
  cp -a "$prefix" "$work/nomarker"
  rm "$work/nomarker/usr/share/tumblewick/installed.txt"
  play_installed "$work/nomarker" readonly
  echo "played from a read-only mount without the marker"
fi

# XDG_DATA_HOME, when set, is where the player folder goes.
mkdir -p "$work/xdg"
(cd "$work/cwd" && HOME="$work/home" XDG_DATA_HOME="$work/xdg" "$prefix/usr/bin/tumblewick" --headless --seed 5 \
  <"$work/session" >/dev/null) || fail "the game failed with XDG_DATA_HOME"
[ -f "$work/xdg/tumblewick/first try" ] || fail "XDG_DATA_HOME was not used"

# A copy in a writable folder without the marker: every file beside the program, as before.
portable="$work/portable"
mkdir -p "$portable/sounds"
cp "$prefix/usr/bin/tumblewick" "$prefix/usr/share/tumblewick/words.txt" "$portable/"
cp "$prefix/usr/share/tumblewick/sounds/award.wav" "$portable/sounds/"
rm -rf "$work/home"
mkdir -p "$work/home"
(cd "$portable" && HOME="$work/home" ./tumblewick --headless --seed 5 <"$work/session" >/dev/null) ||
  fail "the portable copy failed"
for f in "${written[@]}" "first try"; do
  [ -f "$portable/$f" ] || fail "the portable copy did not keep $f beside itself"
done
[ ! -e "$work/home/.local" ] || fail "the portable copy wrote into the home folder"
echo "install tree: all in order"
