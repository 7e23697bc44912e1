#!/usr/bin/env bash
# scripts/bench-latency.sh: measures what the player hears, from key to sound at the sound server.
# Starts a private PulseAudio server with a null sink and a private speech-dispatcher on it, runs
# the game's terminal front end in a pseudo-terminal on speech path 0 (its own voice) and path 3
# (speech-dispatcher), and prints both side by side: once on an idle machine, once with a busy
# loop on every core. Underruns are counted twice: in the recording (a saying with a pause the
# voice's own rendering lacks) and in the sound server's own log. Stops everything it started.
# Usage: scripts/bench-latency.sh [ROUNDS]   (default 20)
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
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$run"
}
trap cleanup EXIT

export XDG_RUNTIME_DIR="$run" HOME="$run"
export PULSE_SERVER="unix:$run/native"
# The sink plays the voice's own format, so what is recorded is the voice's samples unchanged.
pulseaudio --daemonize=no --exit-idle-time=-1 -n --use-pid-file=no --disallow-exit --log-level=debug \
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

# The server's own word for a stream that ran dry: once at the end of each saying is expected,
# more means a gap in the middle of one.
underruns() { grep -cE "(Underrun on|underrun of) '$1'" "$run/pulse.log" || true; }

for load in idle busy; do
  busy=()
  if [ "$load" = busy ]; then
    for _ in $(seq "$(nproc)"); do
      bash -c 'while :; do :; done' &
      busy+=($!)
      pids+=($!)
    done
    echo; echo "=== Under load: a busy loop on each of the $(nproc) cores"
  else
    echo "=== Idle"
  fi
  before_game=$(underruns Tumblewick)
  echo "Measuring ($rounds rounds per path; about $((rounds * 8 + 40)) seconds)"
  "$build/latency_bench" "$build/game" "$rounds" </dev/null
  echo "Sound server's underrun reports for the game's streams: $(($(underruns Tumblewick) - before_game))" \
    "(one per saying that played to its end is expected)"
  for pid in "${busy[@]}"; do kill "$pid"; wait "$pid" 2>/dev/null || true; done
done
echo
echo "Machine: $(nproc) cores, $(uname -sr), $(date -u +%Y-%m-%d)"
