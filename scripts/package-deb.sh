#!/usr/bin/env bash
# scripts/package-deb.sh: builds the Debian package dist/tumblewick_<version>_<arch>.deb with
# CPack; its dependencies are found from the libraries the program links.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
build=build-deb
log="$PWD/$build.log"
echo "Building the package (log: $build.log)"
. scripts/build-quietly.sh
build_quietly "$log" "$build" "tumblewick game_data" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
  -DCMAKE_INSTALL_PREFIX=/usr
(cd "$build" && cpack -G DEB) >>"$log" 2>&1 || { tail -40 "$log"; exit 1; }
mkdir -p dist
package="$(ls -t "$build"/tumblewick_*.deb | head -1)"
mv -f "$package" dist/
echo "Built dist/$(basename "$package")"
