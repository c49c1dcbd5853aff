#!/bin/bash
# Change Printer with many printers in the real player, in a 1024 x 768 X
# server (run under xvfb-run): the tests' own CUPS scheduler (kavtestcups)
# with 63 queues. The print dialog's Change Printer opens the choice, which
# lies wholly on the screen; the wheel scrolls its list down and back; the
# first printer is clicked, Down goes to the last one (the list scrolls to
# it), Return takes the choice; Print then sends the page to that last
# queue. Screenshots of the choice are kept.
# Usage: kavplay_change_printer_e2e.sh KAVPLAY DEMO_FOLDER OUTDIR KAVTESTCUPS
set -u
player=$1
demo=$2
out=$3
testcups=$4
queues=63
[ -f "$demo/Project.kav" ] || { echo "no demo project at $demo: skipped"; exit 77; }
for tool in xdotool import convert compare python3; do command -v $tool >/dev/null || exit 77; done
rm -rf "$out"
mkdir -p "$out/home/Pictures" "$out/bin"
cp -r "$demo" "$out/show"
python3 - "$out/show/Project.kav" <<'PY'
import re, sys
p = sys.argv[1]
s = open(p, 'rb').read().decode('utf-8-sig')
s = s.replace('Action=nextslide', 'Action=print')
# Slide 7 (from 42 s on) lasts an hour.
s = re.sub(r'opt_synchpos7=\d+', 'opt_synchpos7=3642000', s)
s = re.sub(r'opt_synchpos8=\d+', 'opt_synchpos8=3649000', s)
open(p, 'wb').write(b'\xef\xbb\xbf' + s.encode('utf-8'))
PY
"$testcups" --queues $queues >"$out/cups.out" 2>&1 &
cups_pid=$!
for _ in $(seq 1 600); do grep -q '^ready \|^missing ' "$out/cups.out" && break; sleep 0.1; done
if grep -q '^missing ' "$out/cups.out"; then cat "$out/cups.out"; exit 77; fi
read -r _ cups_server cups_dir < <(grep '^ready ' "$out/cups.out")
[ -n "${cups_dir:-}" ] || { echo "FAIL: no scheduler"; cat "$out/cups.out"; kill "$cups_pid"; exit 1; }
trap 'kill -TERM "$cups_pid" 2>/dev/null; wait "$cups_pid" 2>/dev/null' EXIT
env -u DBUS_SESSION_BUS_ADDRESS HOME="$out/home" XDG_CONFIG_HOME="$out/home/.config" PATH="$out/bin" \
  CUPS_SERVER="$cups_server" CUPS_SERVERROOT="$cups_dir" \
  "$player" "$out/show" -time 44500 >"$out/kavplay.out" 2>&1 &
