#!/bin/bash
# Starts of a show whose first slide stands still (no motion, no
# transition: the device presents its picture once), one after another,
# while busy loops (two per core, KAV_BUSY_PER_CORE) load every core;
# full screen and in a window by turns. Each time the slide must come on
# screen, not a window left black, and stay there when the window is
# unmapped and mapped again; then Escape ends the player with 0.
# KAV_STILL_STARTS sets the number of starts (default 16).
# Usage: kavplay_still_starts.sh KAVPLAY KAVPACK OUTDIR
set -u
source "$(dirname "$0")/xvfb_harness.sh"
xh_init "$3" "$1" "$2"
export SDL_VIDEODRIVER=x11 SDL_AUDIODRIVER=dummy
starts=${KAV_STILL_STARTS:-16}
full="$XH_OUT/full.kvshow"
windowed="$XH_OUT/window.kvshow"
xh_make_show "$full" --slides 2 --size 1280x800 --slide-ms 600000 --full 1
xh_make_show "$windowed" --slides 2 --size 1280x800 --slide-ms 600000 --full 0 --window 800x500 --border 0

trap 'xh_stop_busy; xh_stop_x' EXIT
xh_start_busy

xh_start_x 1280x800
read -r l t r b < <(xh_fit 1280 800 1280 800)
black=0
for n in $(seq "$starts"); do
  if [ $((n % 2)) -eq 1 ]; then show=$full; kind="full screen"; else show=$windowed; kind="window"; fi
  for attempt in 1 2; do
    xh_start_player "$show"
    # A start on busy cores under the sanitizers (an OpenGL one compiles its
    # shaders in software) can take a minute; the black slide is what is
    # tested here.
    xh_wait_window 150 && break
    # A connection the loaded X server refused is not what is tested here.
    if [ "$attempt" = 1 ] && ! xh_alive && grep -q "no display" "$XH_LOG"; then
      wait "$XH_PID" 2>/dev/null
      XH_PID=
      continue
    fi
    xh_fail "start $n ($kind): no window of the player"
  done
  eval "$(xdotool getwindowgeometry --shell "$XH_WIN")"
  # A point of the slide's own colour, away from its number.
  px=$((X + 20)) py=$((Y + 20))
  # A slide that came at all comes within seconds; a black one stays black.
  if ! xh_wait_slide 1 "$px" "$py" 30; then
    black=$((black + 1))
    xh_fail "start $n ($kind): the still slide was not shown (the window stayed $(xh_slide_at "wait-1" "$px" "$py"))"
  fi
  xdotool windowunmap --sync "$XH_WIN" || xh_fail "start $n: the window was not unmapped"
  xdotool windowmap --sync "$XH_WIN" || xh_fail "start $n: the window was not mapped again"
  xh_wait_slide 1 "$px" "$py" 30 || xh_fail "start $n ($kind): the slide did not come back when the window was mapped again"
  xh_quit_player
  grep -q "ERROR: AddressSanitizer\|runtime error:" "$XH_LOG" && xh_fail "start $n: a sanitizer report"
  echo "start $n ($kind): the still slide shown"
done
xh_stop_busy
xh_pass "$starts starts of a still slide on busy cores, none left black"
