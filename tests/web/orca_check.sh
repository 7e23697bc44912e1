#!/usr/bin/env bash
# tests/web/orca_check.sh ENGINE SITE [RUNS]: Orca, the GNOME screen reader, reads the game's page in
# Chromium or Firefox ESR on a virtual display, with keys typed as a player types them (xdotool),
# each after the answer to the one before was spoken. It plays tests/transcripts/screen-reader.tw
# as an adapter of the game's own interpreter (TW_EXE, by default build-test/game/tumblewick, with
# --script and --adapter), which hands it the lines each command must make heard: every one must
# be spoken by Orca exactly once and in order (a prompt's text at least once, since Orca also
# reads the box); of keys pressed fast, the last answer must be spoken whole. What Orca spoke is
# what it hands its speech synthesizer, written to a file by a customization that Orca loads at
# its start.
set -euo pipefail
engine="$1" site="$(realpath "$2")" runs="${3:-1}"
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/../x_keys.sh"
script="$here/../transcripts/screen-reader.tw"
exe="$(realpath "${TW_EXE:-$here/../../build-test/game/tumblewick}")"

if [ "${TW_ORCA_INNER:-}" != 1 ]; then
  work="$(mktemp -d)"
  pids=()
  cleanup() {
    local status=$?
    set +e
    kill "${pids[@]}" 2>/dev/null
    wait "${pids[@]}" 2>/dev/null
    rm -rf "$work"
    exit "$status"
  }
  trap cleanup EXIT
  node "$here/../../platform/web/serve.js" "$site" 0 >"$work/server" &
  pids+=($!)
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
  pids+=($!)
  for _ in $(seq 100); do [ -s "$work/display" ] && grep -q http "$work/server" && break; sleep 0.1; done
  url="$(grep -o 'http://[^ ]*' "$work/server")"
  passed=0
  for run in $(seq "$runs"); do
    # Only one Orca may run per user: each run gets a session bus and a home of its own, in turn.
    if DISPLAY=":$(cat "$work/display")" TW_ORCA_INNER=1 WORK="$work/run$run" URL="$url" \
      timeout 240 dbus-run-session -- bash "$0" "$@"; then passed=$((passed + 1)); fi
  done
  echo "orca in $engine: $passed of $runs runs spoke every line as it must"
  [ "$passed" = "$runs" ]
  exit
fi

# ---- One run, inside its own session bus. ----
mkdir -p "$WORK"/{home,data/orca,config,cache,runtime,profile}
chmod 700 "$WORK/runtime"
export HOME="$WORK/home" XDG_DATA_HOME="$WORK/data" XDG_CONFIG_HOME="$WORK/config" XDG_CACHE_HOME="$WORK/cache" \
  XDG_RUNTIME_DIR="$WORK/runtime" GTK_MODULES=gail:atk-bridge NO_AT_BRIDGE=0
spoken="$WORK/spoken"
: >"$spoken"
cat >"$XDG_DATA_HOME/orca/orca-customizations.py" <<EOF
import orca.settings, orca.speech
orca.settings.timeoutTime = 0
orca.settings.speechServerFactory = None
orca.settings.speechFactoryModules = []
_speak = orca.speech._speak
def _recorded(text, acss, interrupt):
    with open("$spoken", "a") as f:
        f.write(" ".join(text.split()) + "\n")
    _speak(text, acss, interrupt)
orca.speech._speak = _recorded
EOF
pids=()
# Orca and the browser may not heed SIGTERM at once: what is left after a second is killed, and
# every one is reaped (a zombie Orca still counts as the user's one Orca).
finish() {
  local status=$?
  set +e
  kill "${pids[@]}" 2>/dev/null
  sleep 1
  kill -9 "${pids[@]}" 2>/dev/null
  wait "${pids[@]}" 2>/dev/null
  [ -z "${TW_ORCA_KEEP:-}" ] || cp "$spoken" "$TW_ORCA_KEEP"
  exit "$status"
}
trap finish EXIT
/usr/libexec/at-spi-bus-launcher --launch-immediately &
pids+=($!)
gsettings set org.gnome.desktop.a11y.applications screen-reader-enabled true 2>/dev/null || true
orca >"$WORK/orca.log" 2>&1 &
pids+=($!)

# Waits until Orca has spoken text after line $from of what it said; false after the seconds given.
spokenSince() { tail -n +"$(($1 + 1))" "$spoken"; }
waitSpoken() {
  local from="$1" text="$2" seconds="$3"
  for _ in $(seq $((seconds * 20))); do
    spokenSince "$from" | tr -s ' ' | grep -q -F -- "$text" && return 0
    sleep 0.05
  done
  return 1
}
norm() { sed 's/\xc2\xa0/ /g' <<<"$1" | tr -s ' ' | sed 's/ *$//'; }
fail() { echo "orca in $engine: $*"; echo "--- Orca spoke:"; tail -n 40 "$spoken"; exit 1; }

