#!/bin/bash
# The print dialog in the real player, in an X server (run under xvfb-run):
# the demo project with its slide-7 button turned into a print button and
# saving allowed. A click on the button pauses the show and opens the
# dialog (Print, Save, "Change Printer", "Only Main Image"); Save with no
# desktop chooser (no portal, no zenity or kdialog on PATH) writes the shown
# slide as a BMP into the pictures folder without asking and says where;
# the dialog closes and Esc ends the player with 0.
# Usage: kavplay_print_e2e.sh KAVPLAY DEMO_FOLDER OUTDIR
set -u
player=$1
demo=$2
out=$3
[ -f "$demo/Project.kav" ] || { echo "no demo project at $demo: skipped"; exit 77; }
for tool in xdotool import compare identify python3; do command -v $tool >/dev/null || exit 77; done
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
# A desktop without choosers: the save dialog falls back to the pictures folder.
env -u DBUS_SESSION_BUS_ADDRESS HOME="$out/home" XDG_CONFIG_HOME="$out/home/.config" PATH="$out/bin" \
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
shot slide7
# The button sits in the middle of the slide's lower part.
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
sleep 1
shot dialog
# The show stands still behind the dialog.
sleep 1
shot dialog2
moved=$(compare -metric AE "$out/dialog.png" "$out/dialog2.png" null: 2>&1 | cut -d' ' -f1)
[ "${moved:-1}" -lt 500 ] 2>/dev/null || fail "the show moved behind the dialog ($moved pixels)"
# Save: the second button of the first row.
eval "$(xdotool getwindowgeometry --shell "$dialog")"
xdotool mousemove $((X + WIDTH * 73 / 100)) $((Y + HEIGHT * 26 / 100))
sleep 0.3
xdotool click 1
saved=""
for _ in $(seq 1 100); do
  saved=$(ls "$out/home/Pictures/"Slide*.bmp 2>/dev/null | head -1)
  [ -n "$saved" ] && break
  sleep 0.2
done
[ -n "$saved" ] || fail "Save wrote no slide"
# The note of where it went, then the dialog is gone.
sleep 1
xdotool key Return
size=$(identify -format '%w %h' "$saved" 2>/dev/null)
[ -n "$size" ] || fail "the saved slide is not a picture"
for _ in $(seq 1 50); do
  [ -z "$(xdotool search --onlyvisible --name '^Print$' 2>/dev/null)" ] && break
  sleep 0.2
done
[ -z "$(xdotool search --onlyvisible --name '^Print$' 2>/dev/null)" ] || fail "the dialog stayed open"
alive || fail "the player ended after saving"
xdotool windowfocus "$win" 2>/dev/null
xh_escape_and_wait "$pid" || fail "the player did not end on Escape"
[ "$XH_RC" -eq 0 ] || fail "the player exited with $XH_RC"
echo "printed dialog shown, slide saved as $(basename "$saved") ($size); screenshots in $out"
exit 0
