#!/bin/bash
# A mosaic of the largest grid (256 x 256 blocks) and one of 200 x 200 play
# in the real player: the next slide comes in block by block, the picture
# moves on, and SIGTERM in the middle of the transition ends the player
# within a few seconds of its own time (KAV_MOSAIC_EXIT_S, default 3).
# Usage: kavplay_mosaic.sh KAVPLAY KAVPACK OUTDIR
set -u
source "$(dirname "$0")/xvfb_harness.sh"
xh_init "$3" "$1" "$2"
export SDL_VIDEODRIVER=x11 SDL_AUDIODRIVER=dummy
limit=${KAV_MOSAIC_EXIT_S:-3}
green=$(xh_colour 2)

# The share (per mille) of the window's pixels (800 x 500 at the top left)
# that show slide 2 in the screenshot NAME.
share() {
  "$XH_PYTHON" - "$XH_OUT/$1.png" "$green" <<'PY'
import sys
from PIL import Image
img = Image.open(sys.argv[1]).convert("RGB").crop((0, 0, 800, 500))
c = tuple(int(sys.argv[2][i:i + 2], 16) for i in (0, 2, 4))
n = sum(1 for p in img.getdata() if all(abs(p[k] - c[k]) <= 40 for k in range(3)))
print(n * 1000 // (800 * 500))
PY
}

# Takes up to TRIES screenshots NAME until slide 2's share lies within LOW
# to HIGH per mille; `got` holds the last share. False when it never did.
share_within() {
  local name=$1 tries=$2 low=$3 high=$4
  for _ in $(seq "$tries"); do
    xh_alive || xh_fail "$grid: the player ended"
    xh_shot "$name"
    got=$(share "$name")
    [ "$got" -ge "$low" ] && [ "$got" -le "$high" ] && return 0
    sleep 0.2
  done
  return 1
}

xh_start_x 1024x768
for grid in 256 200; do
  show="$XH_OUT/mosaic$grid.kvshow"
  # Slide 2 comes in over 20 s, its blocks spread far apart in time.
  xh_make_show "$show" --slides 2 --size 800x500 --slide-ms 3000 --full 0 --window 800x500 --border 0 \
    --effect mosaic --effect-ms 20000 --effect-param cols=$grid --effect-param rows=$grid \
    --effect-param appearence=50
  xh_start_player "$show"
  xh_wait_window 60 || xh_fail "$grid: no window of the player"
  xdotool windowmove --sync "$XH_WIN" 0 0 2>/dev/null || xdotool windowmove "$XH_WIN" 0 0
  # The transition under way: some blocks of slide 2, not all.
  share_within "m$grid-a" 300 20 600 || xh_fail "$grid: the mosaic never showed (slide 2's share $got per mille)"
  s=$got
  # The picture moves on: more of slide 2 shows a little later.
  share_within "m$grid-b" 50 $((s + 1)) 1000 || xh_fail "$grid: the mosaic stood still (slide 2's share stayed at $s per mille)"
  t=$got
  echo "$grid x $grid: slide 2's share went from $s to $t per mille"
  # Timed from the signal to the end as the kernel sees it, less the
  # longest any of the player's threads waited for a CPU meanwhile (a busy
  # machine stretches the wall time, not the player's own).
  xh_exit_time "$XH_PID" TERM 60 || xh_fail "$grid: still running 60 s after SIGTERM during the mosaic"
  ms=$((${XH_EXIT_MS:-0} - ${XH_EXIT_STARVED_MS:-0}))
  wait "$XH_PID"
  XH_PID=
  echo "$grid x $grid: ended ${XH_EXIT_MS:-0} ms after SIGTERM, $ms ms of its own"
  [ "$ms" -le $((limit * 1000)) ] || xh_fail "$grid: the player took $ms ms of its own to end after SIGTERM (at most $limit s)"
done
xh_pass "256 x 256 and 200 x 200 mosaics play and SIGTERM ends the player; screenshots in $XH_OUT"
