#!/bin/bash
# Saving a slide in the real player when the desktop portal takes the
# request and never answers (kavtestportal, on a private bus), in an X
# server (run under xvfb-run). With MODE "mute" the portal does not even
# reply to the call. While the portal has the request the player's window
# keeps painting (the print dialog moved away leaves the slide drawn where
# it was). Esc at the print dialog, Esc at the player's window and the
# window manager's close of the player's window each call the request off
# at once (the portal is told Close, long before the call's 30 s are up)
# and the print dialog closes without saving, the player playing on. A
# mute portal's call, once its time is up, is not followed by a save
# nobody chose: with no zenity or kdialog the player says that the slide
# cannot be saved. Nothing is ever written; Esc then ends the player with 0.
# Usage: kavplay_save_portal_e2e.sh KAVPLAY DEMO_FOLDER OUTDIR KAVTESTPORTAL KAVXCLOSE [MODE]
set -u
player=$1
demo=$2
out=$3
testportal=$4
xclose=$5
mode=${6:-silent}
# Well under the portal call's 30 s, which is all that ever ended the wait
# when the player did not look at its windows meanwhile.
at_once=20
[ -f "$demo/Project.kav" ] || { echo "no demo project at $demo: skipped"; exit 77; }
for tool in xdotool import convert compare python3; do command -v $tool >/dev/null || exit 77; done
source "$(dirname "$0")/print_e2e_lib.sh"
pe_prepare_show "$demo" can-restore long-slide7
if [ "$mode" = mute ]; then pe_start_helper portal "$testportal" mute; else pe_start_helper portal "$testportal"; fi
# The portal is the only chooser: no zenity or kdialog on PATH.
pe_start_player DBUS_SESSION_BUS_ADDRESS="$helper" -- -time 44500 -log
pe_drawn_and_paused
find_dialog() { pe_find_title '^Print$'; }
no_dialog() { ! find_dialog; }
portal_said() { grep -qx "$1" "$out/portal.out"; }
nothing_saved() { [ -z "$(ls -A "$out/home/Pictures")" ] || fail "something was saved: $(ls -A "$out/home/Pictures")"; }
# Save (the second button of the first row) until the portal has request N.
save() {
  pe_click_in "$dialog" 73 26
  xh_until 60 portal_said "call $1" || fail "Save never reached the portal"
  # The portal never answers: nothing ends the wait by itself.
  sleep 2
  portal_said "closed $1" && fail "the request was closed before anyone gave up"
  find_dialog || fail "the dialog went while the portal had the request"
}
# The player paints while the chooser waits: the print dialog moved aside
# uncovers part of the player's window, which must show the slide again.
paints_while_waiting() {
  pe_uncovered_paints $at_once || fail "the player's window was not painted while the portal had the request (see $out/not-painted.png)"
}
# Calls request N off by "$@" (a command) and checks that the wait ended.
give_up() {
  local n=$1 how=$2
  shift 2
  "$@"
  xh_until $at_once portal_said "closed $n" || fail "$how did not call the portal's request off within $at_once s"
  xh_until $at_once no_dialog || fail "the dialog stayed after $how"
  alive || fail "the player ended on $how at the chooser"
  nothing_saved
}
esc_at() { xdotool windowfocus "$1" 2>/dev/null; xdotool key Escape; }

pe_open_dialog
save 1
paints_while_waiting
give_up 1 "Esc at the print dialog" esc_at "$dialog"
pe_open_dialog
save 2
give_up 2 "Esc at the player's window" esc_at "$win"
pe_open_dialog
save 3
give_up 3 "the close request" "$xclose" "$win"
sleep 1
alive || fail "the close request at the chooser ended the player"
if [ "$mode" = mute ]; then
  # Nobody gives up: the call's time runs out, and with no chooser left
  # that asks, the person is told that the slide cannot be saved.
  pe_open_dialog
  save 4
  xh_until 120 grep -q "The slide cannot be saved: The desktop portal did not take" "$out/kavplay.out" ||
    fail "no word that the slide cannot be saved after the portal's time ran out"
  if xh_until 30 pe_find_title '^Slideshow Error$'; then
    xdotool windowfocus "$found" 2>/dev/null
    xdotool key Return
    xh_until 30 pe_no_title '^Slideshow Error$' || fail "the error box stayed after Return"
  fi
  xh_until 30 no_dialog || fail "the dialog stayed after the error"
  portal_said "closed 4" || fail "the request whose time ran out was not closed"
  nothing_saved
fi
xdotool windowfocus "$win" 2>/dev/null
xh_escape_and_wait "$pid" || fail "the player did not end on Escape"
[ "$XH_RC" -eq 0 ] || fail "the player exited with $XH_RC"
nothing_saved
echo "a $mode portal: the window painted meanwhile; Esc at the dialog and at the player and a close request called it off at once; nothing saved"
exit 0
