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
# Differing pixels between two screenshots.
differ() { compare -metric AE "$out/$1.png" "$out/$2.png" null: 2>&1 | cut -d' ' -f1; }

source "$(dirname "$0")/../../xvfb/xvfb_harness.sh"
win=$(xh_find_window "$pid" 40)
[ -n "$win" ] || fail "no window of the player"
sleep 3
alive || fail "the player ended while playing"
shot shot1
# A slide is more than one colour.
spread=$(convert "$out/shot1.png" -format '%[fx:standard_deviation]' info:)
awk -v s="$spread" 'BEGIN { exit !(s > 0.05) }' || fail "the screen shows no slide (deviation $spread)"

xdotool windowfocus --sync "$win" 2>/dev/null || xdotool windowfocus "$win"
xdotool key Right
sleep 2
alive || fail "the player ended after the next-slide key"
# Pause: the picture stands still.
xdotool key space
sleep 1.5
shot shot2
sleep 1.5
shot shot3
# The next-slide key brought another slide: most of the picture changed.
changed=$(compare -metric AE -fuzz 15% "$out/shot1.png" "$out/shot2.png" null: 2>&1 | cut -d' ' -f1)
[ "${changed:-0}" -gt 300000 ] 2>/dev/null || fail "no other slide after the next-slide key ($changed pixels)"
moved=$(differ shot2 shot3)
[ "${moved:-1}" -lt 2000 ] 2>/dev/null || fail "the picture moved while paused ($moved pixels)"
xdotool key space
sleep 1
alive || fail "the player ended after resuming"
xh_escape_and_wait "$pid" || fail "the player did not end on Escape"
[ "$XH_RC" -eq 0 ] || fail "the player exited with $XH_RC"
echo "played, paused, resumed and quit; screenshots in $out"
exit 0
