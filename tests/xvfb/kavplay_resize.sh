#!/bin/bash
# A borderless window resized to other shapes (xdotool windowsize): the show
# keeps its 16:10 shape, centred in the window, and the rest of the window
# has the hider colour (no strips of earlier frames stay there).
# Usage: kavplay_resize.sh KAVPLAY KAVPACK OUTDIR
set -u
source "$(dirname "$0")/xvfb_harness.sh"
xh_init "$3" "$1" "$2"
export SDL_VIDEODRIVER=x11 SDL_AUDIODRIVER=dummy
show="$XH_OUT/window.kvshow"
xh_make_show "$show" --slides 3 --size 1280x800 --slide-ms 6000 --full 0 --window 800x500 --border 0
xh_start_x 1280x1024
xh_start_player "$show"
xh_wait_window 60 || xh_fail "no window of the player"

# Window position (x y) from xdotool; without a window manager it is the client's.
window_origin() {
  xdotool getwindowgeometry "$XH_WIN" 2>/dev/null | sed -n 's/.*Position: \([0-9-]*\),\([0-9-]*\).*/\1 \2/p'
}

# Waits until the show fills the fitted rectangle of a W x H window: the
# slide's colour a few pixels inside each side, the hider colour a few
# pixels outside where the window leaves room.
check_window() {
  local w=$1 h=$2 name=$3 end=$((SECONDS + 40)) l t r b ox oy bad
  while :; do
    xh_alive || xh_fail "the player ended"
    ox=
    read -r ox oy < <(window_origin)
    if [ -z "$ox" ]; then
      # The window was replaced: find the player's window again.
      xh_wait_window 20 || xh_fail "the player's window went away"
      continue
    fi
    read -r l t r b < <(xh_fit 1280 800 "$w" "$h")
    l=$((l + ox)); r=$((r + ox)); t=$((t + oy)); b=$((b + oy))
    local cx=$(((l + r) / 2)) cy=$(((t + b) / 2))
    xh_shot "$name"
    bad=
    local slide
    slide=$(xh_slide_at "$name" $((l + 3)) "$cy")
    case "$slide" in [1-9]) ;; *) bad="left edge shows $slide" ;; esac
    for p in "$((r - 4)) $cy" "$cx $((t + 3))" "$cx $((b - 4))" "$((l + 20)) $((t + 20))" "$((r - 20)) $((b - 20))"; do
      local got
      got=$(xh_slide_at "$name" $p)
      [ "$got" = "$slide" ] || bad="$bad; ($p) shows $got, not slide $slide"
    done
    if [ $((t - oy)) -ge 8 ]; then
      for p in "$cx $((t - 4))" "$cx $((b + 3))" "$((ox + 2)) $((oy + 2))" "$((ox + w - 3)) $((oy + h - 3))"; do
        local got
        got=$(xh_slide_at "$name" $p)
        [ "$got" = hider ] || bad="$bad; ($p) shows $got, not the hider colour"
      done
    fi
    [ -z "$bad" ] && { echo "$name: the show at ($l, $t, $r, $b)"; return 0; }
    [ "$SECONDS" -gt "$end" ] && xh_fail "$name (window ${w}x$h at $ox,$oy): $bad"
    sleep 0.5
  done
}

check_window 800 500 window-800x500
# At the screen's top left corner, so the larger shapes fit on the screen.
xdotool windowmove "$XH_WIN" 0 0
check_window 800 500 window-800x500-moved
xdotool windowsize "$XH_WIN" 1000 800
check_window 1000 800 window-1000x800
# A slide change in the new shape leaves the margins alone too.
xh_wait_slide 2 $(($(window_origin | cut -d' ' -f1) + 500)) $(($(window_origin | cut -d' ' -f2) + 150)) 30 ||
  xh_fail "slide 2 did not come"
check_window 1000 800 window-1000x800-slide2
xdotool windowsize "$XH_WIN" 800 800
check_window 800 800 window-800x800
xh_quit_player
xh_pass "a window resized to 1000x800 and 800x800 keeps the show's shape; screenshots in $XH_OUT"
