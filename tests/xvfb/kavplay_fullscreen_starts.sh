#!/bin/bash
# Full-screen starts, one after another, of a show whose slides are large
# pictures (the slide loader busy preparing them while the device is made
# and rebuilt for the screen), with a busy process beside: each time slide
# 1 must come on screen (not a black or missing frame) and the player must
# run on until Escape ends it with 0, without a sanitizer report.
# KAV_FULLSCREEN_STARTS sets the number of starts (default 12).
# Usage: kavplay_fullscreen_starts.sh KAVPLAY KAVPACK OUTDIR
set -u
source "$(dirname "$0")/xvfb_harness.sh"
xh_init "$3" "$1" "$2"
export SDL_VIDEODRIVER=x11 SDL_AUDIODRIVER=dummy
starts=${KAV_FULLSCREEN_STARTS:-12}
show="$XH_OUT/large.kvshow"
# 3200 x 2000 pictures (16:10), long slides: slide 1 stays on while it is
# waited for, even on a slow machine.
xh_make_show "$show" --slides 4 --size 3200x2000 --slide-ms 60000 --full 1

# One busy loop of our own beside the player, ended with the test.
busy=
stop_busy() {
  [ -n "$busy" ] && { kill "$busy" 2>/dev/null; wait "$busy" 2>/dev/null; }
  busy=
}
trap 'stop_busy; xh_stop_x' EXIT
( while :; do :; done ) &
busy=$!

xh_start_x 1280x800
read -r l t r b < <(xh_fit 3200 2000 1280 800)
for n in $(seq "$starts"); do
  for attempt in 1 2; do
    xh_start_player "$show"
    xh_wait_window 60 && break
    # A connection the loaded X server refused is not what is tested here:
    # that start is made once more.
    if [ "$attempt" = 1 ] && ! xh_alive && grep -q "no display" "$XH_LOG"; then
      echo "start $n: the player could not connect to the X server; once more"
      wait "$XH_PID" 2>/dev/null
      XH_PID=
      continue
    fi
    xh_fail "start $n: no window of the player"
  done
  xh_wait_slide 1 $((l + 20)) $((t + 20)) 60 || xh_fail "start $n: slide 1 was not shown"
  xh_alive || xh_fail "start $n: the player ended after showing slide 1"
  xh_quit_player
  if grep -q "ERROR: AddressSanitizer\|runtime error:" "$XH_LOG"; then
    xh_fail "start $n: a sanitizer report"
  fi
  echo "start $n: slide 1 shown ($(ls /proc/"$XH_XPID"/fd 2>/dev/null | wc -l) descriptors of the X server)"
done
stop_busy
xh_pass "$starts full-screen starts of a show of large pictures, slide 1 shown each time"