pid=$!
fail() {
  echo "FAIL: $*"
  kill -KILL "$pid" 2>/dev/null
  tail -n 40 "$out/kavplay.out"
  exit 1
}
alive() { kill -0 "$pid" 2>/dev/null; }
source "$(dirname "$0")/../../xvfb/xvfb_harness.sh"
read -r screen_w screen_h < <(xdpyinfo 2>/dev/null | sed -n 's/.*dimensions: *\([0-9]*\)x\([0-9]*\) pixels.*/\1 \2/p')
[ -n "${screen_h:-}" ] || { screen_w=1024; screen_h=768; }
win=$(xh_find_window "$pid" 60)
[ -n "$win" ] || fail "no window of the player"
drawn() {
  import -window root "$out/start.png" 2>/dev/null || return 1
  awk -v s="$(convert "$out/start.png" -format '%[fx:standard_deviation]' info:)" 'BEGIN { exit !(s > 0.05) }'
}
xh_until 60 drawn || fail "the show was never drawn"
xdotool windowfocus --sync "$win" 2>/dev/null || xdotool windowfocus "$win"
xdotool key space
xh_wait_still "$out/slide7" 60 || fail "the show did not pause"
find_named() {
  found=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1)
  [ -n "$found" ]
}
open_dialog() {
  eval "$(xdotool getwindowgeometry --shell "$win")"
  local end=$((SECONDS + 60)) i
  while [ "$SECONDS" -le "$end" ]; do
    alive || fail "the player ended before the dialog opened"
    for i in 1 0; do
      xdotool mousemove $((X + WIDTH / 2 + i)) $((Y + HEIGHT * 71 / 100))
      sleep 0.5
    done
    xdotool click 1
    xh_until 15 find_named '^Print$' && { dialog=$found; return 0; }
  done
  fail "no print dialog after the click"
}
click_in() {
  eval "$(xdotool getwindowgeometry --shell "$1")"
  xdotool mousemove $((X + $2)) $((Y + $3))
  sleep 0.3
  xdotool click 1
}
open_dialog
# Change Printer: the first button of the second row.
eval "$(xdotool getwindowgeometry --shell "$dialog")"
click_in "$dialog" $((WIDTH * 26 / 100)) $((HEIGHT * 71 / 100))
xh_until 60 find_named '^Printer$' || fail "no printer choice after Change Printer"
choice=$found
sleep 1
eval "$(xdotool getwindowgeometry --shell "$choice")"
import -window root "$out/choice-first.png"
[ "$X" -ge 0 ] && [ "$Y" -ge 0 ] && [ $((X + WIDTH)) -le "$screen_w" ] && [ $((Y + HEIGHT)) -le "$screen_h" ] ||
  fail "the choice ($WIDTH x $HEIGHT at $X,$Y) is not inside the ${screen_w}x${screen_h} screen"
# The wheel over the list scrolls it, and back.
list_crop() {
  import -window root "$out/$1.png"
  convert "$out/$1.png" -crop "220x220+$((X + 16))+$((Y + 14))" +repage "$out/$1-list.png"
}
list_crop wheel-before
xdotool mousemove $((X + 100)) $((Y + 60))
sleep 0.3
xdotool click --repeat 3 --delay 100 5
sleep 1
list_crop wheel-down
moved=$(compare -metric AE "$out/wheel-before-list.png" "$out/wheel-down-list.png" null: 2>&1 | cut -d' ' -f1)
[ "${moved:-0}" -gt 500 ] 2>/dev/null || fail "the wheel did not scroll the list ($moved pixels changed)"
xdotool click --repeat 10 --delay 50 4
sleep 1
list_crop wheel-back
moved=$(compare -metric AE "$out/wheel-before-list.png" "$out/wheel-back-list.png" null: 2>&1 | cut -d' ' -f1)
[ "${moved:-1}" -lt 200 ] 2>/dev/null || fail "the wheel did not scroll the list back ($moved pixels differ)"
# The first printer's row (the list starts 14 pixels down at 96 dpi), then
# Down to the last printer.
click_in "$choice" 60 24
sleep 0.5
xdotool key --delay 40 --repeat $((queues - 1)) Down
sleep 1.5
import -window root "$out/choice-last.png"
xdotool key Return
no_choice() { ! find_named '^Printer$'; }
xh_until 30 no_choice || fail "the choice stayed open after Return"
alive || fail "the player ended at the choice"
# Print: the first button.
find_named '^Print$' || fail "the print dialog went with the choice"
dialog=$found
eval "$(xdotool getwindowgeometry --shell "$dialog")"
click_in "$dialog" $((WIDTH * 27 / 100)) $((HEIGHT * 26 / 100))
last=$(printf 'kavtest%03d' $queues)
xh_until 90 test -s "$cups_dir/$last.pdf" || fail "no page reached the last queue ($(ls "$cups_dir"))"
[ -e "$cups_dir/page.pdf" ] && fail "a page reached the first queue too"
xdotool windowfocus "$win" 2>/dev/null
xh_escape_and_wait "$pid" || fail "the player did not end on Escape"
[ "$XH_RC" -eq 0 ] || fail "the player exited with $XH_RC"
echo "choice of $queues printers inside ${screen_w}x${screen_h}, the last one chosen and printed on; shots in $out"
exit 0
