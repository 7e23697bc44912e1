#!/usr/bin/env bash
# scripts/web.sh [--port N]: builds the browser version and serves it on http://127.0.0.1:8000/
# (or port N) until Ctrl+C. Open the address in a browser; the game takes the keyboard.
set -euo pipefail
cd "$(dirname "$0")/.."
port=8000
while [ $# -gt 0 ]; do
  case "$1" in
    --port) port="${2:?--port needs a number}"; shift 2 ;;
    --port=*) port="${1#--port=}"; shift ;;
    *) echo "usage: scripts/web.sh [--port N]" >&2; exit 2 ;;
  esac
done
[[ "$port" =~ ^[0-9]+$ ]] || { echo "The port must be a number: $port" >&2; exit 2; }
command -v node >/dev/null || bash scripts/deps.sh nodejs
bash scripts/build-web.sh
exec node platform/web/serve.js build-web/site "$port"