waitSpoken 0 "Screen reader on" 60 || fail "Orca did not start"
# Keys go to the game in Orca's focus mode. Chromium's application element switches to it;
# Firefox may leave Orca in browse mode, where letters are Orca's own keys: Orca+A switches.
focusMode() {
  sleep 1.5
  [ "$(grep -x -E 'Focus mode|Browse mode' "$spoken" | tail -1)" = "Focus mode" ] && return 0
  [ "$engine" != firefox ] || xdotool key Insert+a
  for _ in $(seq 100); do
    [ "$(grep -x -E 'Focus mode|Browse mode' "$spoken" | tail -1)" = "Focus mode" ] && return 0
    sleep 0.1
  done
  fail "Orca is not in focus mode"
}
startBrowser() {
  if [ "$engine" = firefox ]; then
    printf 'user_pref("%s", %s);\n' browser.shell.checkDefaultBrowser false browser.aboutwelcome.enabled false \
      browser.startup.homepage_override.mstone '"ignore"' trailhead.firstrun.didSeeAboutWelcome true \
      browser.newtab.preload false datareporting.policy.dataSubmissionEnabled false >"$WORK/profile/user.js"
    firefox-esr --no-remote --profile "$WORK/profile" "$URL?seed=$1" >"$WORK/browser.log" 2>&1 &
  else
    chromium --no-sandbox --force-renderer-accessibility --no-first-run --user-data-dir="$WORK/profile" \
      --app="$URL?seed=$1" >"$WORK/browser.log" 2>&1 &
  fi
  pids+=($!)
  waitSpoken 0 "Tumblewick" 60 || fail "the page was not read"
  focusMode
  sleep 1
}
# Checks the lines one command made heard against what Orca spoke from line $from on.
checkHeard() {
  local said rest line count lines=()
  for line in "$@"; do
    case "$line" in "input: "*) lines+=("$(norm "${line#*| }")") ;; *) lines+=("$(norm "$line")") ;; esac
  done
  said="$(spokenSince "$from" | sed 's/\xc2\xa0/ /g' | tr -s ' ')"
  rest="$said"
  for line in "${lines[@]}"; do
    [[ "$rest" == *"$line"* ]] || fail "\"$line\" was not spoken, or not in order"
    rest="${rest#*"$line"}"
    count="$(grep -o -F -- "$line" <<<"$said" | wc -l)"
    # A prompt is read with its box, perhaps more than once; a line of the game exactly once.
    [ "$count" = "$(printf '%s\n' "${lines[@]}" | grep -c -x -F -- "$line")" ] || [[ "$1" == "input: "* ]] ||
      fail "\"$line\" was spoken $count times"
  done
}

# The interpreter's requests (see platform/headless/key_script.cpp): this adapter confirms the
# lines it is handed, and never hears an empty text or a sound.
coproc GAME { "$exe" --headless --adapter --script "$script" 2>"$WORK/report"; }
game_pid=$GAME_PID
answer() { printf '%s\n' "$@" . >&"${GAME[1]}"; }
expected=() keys=0 from=0 commands=0
# The first step of a command marks where what Orca speaks for it begins.
begin() { [ "$keys" != 0 ] || from="$(wc -l <"$spoken")"; keys=$((keys + 1)); }
while IFS= read -r request <&"${GAME[0]}"; do
  case "$request" in
    needs) answer "unheard empty sound" confirms ;;
    needs*) answer "skip Orca plays only what needs nothing of the front end" ;;
    "start "*) startBrowser "${request#start }" && answer ;;
    "expect "*) expected+=("${request#expect }") && answer ;;
    "key "*)
      read -r vk shift <<<"${request#key }"
      # Keys of one command go faster than the lines can be read.
      [ "$keys" = 0 ] || sleep 0.03
      begin
      name="$(xkey "$vk" "$shift")" || fail "no key for \"$request\""
      xdotool key "$name"
      answer
      ;;
    restart)
      begin
      xdotool key F5
      # The page is read again; keys go to the game once Orca is back in focus mode, which Firefox
      # leaves to the player.
      waitSpoken "$from" "$(norm "${expected[0]}")" 30 || fail "the greeting was not spoken after a reload"
      focusMode
      answer
      ;;
    "type "*)
      waitSpoken "$from" "$(norm "${expected[0]#*| }")" 10 || fail "the prompt before \"$request\" was not spoken"
      # Firefox leaves Orca in browse mode in the box without saying so: Orca+A until it says focus.
      for _ in 1 2; do
        [ "$engine" = firefox ] || break
        mark="$(wc -l <"$spoken")"
        xdotool key Insert+a
        waitSpoken "$mark" "mode" 5 || true
        [ "$(spokenSince "$mark" | grep -x -E 'Focus mode|Browse mode' | tail -1)" != "Focus mode" ] || break
      done
      text="${request#type}" && text="${text# }"
      [ -z "$text" ] || xdotool type --delay 30 "$text"
      xdotool key Return
      answer
      ;;
    heard)
      want=("${expected[@]}")
      # Of keys pressed fast, only the last answer must be heard whole.
      [ "$keys" -le 1 ] || [ "${#want[@]}" = 0 ] || want=("${want[-1]}")
      if [ "${#want[@]}" -gt 0 ]; then
        last="$(norm "${want[-1]#input: *| }")"
        waitSpoken "$from" "$last" 15 || fail "Orca did not speak \"$last\""
        sleep 0.3
        checkHeard "${want[@]}"
      fi
      answer "${expected[@]}"
      expected=() keys=0 commands=$((commands + 1))
      ;;
    *) fail "cannot play \"$request\"" ;;
  esac
done
wait "$game_pid" || fail "the interpreter found a difference: $(cat "$WORK/report")"
echo "orca in $engine: $commands commands, every line spoken once and in order"

# By touch: the buttons are reached with Orca's own navigation (browse mode; B, the next button),
# read by their names, and pressed; the game's answer is read after. The script left the menu on
# "Exit the game".
from="$(wc -l <"$spoken")"
xdotool key Insert+a
waitSpoken "$from" "Browse mode" 5 || fail "Orca did not go to browse mode"
xdotool key b
waitSpoken "$from" "Touch controls" 5 || fail "the button Touch controls was not read"
xdotool key Return
sleep 0.5
xdotool key h b
waitSpoken "$from" "Previous entry" 5 || fail "the button Previous entry was not read"
xdotool key Return
waitSpoken "$from" "Load game" 5 || fail "the answer to Previous entry was not read"
echo "orca in $engine: the touch buttons read by name, and the answer after a press"
