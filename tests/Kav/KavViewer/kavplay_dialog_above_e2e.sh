#!/bin/bash
# The player's own dialogs stay above its window, in an X server without a
# window manager (run under xvfb-run):
# - the print dialog is transient for the player's window (WM_TRANSIENT_FOR),
#   and when the player's window gets the focus (a click-to-focus window
#   manager's answer to a click) the dialog stays above it and takes the
#   focus, so Esc there closes it;
# - a desktop portal that takes the save request and then leaves the bus
#   (kavtestportal leave) is given up at once: with no other chooser the
#   player says that the slide cannot be saved; that box is transient for
#   the print dialog it is shown from, and while it is up the player's
#   window paints (the print dialog moved away leaves the slide drawn where
#   it was).
# With KAV_TEST_WM naming a window manager (openbox, click to focus), the
# same checks run under it, the focus moved by a click on the player's
# window.
# Usage: kavplay_dialog_above_e2e.sh KAVPLAY DEMO_FOLDER OUTDIR KAVTESTPORTAL
set -u
player=$1
demo=$2
out=$3
testportal=$4
[ -f "$demo/Project.kav" ] || { echo "no demo project at $demo: skipped"; exit 77; }
for tool in xdotool xprop xwininfo import convert compare python3; do command -v $tool >/dev/null || exit 77; done
source "$(dirname "$0")/print_e2e_lib.sh"
wm=${KAV_TEST_WM:-}
[ -z "$wm" ] || command -v "$wm" >/dev/null || { echo "no $wm: skipped"; exit 77; }
pe_prepare_show "$demo" can-restore long-slide7
if [ -n "$wm" ]; then
  "$wm" >"$out/wm.out" 2>&1 &
  wm_running() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"; }
  xh_until 30 wm_running || fail "$wm did not start (see $out/wm.out)"
  echo "running under $wm"
fi
pe_start_helper portal "$testportal" leave
pe_start_player DBUS_SESSION_BUS_ADDRESS="$helper" -- -time 44500 -log
pe_drawn_and_paused

# The window WM_TRANSIENT_FOR of window $1 names, in decimal (empty: none).
transient_for() {
  local id
  id=$(xprop -id "$1" WM_TRANSIENT_FOR 2>/dev/null | sed -n 's/.*window id # \(0x[0-9a-fA-F]*\).*/\1/p')
  [ -n "$id" ] && echo $((id))
}
# The root's child that holds window $1 (a window manager's frame, or the
# window itself without one), in decimal.
toplevel() {
  local id=$1 parent root
  root=$(xwininfo -root | sed -n 's/.*Window id: \(0x[0-9a-fA-F]*\).*/\1/p')
  for _ in 1 2 3 4 5 6; do
    parent=$(xwininfo -id "$id" -tree 2>/dev/null | sed -n 's/.*Parent window id: \(0x[0-9a-fA-F]*\).*/\1/p')
    [ -z "$parent" ] || [ $((parent)) -eq $((root)) ] && break
    id=$parent
  done
  echo $((id))
}
# True when window $1 is stacked above window $2 (xwininfo lists the root's
# children top first).
above() {
  local order first a b
  a=$(toplevel "$1")
  b=$(toplevel "$2")
  order=$(xwininfo -root -children | awk '/^ +0x/ { print $1 }' | while read -r id; do echo $((id)); done)
  first=$(echo "$order" | grep -x -m1 -e "$a" -e "$b")
  [ "$first" = "$a" ]
}
focused() { [ "$(xdotool getwindowfocus 2>/dev/null)" = "$1" ]; }
no_dialog() { ! pe_find_title '^Print$'; }

pe_open_dialog
owner=$(transient_for "$dialog")
[ "$owner" = "$win" ] || fail "the print dialog is transient for '${owner:-nothing}', not for the player's window $win"
above "$dialog" "$win" || fail "the print dialog did not open above the player's window"
# The focus moved to the player's window: a click there under a window
# manager; without one, what a click-to-focus window manager does on it.
if [ -n "$wm" ]; then
  pe_click_in "$win" 4 6
else
  xdotool windowfocus "$win"
fi
sleep 2
above "$dialog" "$win" || fail "the player's window was raised over its print dialog"
xh_until 20 focused "$dialog" || fail "the print dialog did not take the focus back from the player's window"
xdotool key Escape
xh_until 20 no_dialog || fail "Esc after the focus went to the player's window did not close the print dialog"
alive || fail "the player ended on Esc at the dialog"
echo "the print dialog is transient for the player's window and stays above it"

# Save, with a portal that takes the request and leaves.
pe_open_dialog
pe_click_in "$dialog" 73 26
xh_until 60 grep -qx "call 1" "$out/portal.out" || fail "Save never reached the portal"
xh_until 30 grep -q "The slide cannot be saved: The desktop portal left the bus" "$out/kavplay.out" ||
  fail "no word that the slide cannot be saved once the portal left"
xh_until 30 pe_find_title '^Slideshow Error$' || fail "no error box"
box=$found
owner=$(transient_for "$box")
[ "$owner" = "$dialog" ] || fail "the error box is transient for '${owner:-nothing}', not for the print dialog $dialog"
echo "a portal that left was given up at once; its error box is transient for the print dialog"
pe_uncovered_paints 20 || fail "the player's window was not painted while the error box was up (see $out/not-painted.png)"
pe_find_title '^Slideshow Error$' || fail "the error box went while the window was checked"
echo "the player's window painted while the error box was up"
xdotool windowfocus "$box" 2>/dev/null
xdotool key Return
xh_until 30 pe_no_title '^Slideshow Error$' || fail "the error box stayed after Return"
xh_until 30 no_dialog || fail "the print dialog stayed after the error"
xdotool windowfocus "$win" 2>/dev/null
xh_escape_and_wait "$pid" || fail "the player did not end on Escape"
[ "$XH_RC" -eq 0 ] || fail "the player exited with $XH_RC"
echo "PASS: dialogs and boxes stay above the player's window; a portal that leaves is given up"
exit 0
