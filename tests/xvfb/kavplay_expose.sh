#!/bin/bash
# A still slide in a window that is unmapped and mapped again (the X server
# then has lost what it showed): the slide is back at once, playing and
# paused, though no new frame is drawn for a picture that stands still.
# Usage: kavplay_expose.sh KAVPLAY KAVPACK OUTDIR
set -u
source "$(dirname "$0")/xvfb_harness.sh"
xh_init "$3" "$1" "$2"
export SDL_VIDEODRIVER=x11 SDL_AUDIODRIVER=dummy
show="$XH_OUT/still.kvshow"
# One long still slide (no motion, no transition while the test runs).
xh_make_show "$show" --slides 2 --size 1280x800 --slide-ms 120000 --full 0 --window 800x500 --border 0
xh_start_x 1280x1024
xh_start_player "$show"
xh_wait_window 60 || xh_fail "no window of the player"
xdotool windowmove --sync "$XH_WIN" 0 0 2>/dev/null || xdotool windowmove "$XH_WIN" 0 0
xh_wait_slide 1 100 100 60 || xh_fail "slide 1 did not show"

# Unmaps and maps the window; the slide must show again (within 30 s, a
# generous bound: without the window's picture going out again it never
# comes back).
remap() {
  local name=$1
  xdotool windowunmap --sync "$XH_WIN" || xh_fail "$name: the window was not unmapped"
  sleep 0.5
  xdotool windowmap --sync "$XH_WIN" || xh_fail "$name: the window was not mapped again"
  xh_wait_slide 1 100 100 30 || xh_fail "$name: the slide did not come back after the window was mapped again"
  echo "$name: slide 1 back after the window was mapped again"
}

remap playing
xh_key space
sleep 1
remap paused
xh_quit_player
xh_pass "a still slide comes back when its window is mapped again, playing and paused; screenshots in $XH_OUT"
