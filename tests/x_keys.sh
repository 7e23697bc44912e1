# tests/x_keys.sh, sourced by the adapters that type into a window on X (xdotool): the X key name
# for a key the game's interpreter asks for by its code and its Shift, Ctrl and Alt bits; fails for
# a key none of them presses.
xkey() {
  local vk=$1 shift=${2:-0} name
  case "$vk" in
    13) name=Return ;; 27) name=Escape ;; 40) name=Down ;; 38) name=Up ;; 37) name=Left ;; 39) name=Right ;;
    9) name=Tab ;; 33) name=Prior ;; 34) name=Next ;; 192) name=grave ;; 112) name=F1 ;; 32) name=space ;;
    4[89] | 5[0-7] | 6[5-9] | [78][0-9] | 90) name="$(printf "\\$(printf %o "$vk")" | tr 'A-Z' 'a-z')" ;;
    *) return 1 ;;
  esac
  [ $((shift & 1)) = 0 ] || name="shift+$name"
  [ $((shift & 2)) = 0 ] || name="ctrl+$name"
  [ $((shift & 4)) = 0 ] || name="alt+$name"
  echo "$name"
}
