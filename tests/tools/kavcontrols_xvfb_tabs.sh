#!/bin/bash
# The gallery's tab controls in a real X window (run inside xvfb-run): a
# click on the second tab of each look selects its page, and the gallery
# reports the selection. Skips (77) without xdotool.
set -u
BIN=$1
OUT=$2
command -v xdotool >/dev/null || exit 77
source "$(dirname "$0")/gallery_harness.sh"
gallery_start "$BIN" "$OUT"
wait_for '^ready ' || fail "the gallery did not start"
WID=$(xh_wait_title '^kavcontrols$' 60)
[ -n "$WID" ] || fail "no window"
for LOOK in classic styled; do
  AT=$(sed -n "s/^tab $LOOK-tabs View at \([0-9]*\) \([0-9]*\)$/\1 \2/p" "$LOG" | head -1)
  [ -n "$AT" ] || fail "no tab position for $LOOK"
  xdotool mousemove --window "$WID" $AT click 1
  wait_for "^select $LOOK-tabs View$" || fail "the click did not select the $LOOK tab"
done
kill -TERM $PID
for _ in $(seq 1 300); do kill -0 $PID 2>/dev/null || break; sleep 0.1; done
wait $PID
RC=$?
[ $RC -eq 0 ] || fail "exit code $RC"
echo "1 passed, 0 failed"
