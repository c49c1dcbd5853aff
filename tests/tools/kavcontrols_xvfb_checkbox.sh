#!/bin/bash
# The gallery in a real X window (run inside xvfb-run): a click on the
# classic and on the styled check box changes each one's state (the
# gallery writes where the boxes are, and each click with the new state).
# Skips (77) without xdotool.
set -u
BIN=$1
OUT=$2
command -v xdotool >/dev/null || exit 77
source "$(dirname "$0")/gallery_harness.sh"
gallery_start "$BIN" "$OUT"
wait_for '^ready ' || fail "the gallery did not start"
WID=$(xh_wait_title '^kavcontrols$' 60)
[ -n "$WID" ] || fail "no window"
for SIDE in classic styled; do
  read -r _ _ X Y W H < <(grep "^at $SIDE-checkbox " "$LOG" | head -1)
  [ -n "${H:-}" ] || fail "no place for the $SIDE check box"
  # On the box: a few pixels in from the left edge, half-way down.
  xdotool mousemove --window "$WID" $((X + 4)) $((Y + H / 2)) click 1
  wait_for "^click $SIDE-checkbox state 1$" || fail "the $SIDE check box did not become checked"
  xdotool mousemove --window "$WID" $((X + 4)) $((Y + H / 2)) click 1
  wait_for "^click $SIDE-checkbox state 0$" || fail "the $SIDE check box did not become unchecked"
done
kill -TERM $PID
for _ in $(seq 1 300); do kill -0 $PID 2>/dev/null || break; sleep 0.1; done
wait $PID
RC=$?
[ $RC -eq 0 ] || fail "exit code $RC"
echo "1 passed, 0 failed"
