#!/bin/bash
# The print dialog in the real player, in an X server (run under xvfb-run):
# the demo project with its slide-7 button turned into a print button and
# saving allowed. A click on the button pauses the show and opens the
# dialog (Print, Save, "Change Printer", "Only Main Image"); Save with no
# desktop chooser (no portal, no zenity or kdialog on PATH) writes the shown
# slide as a BMP into the pictures folder without asking and says where;
# Print sends it to the tests' own CUPS scheduler (kavtestcups), whose queue
# receives one landscape page showing the slide; Esc ends the player with 0.
# With KAVXCLOSE, the window manager's close request while the dialog is
# open is refused: the player and the dialog stay.
# Usage: kavplay_print_e2e.sh KAVPLAY DEMO_FOLDER OUTDIR KAVTESTCUPS [KAVXCLOSE]
set -u
player=$1
demo=$2
out=$3
testcups=$4
xclose=${5:-}
[ -f "$demo/Project.kav" ] || { echo "no demo project at $demo: skipped"; exit 77; }
for tool in xdotool import compare identify python3 pdftoppm; do command -v $tool >/dev/null || exit 77; done
source "$(dirname "$0")/print_e2e_lib.sh"
pe_prepare_show "$demo" can-restore long-slide7
pe_start_cups
# A desktop without choosers: the save dialog falls back to the pictures folder.
pe_start_player -- -time 44500
shot() { import -window root "$out/$1.png" || fail "no screenshot $1"; }
# Started 2.5 s into slide 7 and paused, so that slide 7 stays for both
# requests (the dialog keeps the pause state it found).
pe_drawn_and_paused
alive || fail "the player ended on slide 7"
# Clicks the dialog at a share of its width and height (percent).
click_dialog() { pe_click_in "$dialog" "$1" "$2"; }
dialog_gone() { xh_until 30 pe_no_title '^Print$'; }
pe_open_dialog
# The show stands still behind the dialog (the screen settles once the
# dialog is drawn; a show that went on playing never would). The dialog
# itself is left out: its focused default button glows.
eval "$(xdotool getwindowgeometry --shell "$dialog")"
behind() {
  shot "$1"
  convert "$out/$1.png" -fill black -draw "rectangle $((X - 20)),$((Y - 60)) $((X + WIDTH + 20)),$((Y + HEIGHT + 20))" \
    "$out/$1-behind.png"
}
still_behind() {
  behind dialog2 || return 1
  moved=$(compare -metric AE "$out/dialog-behind.png" "$out/dialog2-behind.png" null: 2>&1 | cut -d' ' -f1)
  mv -f "$out/dialog2-behind.png" "$out/dialog-behind.png"
  [ "${moved:-1}" -lt 500 ] 2>/dev/null || { sleep 1; return 1; }
}
behind dialog || fail "no masked screenshot"
sleep 1
xh_until 30 still_behind || fail "the show moved behind the dialog ($moved pixels)"
if [ -n "$xclose" ]; then
  "$xclose" "$win"
  sleep 1.5
  alive || fail "a close request ended the player while the dialog was open"
  [ -n "$(xh_search_title '^Print$')" ] || fail "a close request took the dialog away"
fi
# Save: the second button of the first row.
click_dialog 73 26
saved=""
found_saved() { saved=$(ls "$out/home/Pictures/"Slide*.bmp 2>/dev/null | head -1); [ -n "$saved" ]; }
xh_until 30 found_saved || fail "Save wrote no slide"
# The note of where it went: a message box (Return on it), or where X
# gives none, a line on the standard error output. It comes only once the
# file is written and closed, so the file is a complete picture then.
note=""
find_note() {
  note=$(xh_search_title '^Save As$' | head -1)
  [ -n "$note" ] || grep -q '^Save As: .*saved as' "$out/kavplay.out"
}
xh_until 30 find_note || fail "no note of where the slide went"
size=$(identify -format '%w %h' "$saved" 2>/dev/null)
[ -n "$size" ] || fail "the saved slide is not a complete picture once the note is shown"
if [ -n "$note" ]; then
  xdotool windowfocus --sync "$note" 2>/dev/null || xdotool windowfocus "$note" 2>/dev/null
  xdotool key Return
fi
dialog_gone || fail "the dialog stayed open after saving"
size=""
picture() { size=$(identify -format '%w %h' "$saved" 2>/dev/null); [ -n "$size" ]; }
xh_until 30 picture || fail "the saved slide is not a picture"
alive || fail "the player ended after saving"
# Print: the first button.
pe_open_dialog
click_dialog 27 26
# The capture backend moves the finished page into place.
xh_until 90 test -s "$cups_dir/page.pdf" || fail "no page reached the printer"
dialog_gone || fail "the dialog stayed open after printing"
pdftoppm -r 30 -png -singlefile "$cups_dir/page.pdf" "$out/page" || fail "the page is no PDF"
read -r pw ph < <(identify -format '%w %h\n' "$out/page.png")
[ "$pw" -gt "$ph" ] || fail "the page is not landscape ($pw x $ph)"
mean=$(convert "$out/page.png" -format '%[fx:mean]' info:)
awk -v m="$mean" 'BEGIN { exit !(m < 0.9) }' || fail "the printed page is blank (mean $mean)"
xdotool windowfocus "$win" 2>/dev/null
xh_escape_and_wait "$pid" || fail "the player did not end on Escape"
[ "$XH_RC" -eq 0 ] || fail "the player exited with $XH_RC"
echo "dialog shown, slide saved as $(basename "$saved") ($size), printed on a ${pw}x${ph} page; shots in $out"
exit 0
