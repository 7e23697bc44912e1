#!/usr/bin/env bash
# scripts/bench-latency.sh: measures what the player hears, from key to sound at the sound server.
# Starts a private PulseAudio server with a null sink and a private speech-dispatcher on it, runs
# the game's terminal front end in a pseudo-terminal on speech path 0 (its own voice) and path 3
# (speech-dispatcher), and prints both side by side. Stops everything it started.
# Usage: scripts/bench-latency.sh [ROUNDS]   (default 20; CI runs it with 2 to see that it works)
set -euo pipefail
cd "$(dirname "$0")/.."

rounds="${1:-20}"
bash scripts/deps.sh
build=build-bench
jobs="${TW_JOBS:-$(nproc)}"
echo "Building the benchmark in $build/ (log: $build.log)"
{ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release &&
  cmake --build "$build" -j "$jobs" --target tumblewick game_data latency_bench; } >"$build.log" 2>&1 || {
  tail -n 30 "$build.log"
  exit 1
}

run=$(mktemp -d /tmp/tw-bench.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$run"
}
trap cleanup EXIT

export XDG_RUNTIME_DIR="$run" HOME="$run"
export PULSE_SERVER="unix:$run/native"
# The sink plays the voice's own format, so what is recorded is the voice's samples unchanged.
pulseaudio --daemonize=no --exit-idle-time=-1 -n --use-pid-file=no --disallow-exit \
  -L "module-null-sink sink_name=null rate=22050 channels=1 format=s16le" \
  -L "module-native-protocol-unix socket=$run/native auth-anonymous=1" \
  -L "module-always-sink" >"$run/pulse.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.05; done
pactl set-default-sink null
pactl set-default-source null.monitor

# speech-dispatcher with its espeak-ng module, playing through the same server.
mkdir -p "$run/speechd"
cp -r /etc/speech-dispatcher/. "$run/speechd/"
sed -i -e 's/^#* *AudioOutputMethod .*/AudioOutputMethod "pulse"/' \
  -e 's/^#* *DefaultModule .*/DefaultModule espeak-ng/' "$run/speechd/speechd.conf"
grep -q '^AudioOutputMethod' "$run/speechd/speechd.conf" || echo 'AudioOutputMethod "pulse"' >>"$run/speechd/speechd.conf"
grep -q '^DefaultModule' "$run/speechd/speechd.conf" || echo 'DefaultModule espeak-ng' >>"$run/speechd/speechd.conf"
export SPEECHD_ADDRESS="unix_socket:$run/speechd.sock"
speech-dispatcher -s -t 0 -C "$run/speechd" -c unix_socket -S "$run/speechd.sock" >"$run/speechd.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -S "$run/speechd.sock" ] && break; sleep 0.05; done

echo "Measuring ($rounds rounds per path; about $((rounds * 8 + 40)) seconds)"
"$build/latency_bench" "$build/game" "$rounds" </dev/null
echo
echo "Machine: $(nproc) cores, $(uname -sr), $(date -u +%Y-%m-%d)"
