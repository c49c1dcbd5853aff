#!/bin/bash
# The player end to end in an X server: plays the demo show, takes keys
# (next slide, pause, resume, quit) and exits 0. Run under xvfb-run.
# Usage: kavplay_e2e.sh KAVPLAY SHOW OUTDIR
set -u
player=$1
show=$2
out=$3
if [ ! -f "$show" ]; then
  echo "no demo show at $show (kav_demo was not built): skipped"
  exit 77
fi
mkdir -p "$out"
rm -f "$out"/shot*.png
"$player" "$show" >"$out/kavplay.out" 2>&1 &
pid=$!

fail() {
  echo "FAIL: $*"
  kill -KILL "$pid" 2>/dev/null
  tail -n 40 "$out/kavplay.out"
  exit 1
}
alive() { kill -0 "$pid" 2>/dev/null; }
shot() { import -window root "$out/$1.png" || fail "no screenshot $1"; }

source "$(dirname "$0")/../../xvfb/xvfb_harness.sh"
win=$(xh_find_window "$pid" 60)
[ -n "$win" ] || fail "no window of the player"
# A slide is more than one colour: the show is drawn.
spread=
drawn() {
  alive || fail "the player ended while playing"
  shot shot1
  spread=$(convert "$out/shot1.png" -format '%[fx:standard_deviation]' info:)
  awk -v s="$spread" 'BEGIN { exit !(s > 0.05) }'
}
xh_until 60 drawn || fail "the screen shows no slide (deviation $spread)"

xdotool windowfocus --sync "$win" 2>/dev/null || xdotool windowfocus "$win"
xdotool key Right
# The next-slide key brings another slide: most of the picture changes.
changed=
other_slide() {
  alive || fail "the player ended after the next-slide key"
  shot shot2
  changed=$(compare -metric AE -fuzz 15% "$out/shot1.png" "$out/shot2.png" null: 2>&1 | cut -d' ' -f1)
  [ "${changed:-0}" -gt 300000 ] 2>/dev/null
}
xh_until 30 other_slide || fail "no other slide after the next-slide key ($changed pixels)"
# Pause: the picture stands still.
xdotool key space
xh_wait_still "$out/shot3" 30 2000 || fail "the picture did not stand still when paused"
xdotool key space
sleep 1
alive || fail "the player ended after resuming"
xh_escape_and_wait "$pid" || fail "the player did not end on Escape"
[ "$XH_RC" -eq 0 ] || fail "the player exited with $XH_RC"
echo "played, paused, resumed and quit; screenshots in $out"
exit 0
