#!/bin/bash
# The gallery in a real X window (run inside xvfb-run): Tab moves the
# keyboard focus from control to control in the order of the tree, and the
# focus ring follows it on screen: each Tab changes the window's pixels
# around the newly focused control and nowhere far from the old and new
# ones. Skips (77) without xdotool or ImageMagick.
set -u
BIN=$1
OUT=$2
command -v xdotool >/dev/null || exit 77
command -v import >/dev/null || exit 77
command -v compare >/dev/null || exit 77
source "$(dirname "$0")/gallery_harness.sh"
gallery_start "$BIN" "$OUT"
# Shoots the window once two shots a moment apart agree (fades over).
shoot() {
  local prev="$OUT/shot_prev.png"
  import -window "$WID" "$prev" 2>/dev/null
  for _ in $(seq 1 50); do
    sleep 0.2
    import -window "$WID" "$1" 2>/dev/null
    [ "$(compare -metric AE "$prev" "$1" null: 2>&1)" = 0 ] && return 0
    cp "$1" "$prev"
  done
  return 0
}
wait_for '^ready ' || fail "the gallery did not start"
WID=$(xh_wait_title '^kavcontrols$' 60)
[ -n "$WID" ] || fail "no window"
xdotool windowfocus --sync "$WID" 2>/dev/null || xdotool windowfocus "$WID"
xdotool mousemove 1200 780
shoot "$OUT/0.png"
names=()
for i in 1 2 3; do
  xdotool key Tab
  wait_for '^focus ' "$i" || fail "Tab $i moved no focus"
  shoot "$OUT/$i.png"
  names+=("$(grep '^focus ' "$LOG" | sed -n "${i}p" | cut -d' ' -f2)")
  # The ring moved: the picture changed, in a small part of the window.
  DIFF=$(compare -metric AE "$OUT/$((i - 1)).png" "$OUT/$i.png" "$OUT/diff_$i.png" 2>&1)
  [ "$DIFF" -gt 0 ] || fail "Tab $i changed nothing on screen"
  [ "$DIFF" -lt 20000 ] || fail "Tab $i repainted $DIFF pixels"
done
[ "${names[0]}" != "${names[1]}" ] && [ "${names[1]}" != "${names[2]}" ] ||
  fail "Tab did not move on: ${names[*]}"
# Shift+Tab goes back to the second.
xdotool key shift+Tab
wait_for '^focus ' 4 || fail "Shift+Tab moved no focus"
[ "$(grep '^focus ' "$LOG" | sed -n 4p | cut -d' ' -f2)" = "${names[1]}" ] || fail "Shift+Tab did not go back"
kill -TERM $PID
for _ in $(seq 1 300); do kill -0 $PID 2>/dev/null || break; sleep 0.1; done
wait $PID
RC=$?
[ $RC -eq 0 ] || fail "exit code $RC"
echo "1 passed (${names[*]}), 0 failed"
