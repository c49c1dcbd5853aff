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
source "$(dirname "$0")/print_e2e_lib.sh"
pe_prepare_show "$demo" long-slide7
pe_start_cups --queues $queues
pe_start_player -- -time 44500
read -r screen_w screen_h < <(xdpyinfo 2>/dev/null | sed -n 's/.*dimensions: *\([0-9]*\)x\([0-9]*\) pixels.*/\1 \2/p')
[ -n "${screen_h:-}" ] || { screen_w=1024; screen_h=768; }
pe_drawn_and_paused
click_in() {
  eval "$(xdotool getwindowgeometry --shell "$1")"
  xdotool mousemove $((X + $2)) $((Y + $3))
  sleep 0.3
  xdotool click 1
}
pe_open_dialog
# Change Printer: the first button of the second row.
eval "$(xdotool getwindowgeometry --shell "$dialog")"
click_in "$dialog" $((WIDTH * 26 / 100)) $((HEIGHT * 71 / 100))
xh_until 60 pe_find_title '^Printer$' || fail "no printer choice after Change Printer"
choice=$found
# The list of the choice (the rows start 14 pixels down at 96 dpi).
list_crop() {
  import -window root "$out/$1.png"
  convert "$out/$1.png" -crop "220x220+$((X + 16))+$((Y + 14))" +repage "$out/$1-list.png"
}
# The list drawn whole before the wheel: it shows rows (not one plain
# colour), and two looks at it in a row differ in fewer pixels than the
# check of the wheel's way back allows (a shade or two of noise from frame
# to frame is left out).
list_still() {
  eval "$(xdotool getwindowgeometry --shell "$choice")"
  mv -f "$out/still-b-list.png" "$out/still-a-list.png" 2>/dev/null
  list_crop still-b
  moved=$(compare -metric AE -fuzz 5% "$out/still-a-list.png" "$out/still-b-list.png" null: 2>&1 | cut -d' ' -f1)
  [ "${moved:-1}" -lt 200 ] 2>/dev/null &&
    awk -v s="$(convert "$out/still-b-list.png" -format '%[fx:standard_deviation]' info:)" 'BEGIN { exit !(s > 0.03) }'
}
xh_until 60 list_still || fail "the printer choice's list was never drawn whole ($moved pixels changed)"
eval "$(xdotool getwindowgeometry --shell "$choice")"
import -window root "$out/choice-first.png"
[ "$X" -ge 0 ] && [ "$Y" -ge 0 ] && [ $((X + WIDTH)) -le "$screen_w" ] && [ $((Y + HEIGHT)) -le "$screen_h" ] ||
  fail "the choice ($WIDTH x $HEIGHT at $X,$Y) is not inside the ${screen_w}x${screen_h} screen"
# The wheel over the list scrolls it, and back.
# Pixels of the list that differ from before the wheel, in a new crop NAME.
list_moved() {
  list_crop "$1"
  moved=$(compare -metric AE -fuzz 5% "$out/wheel-before-list.png" "$out/$1-list.png" null: 2>&1 | cut -d' ' -f1)
}
scrolled_down() { list_moved wheel-down && [ "${moved:-0}" -gt 500 ] 2>/dev/null; }
scrolled_back() { list_moved wheel-back && [ "${moved:-1}" -lt 200 ] 2>/dev/null; }
list_crop wheel-before
xdotool mousemove $((X + 100)) $((Y + 60))
sleep 0.3
xdotool click --repeat 3 --delay 100 5
xh_until 30 scrolled_down || fail "the wheel did not scroll the list ($moved pixels changed)"
xdotool click --repeat 10 --delay 50 4
xh_until 30 scrolled_back || fail "the wheel did not scroll the list back ($moved pixels differ)"
# The first printer's row (the list starts 14 pixels down at 96 dpi), then
# Down to the last printer.
click_in "$choice" 60 24
sleep 0.5
xdotool key --delay 40 --repeat $((queues - 1)) Down
sleep 1.5
import -window root "$out/choice-last.png"
xdotool key Return
xh_until 30 pe_no_title '^Printer$' || fail "the choice stayed open after Return"
alive || fail "the player ended at the choice"
# Print: the first button.
pe_find_title '^Print$' || fail "the print dialog went with the choice"
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
