#!/usr/bin/env bash
# scripts/bench-latency.sh: measures what the player hears, from key to sound at the sound server.
# Starts a private PulseAudio server with a null sink and a private speech-dispatcher on it, runs
# the game's terminal front end in a pseudo-terminal on speech path 0 (its own voice) and path 3
# (speech-dispatcher), and prints both side by side: once on an idle machine, once with a busy
# loop on every core. Underruns are counted twice: in the recording (a saying with a pause the
# voice's own rendering lacks) and in the sound server's own log. Stops everything it started.
# The sink runs as a sound card does (44.1 kHz and 48 kHz, two channels): the voice's 22,050 Hz
# mono is resampled by the server, as on every real machine.
# Usage: scripts/bench-latency.sh [ROUNDS]   (default 20; TW_BENCH_RATES="44100 48000")
set -euo pipefail
cd "$(dirname "$0")/.."

rounds="${1:-20}"
bash scripts/deps.sh
build=build-bench
jobs="${TW_JOBS:-$(nproc)}"
echo "Building the benchmark in $build/ (log: $build.log)"
. scripts/build-quietly.sh
TW_JOBS="$jobs" build_quietly "$build.log" "$build" "tumblewick game_data latency_bench" -DCMAKE_BUILD_TYPE=Release

run=$(mktemp -d /tmp/tw-bench.XXXXXX)
pids=()
servers=()
stop_servers() {
  for pid in "${servers[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
  servers=()
}
cleanup() {
  stop_servers
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$run"
}
trap cleanup EXIT

export XDG_RUNTIME_DIR="$run" HOME="$run"
export PULSE_SERVER="unix:$run/native"
export SPEECHD_ADDRESS="unix_socket:$run/speechd.sock"

# A private PulseAudio whose null sink runs at $1 Hz, two channels, and a private speech-dispatcher
# with its espeak-ng module playing through it.
start_servers() {
  rm -f "$run/native" "$run/speechd.sock"
  pulseaudio --daemonize=no --exit-idle-time=-1 -n --use-pid-file=no --disallow-exit --log-level=debug \
    -L "module-null-sink sink_name=null rate=$1 channels=2 format=s16le" \
    -L "module-native-protocol-unix socket=$run/native auth-anonymous=1" \
    -L "module-always-sink" >"$run/pulse.log" 2>&1 &
  servers+=($!)
  for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.05; done
  pactl set-default-sink null
  pactl set-default-source null.monitor
  mkdir -p "$run/speechd"
  cp -r /etc/speech-dispatcher/. "$run/speechd/"
  sed -i -e 's/^#* *AudioOutputMethod .*/AudioOutputMethod "pulse"/' \
    -e 's/^#* *DefaultModule .*/DefaultModule espeak-ng/' "$run/speechd/speechd.conf"
  grep -q '^AudioOutputMethod' "$run/speechd/speechd.conf" || echo 'AudioOutputMethod "pulse"' >>"$run/speechd/speechd.conf"
  grep -q '^DefaultModule' "$run/speechd/speechd.conf" || echo 'DefaultModule espeak-ng' >>"$run/speechd/speechd.conf"
  speech-dispatcher -s -t 0 -C "$run/speechd" -c unix_socket -S "$run/speechd.sock" >"$run/speechd.log" 2>&1 &
  servers+=($!)
  for _ in $(seq 100); do [ -S "$run/speechd.sock" ] && break; sleep 0.05; done
}

# The server's own word for a stream that ran dry: once at the end of each saying is expected,
# more means a gap in the middle of one.
underruns() { grep -cE "(Underrun on|underrun of) '$1'" "$run/pulse.log" || true; }

for rate in ${TW_BENCH_RATES:-44100 48000}; do
  start_servers "$rate"
  for load in ${TW_BENCH_LOADS:-idle busy}; do
    busy=()
    echo
    if [ "$load" = busy ]; then
      for _ in $(seq "$(nproc)"); do
        bash -c 'while :; do :; done' &
        busy+=($!)
        pids+=($!)
      done
      echo "=== Sink at $rate Hz, two channels; under load: a busy loop on each of the $(nproc) cores"
    else
      echo "=== Sink at $rate Hz, two channels; idle"
    fi
    before_game=$(underruns Tumblewick)
    echo "Measuring ($rounds rounds per path; about $((rounds * 8 + 40)) seconds)"
    "$build/latency_bench" "$build/game" "$rounds" "$rate" </dev/null
    echo "Sound server's underrun reports for the game's streams: $(($(underruns Tumblewick) - before_game))" \
      "(one per saying that played to its end is expected)"
    for pid in "${busy[@]}"; do kill "$pid"; wait "$pid" 2>/dev/null || true; done
  done
  stop_servers
done
echo
echo "Machine: $(nproc) cores, $(uname -sr), $(date -u +%Y-%m-%d)"
