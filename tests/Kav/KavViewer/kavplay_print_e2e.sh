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
rm -rf "$out"
mkdir -p "$out/home/Pictures" "$out/bin"
cp -r "$demo" "$out/show"
python3 - "$out/show/Project.kav" <<'PY'
import sys
p = sys.argv[1]
s = open(p, 'rb').read().decode('utf-8-sig')
nl = '\r\n' if '\r\n' in s else '\n'
s = s.replace('[Main]' + nl, '[Main]' + nl + 'CanRestore=1' + nl, 1).replace('Action=nextslide', 'Action=print')
open(p, 'wb').write(b'\xef\xbb\xbf' + s.encode('utf-8'))
PY
# The printer: a scheduler of the test's own with one queue.
"$testcups" >"$out/cups.out" 2>&1 &
cups_pid=$!
for _ in $(seq 1 300); do grep -q '^ready \|^missing ' "$out/cups.out" && break; sleep 0.1; done
if grep -q '^missing ' "$out/cups.out"; then cat "$out/cups.out"; exit 77; fi
read -r _ cups_server cups_dir < <(grep '^ready ' "$out/cups.out")
[ -n "${cups_dir:-}" ] || { echo "FAIL: no scheduler"; cat "$out/cups.out"; kill "$cups_pid"; exit 1; }
trap 'kill -TERM "$cups_pid" 2>/dev/null; wait "$cups_pid" 2>/dev/null' EXIT
# A desktop without choosers: the save dialog falls back to the pictures folder.
env -u DBUS_SESSION_BUS_ADDRESS HOME="$out/home" XDG_CONFIG_HOME="$out/home/.config" PATH="$out/bin" \
  CUPS_SERVER="$cups_server" CUPS_SERVERROOT="$cups_dir" \
  "$player" "$out/show" >"$out/kavplay.out" 2>&1 &
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
win=$(xh_find_window "$pid" 40)
[ -n "$win" ] || fail "no window of the player"
sleep 3
xdotool windowfocus --sync "$win" 2>/dev/null || xdotool windowfocus "$win"
for _ in 1 2 3 4 5 6; do xdotool key Right; sleep 0.8; done
sleep 4
alive || fail "the player ended before slide 7"
# Paused, so that slide 7 stays for both requests (the dialog keeps the
# pause state it found).
xdotool key space
sleep 1
shot slide7
# The button sits in the middle of the slide's lower part; a click opens
# the dialog ($dialog).
open_dialog() {
  eval "$(xdotool getwindowgeometry --shell "$win")"
  xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT * 71 / 100))
  sleep 0.5
  xdotool click 1
  dialog=""
  for _ in $(seq 1 100); do
    dialog=$(xdotool search --onlyvisible --name '^Print$' 2>/dev/null | head -1)
    [ -n "$dialog" ] && break
    sleep 0.2
  done
  [ -n "$dialog" ] || fail "no print dialog after the click"
}
# Clicks the dialog at a share of its width and height (percent).
click_dialog() {
  eval "$(xdotool getwindowgeometry --shell "$dialog")"
  xdotool mousemove $((X + WIDTH * $1 / 100)) $((Y + HEIGHT * $2 / 100))
  sleep 0.3
  xdotool click 1
}
dialog_gone() {
  for _ in $(seq 1 50); do
    [ -z "$(xdotool search --onlyvisible --name '^Print$' 2>/dev/null)" ] && return 0
    sleep 0.2
  done
  return 1
}
open_dialog
sleep 1
shot dialog
# The show stands still behind the dialog (the dialog itself is left out:
# its focused default button glows).
sleep 1
shot dialog2
eval "$(xdotool getwindowgeometry --shell "$dialog")"
for s in dialog dialog2; do
  convert "$out/$s.png" -fill black -draw "rectangle $((X - 20)),$((Y - 60)) $((X + WIDTH + 20)),$((Y + HEIGHT + 20))" \
    "$out/$s-behind.png" || fail "no masked screenshot $s"
done
moved=$(compare -metric AE "$out/dialog-behind.png" "$out/dialog2-behind.png" null: 2>&1 | cut -d' ' -f1)
[ "${moved:-1}" -lt 500 ] 2>/dev/null || fail "the show moved behind the dialog ($moved pixels)"
if [ -n "$xclose" ]; then
  "$xclose" "$win"
  sleep 1.5
  alive || fail "a close request ended the player while the dialog was open"
  [ -n "$(xdotool search --onlyvisible --name '^Print$' 2>/dev/null)" ] || fail "a close request took the dialog away"
fi
# Save: the second button of the first row.
click_dialog 73 26
saved=""
for _ in $(seq 1 100); do
  saved=$(ls "$out/home/Pictures/"Slide*.bmp 2>/dev/null | head -1)
  [ -n "$saved" ] && break
  sleep 0.2
done
[ -n "$saved" ] || fail "Save wrote no slide"
# The note of where it went (on the error output here: no message-box
# helper on PATH) comes once the file is complete; then the dialog is gone.
for _ in $(seq 1 100); do
  grep -q "The slide is saved as $saved\$" "$out/kavplay.out" && break
  sleep 0.2
done
grep -q "The slide is saved as $saved\$" "$out/kavplay.out" || fail "no note of where the slide went"
size=$(identify -format '%w %h' "$saved" 2>/dev/null)
[ -n "$size" ] || fail "the saved slide is not a complete picture once the note is shown"
xdotool key Return
dialog_gone || fail "the dialog stayed open after saving"
alive || fail "the player ended after saving"
# Print: the first button.
open_dialog
click_dialog 27 26
for _ in $(seq 1 600); do [ -s "$cups_dir/page.pdf" ] && break; sleep 0.1; done
[ -s "$cups_dir/page.pdf" ] || fail "no page reached the printer"
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
