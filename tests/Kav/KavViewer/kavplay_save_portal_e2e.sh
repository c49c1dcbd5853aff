#!/bin/bash
# Saving a slide in the real player when the desktop portal takes the
# request and never answers (kavtestportal, on a private bus), in an X
# server (run under xvfb-run). Save asks the portal; Esc at the player's
# windows then calls the request off (the portal is told Close) and the
# print dialog closes without saving; a second Save is called off by the
# window manager's close of the player's window, which leaves the player
# playing. Esc then ends it with 0.
# Usage: kavplay_save_portal_e2e.sh KAVPLAY DEMO_FOLDER OUTDIR KAVTESTPORTAL KAVXCLOSE
set -u
player=$1
demo=$2
out=$3
testportal=$4
xclose=$5
[ -f "$demo/Project.kav" ] || { echo "no demo project at $demo: skipped"; exit 77; }
for tool in xdotool import convert python3; do command -v $tool >/dev/null || exit 77; done
source "$(dirname "$0")/print_e2e_lib.sh"
pe_prepare_show "$demo" can-restore long-slide7
pe_start_helper portal "$testportal"
# The portal is the only chooser: no zenity or kdialog on PATH.
pe_start_player DBUS_SESSION_BUS_ADDRESS="$helper" -- -time 44500
pe_drawn_and_paused
find_dialog() { pe_find_title '^Print$'; }
no_dialog() { ! find_dialog; }
portal_said() { grep -qx "$1" "$out/portal.out"; }
# Save (the second button of the first row) until the portal has request N.
save() {
  pe_click_in "$dialog" 73 26
  xh_until 60 portal_said "call $1" || fail "Save never reached the portal"
  # The portal never answers: nothing ends the wait by itself.
  sleep 2
  portal_said "closed $1" && fail "the request was closed before anyone gave up"
  find_dialog || fail "the dialog went while the portal had the request"
}
pe_open_dialog
save 1
xdotool windowfocus "$dialog" 2>/dev/null
xdotool key Escape
xh_until 30 portal_said "closed 1" || fail "Esc did not call the portal's request off"
xh_until 30 no_dialog || fail "the dialog stayed after Esc"
alive || fail "the player ended on Esc at the chooser"
pe_open_dialog
save 2
"$xclose" "$win"
xh_until 30 portal_said "closed 2" || fail "the close request did not call the portal's request off"
xh_until 30 no_dialog || fail "the dialog stayed after the close request"
sleep 1
alive || fail "the close request at the chooser ended the player"
[ -z "$(ls "$out/home/Pictures")" ] || fail "something was saved: $(ls "$out/home/Pictures")"
xdotool windowfocus "$win" 2>/dev/null
xh_escape_and_wait "$pid" || fail "the player did not end on Escape"
[ "$XH_RC" -eq 0 ] || fail "the player exited with $XH_RC"
echo "a silent portal's request was called off by Esc and by a close request; nothing saved"
exit 0
