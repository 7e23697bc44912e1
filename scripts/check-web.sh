#!/usr/bin/env bash
# scripts/check-web.sh [ENGINE ...]: builds the browser version and plays the key scripts of
# tests/transcripts/ in each engine (default: chromium firefox webkit) against their lines and
# files; Chromium also checks Tab, a second tab, installing, storage, the end and offline use.
# Then Orca reads the page in Chromium and in Firefox (TW_ORCA_RUNS times each, default 1).
set -euo pipefail
cd "$(dirname "$0")/.."
engines=("$@")
[ "${#engines[@]}" -gt 0 ] || engines=(chromium firefox webkit)
bash scripts/deps.sh chromium firefox-esr webkit2gtk-driver xvfb xauth orca at-spi2-core dbus-x11 xdotool \
  libglib2.0-bin dconf-gsettings-backend >/dev/null
command -v npm >/dev/null || bash scripts/deps.sh nodejs npm >/dev/null
bash scripts/build-web.sh
(cd tests/web && npm ci --no-audit --no-fund --loglevel=error >/dev/null)
for engine in "${engines[@]}"; do
  started=$SECONDS
  # WebKitGTK draws even when headless: it gets a virtual display of its own.
  if [ "$engine" = webkit ]; then
    xvfb-run -a -s "-screen 0 1280x800x24" node tests/web/web_test.js webkit build-web/site
  else
    node tests/web/web_test.js "$engine" build-web/site
  fi
  echo "$engine: $((SECONDS - started)) s"
done
for engine in chromium firefox; do
  [ "$#" -eq 0 ] || [[ " $* " == *" $engine "* ]] || continue
  started=$SECONDS
  bash tests/web/orca_check.sh "$engine" build-web/site "${TW_ORCA_RUNS:-1}" 2>&1 | { grep -v -E 'dbus-daemon|SpiRegistry|Killed' || true; }
  echo "orca in $engine: $((SECONDS - started)) s"
done
