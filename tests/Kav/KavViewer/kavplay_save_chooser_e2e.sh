#!/bin/bash
# Saving a slide through zenity in the real player, in an X server (run
# under xvfb-run): the demo project with its slide-7 button turned into a
# print button and saving allowed, zenity the only chooser on PATH (through
# a wrapper that notes each start and its arguments). Save opens one zenity
# tied to a window of the player's (--attach, --modal); Return pressed at
# the print dialog meanwhile opens no second one; Return in zenity saves
# one complete picture under the proposed name. A second Save's zenity is
# ended by Esc at the player's window, and nothing more is saved.
# Usage: kavplay_save_chooser_e2e.sh KAVPLAY DEMO_FOLDER OUTDIR
set -u
player=$1
demo=$2
out=$3
[ -f "$demo/Project.kav" ] || { echo "no demo project at $demo: skipped"; exit 77; }
for tool in xdotool identify import convert python3; do command -v $tool >/dev/null || exit 77; done
zenity=$(command -v zenity) || { echo "no zenity: skipped"; exit 77; }
source "$(dirname "$0")/print_e2e_lib.sh"
pe_prepare_show "$demo" can-restore long-slide7
# zenity through a wrapper that notes every start, one line each.
cat >"$out/bin/zenity" <<EOF
#!/bin/sh
echo "\$*" >>"$out/zenity.log"
exec "$zenity" "\$@"
EOF
chmod +x "$out/bin/zenity"
: >"$out/zenity.log"
# No portal (no session bus), no kdialog: zenity is the chooser.
pe_start_player -- -time 44500
starts() { wc -l <"$out/zenity.log"; }
zenity_window() { xdotool search --onlyvisible --class zenity 2>/dev/null | head -1; }
zenity_shown() { zen=$(zenity_window); [ -n "$zen" ]; }
pe_drawn_and_paused
pe_open_dialog
# Save: the second button of the first row.
pe_click_in "$dialog" 73 26
xh_until 60 zenity_shown || fail "no zenity after Save"
[ "$(starts)" -eq 1 ] || fail "$(starts) zenity started for one Save"
grep -q -- '--modal' "$out/zenity.log" || fail "zenity not modal: $(cat "$out/zenity.log")"
att=$(sed -n 's/.*--attach=\([0-9]*\) .*/\1/p' "$out/zenity.log")
xdotool search --pid "$pid" 2>/dev/null | grep -qx "${att:-none}" || fail "zenity not attached to a window of the player: $(cat "$out/zenity.log")"
# Return at the print dialog while its chooser is open: each once opened
# another zenity. The print dialog no longer keeps the focus (zenity takes
# it back), so each Return reaches either the disabled print dialog, which
# ignores it, or zenity, which takes the proposed name (as below).
for _ in 1 2 3; do
  xdotool windowfocus "$dialog" 2>/dev/null
  xdotool key Return
  sleep 0.3
done
# Nothing to wait for when the keys are ignored: a second zenity came
# within a second or two when they were not.
for _ in $(seq 1 25); do
  [ "$(starts)" -eq 1 ] || fail "keys at the print dialog started $(starts) zenity"
  sleep 0.2
done
alive || fail "the player ended while the chooser was open"
# Return in zenity takes the proposed name.
for _ in $(seq 1 20); do
  [ -z "$(zenity_window)" ] && break
  xdotool windowfocus --sync "$zen" 2>/dev/null
  xdotool key --window "$zen" Return
  for _ in $(seq 1 25); do
    [ -z "$(zenity_window)" ] && break
    sleep 0.2
  done
done
[ -z "$(zenity_window)" ] || fail "zenity did not close on Return"
# The dialog closes once the file is written.
for _ in $(seq 1 100); do
  [ -z "$(xh_search_title '^Print$')" ] && break
  sleep 0.2
done
[ -z "$(xh_search_title '^Print$')" ] || fail "the dialog stayed open after saving"
[ "$(starts)" -eq 1 ] || fail "$(starts) zenity started for one Save"
saved=$(ls "$out/home/Pictures/")
[ "$saved" = "Slide7.bmp" ] || fail "saved: '$saved' (one Slide7.bmp expected)"
size=$(identify -format '%w %h' "$out/home/Pictures/Slide7.bmp" 2>/dev/null)
[ -n "$size" ] || fail "the saved slide is not a picture"
alive || fail "the player ended after saving"
# Esc at the player's window while zenity is open ends zenity at once and
# saves nothing more.
pe_open_dialog
pe_click_in "$dialog" 73 26
xh_until 60 zenity_shown || fail "no zenity after the second Save"
xdotool windowfocus "$win" 2>/dev/null
xdotool key Escape
no_zenity() { [ -z "$(zenity_window)" ]; }
xh_until 20 no_zenity || fail "Esc at the player's window did not end zenity"
xh_until 20 pe_no_title '^Print$' || fail "the dialog stayed after Esc at the player's window"
[ "$(ls "$out/home/Pictures/")" = "Slide7.bmp" ] || fail "saved after Esc: $(ls "$out/home/Pictures/")"
alive || fail "the player ended on Esc at the chooser"
xdotool windowfocus "$win" 2>/dev/null
xh_escape_and_wait "$pid" || fail "the player did not end on Escape"
[ "$XH_RC" -eq 0 ] || fail "the player exited with $XH_RC"
echo "one zenity for one Save with keys pressed meanwhile; saved Slide7.bmp ($size)"
exit 0
