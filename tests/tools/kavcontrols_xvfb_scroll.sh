#!/bin/bash
# The gallery's scroll bars in a real X window (run inside xvfb-run):
# xdotool drags the thumb of the classic horizontal bar and of the styled
# vertical bar, and the program reports the new positions; a click on an
# arrow steps the bar back. Skips (77) without xdotool.
set -u
BIN=$1
OUT=$2
command -v xdotool >/dev/null || exit 77
source "$(dirname "$0")/gallery_harness.sh"
gallery_start "$BIN" "$OUT" --live-dump "$OUT/live.png"
# The last position reported for bar $1.
last_position() { grep "^scroll $1 " "$LOG" | tail -1 | cut -d' ' -f3; }
wait_for '^dumped ' || fail "no first dump"
WID=$(xh_wait_title '^kavcontrols$' 60)
[ -n "$WID" ] || fail "no window"

# Drags the thumb of bar $1 by $2 pixels along its axis; answers nothing.
# The gallery sets a page of 0.25 and the position 0.5 on every bar.
drag() {
  local name=$1 by=$2 x y w h vertical len track thumb start cx cy i
  read -r x y w h < <(grep "^place $name " "$LOG" | head -1 | cut -d' ' -f3-)
  [ -n "$x" ] || fail "no place for $name"
  vertical=0; [ "$h" -gt "$w" ] && vertical=1
  len=$w; [ $vertical = 1 ] && len=$h
  track=$((len - 34))
  thumb=$(((track + 2) / 4)); [ $thumb -lt 17 ] && thumb=17
  start=$((17 + (track - thumb + 1) / 2))
  if [ $vertical = 1 ]; then cx=$((x + w / 2)); cy=$((y + start + thumb / 2))
  else cx=$((x + start + thumb / 2)); cy=$((y + h / 2)); fi
  xdotool mousemove --window "$WID" $cx $cy
  sleep 0.2
  xdotool mousedown 1
  for i in 1 2 3 4; do
    sleep 0.1
    if [ $vertical = 1 ]; then xdotool mousemove --window "$WID" $cx $((cy + by * i / 4))
    else xdotool mousemove --window "$WID" $((cx + by * i / 4)) $cy; fi
  done
  sleep 0.2
  xdotool mouseup 1
}

drag classic-hscrollbar 40
wait_for '^scroll classic-hscrollbar ' || fail "the drag did not move the classic bar"
P=$(last_position classic-hscrollbar)
awk -v p="$P" 'BEGIN { exit !(p > 0.55 && p <= 1) }' || fail "classic bar at $P after a drag to the right"

drag styled-vscrollbar 12
wait_for '^scroll styled-vscrollbar ' || fail "the drag did not move the styled bar"
P=$(last_position styled-vscrollbar)
awk -v p="$P" 'BEGIN { exit !(p > 0.55 && p <= 1) }' || fail "styled bar at $P after a drag down"

# A click on the classic bar's first arrow steps it back by one line.
read -r X Y W H < <(grep "^place classic-hscrollbar " "$LOG" | head -1 | cut -d' ' -f3-)
BEFORE=$(last_position classic-hscrollbar)
xdotool mousemove --window "$WID" $((X + 8)) $((Y + H / 2)) click 1
for _ in $(seq 1 100); do
  [ "$(last_position classic-hscrollbar)" != "$BEFORE" ] && break
  sleep 0.1
done
P=$(last_position classic-hscrollbar)
awk -v p="$P" -v b="$BEFORE" 'BEGIN { exit !(p < b) }' || fail "the arrow did not step back ($BEFORE, $P)"

kill -TERM $PID
for _ in $(seq 1 300); do kill -0 $PID 2>/dev/null || break; sleep 0.1; done
wait $PID
RC=$?
[ $RC -eq 0 ] || fail "exit code $RC"
echo "1 passed, 0 failed"
