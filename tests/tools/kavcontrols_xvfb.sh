#!/bin/bash
# The gallery in a real X window (run inside xvfb-run): a click on the
# classic button reaches the control tree, and after the window is resized
# its pixels equal the surface the program dumped (nothing left over from
# the old size). Skips (77) without xdotool or ImageMagick.
set -u
BIN=$1
OUT=$2
command -v xdotool >/dev/null && command -v import >/dev/null && command -v compare >/dev/null || exit 77
source "$(dirname "$0")/gallery_harness.sh"
gallery_start "$BIN" "$OUT" --live-dump "$OUT/live.png"
wait_for '^dumped 520 ' || fail "no first dump"
WID=$(xh_wait_title '^kavcontrols$' 60)
[ -n "$WID" ] || fail "no window"
# The classic button: left column, first row below the headings.
xdotool mousemove --window "$WID" 133 57 click 1
wait_for '^click classic-button$' || fail "the click did not reach the tree"
# Away from the window, then a new size.
xdotool mousemove 1000 700
sleep 0.3
xdotool windowsize "$WID" 700 400
wait_for '^dumped 700 400$' || fail "no dump at the new size"
# The X server may show the copy a moment after the dump: a few looks.
DIFF=none
for _ in $(seq 1 20); do
  sleep 0.3
  import -window "$WID" "$OUT/shot.png" || fail "no screenshot"
  DIFF=$(compare -metric AE "$OUT/shot.png" "$OUT/live.png" "$OUT/diff.png" 2>&1 >/dev/null)
  [ "$DIFF" = "0" ] && break
done
[ "$DIFF" = "0" ] || fail "window and surface differ in $DIFF pixels"
kill -TERM $PID
for _ in $(seq 1 300); do kill -0 $PID 2>/dev/null || break; sleep 0.1; done
wait $PID
RC=$?
[ $RC -eq 0 ] || fail "exit code $RC"
echo "1 passed, 0 failed"
