#!/usr/bin/env bash
# scripts/package-windows.sh: what a Windows player downloads, built here with Debian's packages:
# dist/Tumblewick-<version>-win64.zip (a portable folder: the stripped program, words.txt,
# sounds/award.wav and README.txt) and dist/Tumblewick-<version>-setup.exe (an NSIS installer
# for the current user). Then checks both under Wine: the zip's program keeps its files beside
# it; the installed one writes into %APPDATA%\Tumblewick, and uninstalling leaves that alone.
set -euo pipefail
cd "$(dirname "$0")/.."
# The files the game writes besides the saves: one list, kept with the packaging.
mapfile -t written < <(grep -v -e "^#" -e "^$" packaging/player-files.txt)
bash scripts/deps.sh nsis zip unzip wine64 binutils-mingw-w64-x86-64 >/dev/null
version="$(sed -n -E 's/^project\(tumblewick VERSION ([0-9.]+).*/\1/p' CMakeLists.txt)"
if [ ! -f build-windows/game/tumblewick.exe ] || [ "${TW_REBUILD:-1}" = 1 ]; then
  echo "Cross-building (log: build-windows.log)"
  bash scripts/build-windows.sh >build-windows.log 2>&1 || { tail -30 build-windows.log; exit 1; }
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
stage="$work/Tumblewick"
mkdir -p "$stage/sounds" dist
x86_64-w64-mingw32-strip -o "$stage/tumblewick.exe" build-windows/game/tumblewick.exe
cp build-windows/game/words.txt "$stage/"
cp build-windows/game/sounds/award.wav "$stage/sounds/"
sed 's/$/\r/' packaging/windows/README.txt >"$stage/README.txt"  # CR LF, for Notepad
zip_name="dist/Tumblewick-$version-win64.zip"
rm -f "$zip_name"
(cd "$work" && zip -q -r -X "$OLDPWD/$zip_name" Tumblewick)
echo "Built $zip_name"

# The installer adds the marker that makes the copy write into the player folder.
cp content/installed.txt "$stage/"
setup="dist/Tumblewick-$version-setup.exe"
makensis -V2 -DVERSION="$version" -DSOURCE="$stage" -DOUTFILE="$PWD/$setup" packaging/windows/tumblewick.nsi >"$work/nsis.log" ||
  { cat "$work/nsis.log"; exit 1; }
echo "Built $setup"

# Both under Wine.
export WINEPREFIX="$work/wine" WINEDEBUG=-all LANG=C.UTF-8
unset DISPLAY
wine=/usr/lib/wine/wine64
"$wine" wineboot -i >/dev/null 2>&1 || true
# The corpus's short visit (greet, play, save, load, exit), as the driver's commands.
keys="$work/keys"
sed -n 's/^> //p' tests/transcripts/save-and-load.tw >"$keys"
fail() { echo "FAIL: $*" >&2; exit 1; }
played() { grep -qxF "say: Game loaded.  Press escape to enter to the game." <<<"$1" || fail "$2 did not save and load: $1"; }

mkdir -p "$work/unzipped"
unzip -q "$zip_name" -d "$work/unzipped"
out="$(cd "$work/unzipped/Tumblewick" && "$wine" ./tumblewick.exe --headless --seed 4 <"$keys")"
played "$out" "the zip's program"
for f in "${written[@]}" "first try"; do
  [ -f "$work/unzipped/Tumblewick/$f" ] || fail "the zip's program did not keep $f beside itself"
done
echo "zip: starts where it is unpacked, keeps its files beside it"

"$wine" "$setup" /S || fail "the installer failed"
user_dir="$(ls -d "$WINEPREFIX"/drive_c/users/*/AppData | grep -v /Public/ | head -1)"
installed="$user_dir/Local/Programs/Tumblewick"
[ -f "$installed/tumblewick.exe" ] && [ -f "$installed/installed.txt" ] && [ -f "$installed/uninstall.exe" ] ||
  fail "the installer did not install into $installed: $(ls -R "$user_dir/Local" 2>&1 | head)"
ls "$user_dir/Roaming/Microsoft/Windows/Start Menu/Programs/Tumblewick.lnk" >/dev/null || fail "no Start-menu entry"
before="$(cd "$installed" && find . | sort)"
out="$(cd "$work" && "$wine" "$installed/tumblewick.exe" --headless --seed 4 <"$keys")"
played "$out" "the installed program"
player="$user_dir/Roaming/Tumblewick"
for f in "${written[@]}" "first try"; do
  [ -f "$player/$f" ] || fail "the installed program did not write $f into %APPDATA%\\Tumblewick"
done
[ "$(cd "$installed" && find . | sort)" = "$before" ] || fail "the installed program wrote into its own folder"
"$wine" "$installed/uninstall.exe" /S _?="$(WINEDEBUG=-all "$wine" winepath -w "$installed" 2>/dev/null)" ||
  fail "the uninstaller failed"
[ ! -e "$installed/tumblewick.exe" ] || fail "the uninstaller left the program"
[ -f "$player/first try" ] && [ -f "$player/progress.ini" ] || fail "the uninstaller removed the player's files"
echo "installer: installs for the user, writes into %APPDATA%\\Tumblewick, uninstalls and leaves the saves"
