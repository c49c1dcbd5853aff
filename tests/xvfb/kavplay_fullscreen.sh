#!/bin/bash
# Full screen (the default mode) at three screen sizes: the first slide shows
# at once (not only when the next one comes), the show keeps its 16:10 shape,
# centred, and the rest of the screen has the hider colour.
# Usage: kavplay_fullscreen.sh KAVPLAY KAVPACK OUTDIR
set -u
source "$(dirname "$0")/xvfb_harness.sh"
xh_init "$3" "$1" "$2"
export SDL_VIDEODRIVER=x11 SDL_AUDIODRIVER=dummy
show="$XH_OUT/full.kvshow"
# Long slides: the first must be seen while it is on, even on a slow machine.
xh_make_show "$show" --slides 2 --size 1280x800 --slide-ms 30000 --full 1

# Colour of a pixel of the last shot against an expected slide or "hider".
expect_at() {
  local name=$1 x=$2 y=$3 want=$4 got
  got=$(xh_slide_at "$name" "$x" "$y")
  [ "$got" = "$want" ] || xh_fail "$name: ($x, $y) shows $got, not $want"
}

for size in 1920x1080 1280x800 1024x768; do
  sw=${size%x*}
  sh=${size#*x}
  xh_start_x "$size"
  xh_start_player "$show"
  xh_wait_window 60 || xh_fail "$size: no window of the player"
  read -r l t r b < <(xh_fit 1280 800 "$sw" "$sh")
  cx=$(((l + r) / 2))
  cy=$(((t + b) / 2))
  # Slide 1 near the top left corner of the show's rectangle.
  xh_wait_slide 1 $((l + 20)) $((t + 20)) 28 || xh_fail "$size: the first slide was not shown while it was on"
  shot="full-$size"
  xh_shot "$shot"
  # The rectangle's edges, a few pixels inside, halfway along each side.
  expect_at "$shot" $((l + 3)) "$cy" 1
  expect_at "$shot" $((r - 4)) "$cy" 1
  expect_at "$shot" "$cx" $((t + 3)) 1
  expect_at "$shot" "$cx" $((b - 4)) 1
  # Outside it, where there is room: the hider colour.
  [ "$l" -ge 8 ] && { expect_at "$shot" $((l - 4)) "$cy" hider; expect_at "$shot" $((r + 3)) "$cy" hider; }
  [ "$t" -ge 8 ] && { expect_at "$shot" "$cx" $((t - 4)) hider; expect_at "$shot" "$cx" $((b + 3)) hider; }
  xh_quit_player
  echo "$size: the show at ($l, $t, $r, $b)"
done
xh_pass "full screen at 1920x1080, 1280x800 and 1024x768; screenshots in $XH_OUT"
