#!/usr/bin/env bash
# tests/windows/window_adapter.sh EXE INTERPRETER SCRIPT...: the Windows program's own window,
# under Wine on a virtual display (WINEPREFIX made, DISPLAY set), plays key scripts as an adapter
# of the game's interpreter (INTERPRETER --headless --adapter --script SCRIPT). Keys go in as X key
# presses, which Wine hands the window as a keyboard's; "close" is Alt+F4, what the close box
# sends; "end" is a logoff (wineboot --end-session: WM_ENDSESSION). The window is heard through its
# title, which holds each line said for the screen readers that read it, so the adapter confirms
# the last line of each command there (every line is the headless run's to check, under Wine too);
# where the window was closed during a command, only the files it left can tell. A box's answer
# is typed into the box (found by its title) once it has opened. The files are read from the
# game's folder. (xdotool's backslash does not reach Wine's edit fields on Xvfb, so a script that
# types one, like prompts.tw, is the headless run's alone.)
set -euo pipefail
source "$(dirname "$0")/../x_keys.sh"
exe="$1" interpreter="$2"
shift 2
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failed=0
for script in "$@"; do
  home="$work/$(basename "$script" .tw)"
  mkdir -p "$home"
  cp -r "$(dirname "$exe")/words.txt" "$(dirname "$exe")/sounds" "$home/"
  coproc GAME { "$interpreter" --headless --adapter --script "$script" 2>"$work/report"; }
  interpreting=$GAME_PID game=0 win="" expected=() held="" closed=0 status=""
  answer() { printf '%s\n' "$@" . >&"${GAME[1]}"; }
  title() { xdotool getwindowname "$win" 2>/dev/null | sed 's/ *$//'; }
  # Every request is answered, also when the window fails it, so that the interpreter goes on.
  fault() { echo "the window, $(basename "$script"): $*" && failed=1; }
  # Waits for the game's process to end (10 s at most).
  ended() {
    for _ in $(seq 100); do kill -0 "$game" 2>/dev/null || { wait "$game" && status=0 || status=$?; return 0; }; sleep 0.1; done
    fault "the game did not end"
  }
  start() {
    /usr/lib/wine/wine64 "$exe" --seed "$1" --home "Z:${home//\//\\}" >/dev/null 2>&1 &
    game=$!
    for _ in $(seq 300); do
      win="$(xdotool search --onlyvisible --name Tumblewick 2>/dev/null | head -1)" && [ -n "$win" ] && break
      sleep 0.1
    done
    [ -n "$win" ] && xdotool windowfocus "$win" || fault "no window came"
  }
  while IFS= read -r request <&"${GAME[0]}"; do
    read -r word a b c <<<"$request"
    case "$word" in
      needs) [ -z "$a" ] && answer "unheard sound" confirms || answer "skip the window plays what needs nothing" ;;
      place) [ "$b" = - ] && rm -f "$home/$a" || perl -e 'print pack("H*", $ARGV[0])' "$b" >"$home/$a"; answer ;;
      start) seed="$a" && start "$seed"; answer ;;
      expect) expected+=("${request#expect }") && answer ;;
      key | held)
        if [ "$word" = held ]; then held="$a $b $c"; answer; continue; fi
        name="$(xkey "$a" "$b")" || { fault "no key for $request" && answer && continue; }
        xdotool key "$name"
        if [ -n "$held" ]; then
          read -r ms vk shift <<<"$held"
          sleep "$((ms / 1000)).$(printf %03d $((ms % 1000)))"
          [ "$vk" = close ] && { xdotool key alt+F4; ended && closed=1 && [ "$status" = 0 ] || fault "closed, status ${status:-none}"; } ||
            xdotool key "$(xkey "$vk" "$shift")" || true
          held=""
        fi
        answer
        ;;
      type)
        # The answer goes into the box once it is open (keys before it would reach the game), and
        # the next key once it has closed.
        box=""
        for line in "${expected[@]}"; do [[ "$line" != "input: "* ]] || { box="${line#input: }" && box="${box%% | *}"; }; done
        shown() { [ -n "$box" ] && xdotool search --onlyvisible --name "^$box\$" 2>/dev/null | head -1; }
        for _ in $(seq 50); do [ -z "$box" ] || [ -n "$(shown)" ] && break; sleep 0.1; done
        [ -z "$box" ] || [ -n "$(shown)" ] || fault "the box \"$box\" did not open"
        text="${request#type}" && text="${text# }"
        { [ -z "$text" ] || xdotool type --delay 20 "$text"; } && xdotool key Return
        for _ in $(seq 50); do [ -z "$(shown)" ] && break; sleep 0.1; done
        answer
        ;;
      heard)
        # The title shows the last line (an empty text too) once the window has had its keys.
        n=${#expected[@]}
        for _ in $(seq 50); do [ "$closed" = 1 ] || [ "$n" = 0 ] || [ "$(title)" = "${expected[-1]}" ] && break; sleep 0.1; done
        if [ "$closed" = 1 ] || [ "$n" = 0 ] || [ "$(title)" = "${expected[-1]}" ]; then
          answer "${expected[@]}"
        else
          answer "${expected[@]:0:n-1}" "title: $(title)"
        fi
        expected=() closed=0
        ;;
      close)
        xdotool key alt+F4 && ended && [ "$status" = 0 ] || fault "closed, the game ended with status ${status:-none}"
        answer
        ;;
      end | restart)
        if kill -0 "$game" 2>/dev/null; then
          /usr/lib/wine/wine64 wineboot --end-session && ended && [ "$status" = 0 ] ||
            fault "at logoff, the game ended with status ${status:-none}"
        fi
        [ "$word" = end ] || start "$seed"
        answer
        ;;
      file) [ -e "$home/$a" ] && answer "$(perl -0777 -ne 'print unpack("H*", $_)' "$home/$a")" || answer - ;;
      *) fault "cannot play $request" && answer ;;
    esac
  done
  kill "$game" 2>/dev/null || true
  wait "$interpreting" || { echo "FAIL in the window: $(basename "$script")"; cat "$work/report"; failed=1; }
done
echo "the window under Wine: $# key scripts played"
exit "$failed"
