#!/usr/bin/env bash
# scripts/build-web.sh: builds the game for the browser with Debian's emscripten into
# build-web/site/: index.html, page.js, tumblewick.js, tumblewick.wasm, tumblewick.data (the word
# list) and sounds/award.wav. Any static web server can host that folder.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh emscripten cmake make g++ >/dev/null
build=build-web
log="$PWD/$build.log"
# Debian's emscripten ships its library cache ready-made; a cache of our own cannot be set.
unset EM_CACHE
export NODE_PATH=/usr/share/nodejs
. scripts/build-quietly.sh
TW_CONFIGURE=emcmake build_quietly "$log" "$build" tumblewick_site -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
  -DTW_WERROR=ON
for f in index.html page.js sw.js manifest.webmanifest icon.svg tumblewick.js tumblewick.wasm tumblewick.data words.txt sounds/award.wav; do
  [ -f "$build/site/$f" ] || { echo "missing after the build: $build/site/$f" >&2; exit 1; }
done
echo "Built $build/site/ (tumblewick.wasm: $(stat -c %s "$build/site/tumblewick.wasm") bytes)"
