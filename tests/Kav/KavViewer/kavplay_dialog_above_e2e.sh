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
#   it was);
# - Change Printer's Printer dialog over the print dialog: when the focus
#   moves to the player's window, both stay above it, the Printer dialog
#   takes the focus, and Esc closes it alone, then the print dialog;
# - zenity's file chooser (put on PATH once the portal has left): it is
#   made transient for the print dialog and takes the focus as it shows;
#   when the focus moves to the player's window it and the print dialog
#   stay above it, it takes the focus back, and Esc there cancels it.
# With KAV_TEST_WM naming a window manager (openbox, click to focus), the
# same checks run under it, the focus moved by a click on the player's
# window.
# Usage: kavplay_dialog_above_e2e.sh KAVPLAY DEMO_FOLDER OUTDIR KAVTESTPORTAL KAVTESTCUPS
set -u
player=$1
demo=$2
out=$3
testportal=$4
testcups=$5
[ -f "$demo/Project.kav" ] || { echo "no demo project at $demo: skipped"; exit 77; }
for tool in xdotool xprop xwininfo xmessage import convert compare python3; do command -v $tool >/dev/null || exit 77; done
zenity=$(command -v zenity) || { echo "no zenity: skipped"; exit 77; }
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
pe_start_cups
pe_start_helper portal "$testportal" leave
pe_start_player DBUS_SESSION_BUS_ADDRESS="$helper" -- -time 44500 -log
pe_drawn_and_paused

# The window WM_TRANSIENT_FOR of window $1 names, in decimal (empty: none).
transient_for() {
  local id
  id=$(xprop -id "$1" WM_TRANSIENT_FOR 2>/dev/null | sed -n 's/.*window id # \(0x[0-9a-fA-F]*\).*/\1/p')
  [ -n "$id" ] && echo $((id))
}
# The root's children in decimal, top first (as xwininfo lists them).
stacking() { xwininfo -root -children | awk '/^ +0x/ { print $1 }' | while read -r id; do echo $((id)); done; }
# True when root child $1 comes before root child $2 in stacking list $3.
first_of() { [ "$(echo "$3" | grep -x -m1 -e "$1" -e "$2")" = "$1" ]; }
# True when window $1 is stacked above window $2.
above() { first_of "$(xh_toplevel "$1")" "$(xh_toplevel "$2")" "$(stacking)"; }
focused() { [ "$(xdotool getwindowfocus 2>/dev/null)" = "$1" ]; }
no_dialog() { ! pe_find_title '^Print$'; }
# Windows $2 and $3 stay above the player's window: above it now and at
# every look for 2 s ($1 names them in the failure).
stays_above() {
  local end=$((SECONDS + 2)) player a b order
  player=$(xh_toplevel "$win")
  a=$(xh_toplevel "$2")
  b=$(xh_toplevel "$3")
  while :; do
    order=$(stacking)
    first_of "$a" "$player" "$order" && first_of "$b" "$player" "$order" || fail "$1 went under the player's window"
    [ "$SECONDS" -lt "$end" ] || return 0
    sleep 0.2
  done
}
# Moves the focus to the player's window: without a window manager, as a
# click-to-focus window manager does on a click; under one, by a click,
# once the window manager has taken it (the click raises the player's
# window over another program's window, xmessage's, that was above it).
marker=
move_focus_to_player() {
  if [ -z "$wm" ]; then
    xdotool windowfocus "$win"
    return
  fi
  if [ -z "$marker" ]; then
    xmessage -geometry 160x40+0+0 -title kavmarker marker >/dev/null 2>&1 &
    marker_pid=$!
    xh_until 30 pe_find_title '^kavmarker$' || fail "no xmessage window"
    marker=$found
  fi
  xdotool windowraise "$marker"
  xh_until 30 above "$marker" "$win" || fail "the other program's window could not be raised"
  pe_click_in "$win" 4 6
  xh_until 30 above "$win" "$marker" || fail "$wm did not take the click on the player's window"
}

pe_open_dialog
owner=$(transient_for "$dialog")
[ "$owner" = "$win" ] || fail "the print dialog is transient for '${owner:-nothing}', not for the player's window $win"
above "$dialog" "$win" || fail "the print dialog did not open above the player's window"
move_focus_to_player
xh_until 20 focused "$dialog" || fail "the print dialog did not take the focus back from the player's window"
stays_above "the print dialog" "$dialog" "$dialog"
echo "the print dialog is transient for the player's window and stays above it"

# Change Printer: the Printer dialog over the print dialog.
pe_click_in "$dialog" 26 71
xh_until 60 pe_find_title '^Printer$' || fail "no Printer dialog after Change Printer"
choice=$found
owner=$(transient_for "$choice")
[ "$owner" = "$dialog" ] || fail "the Printer dialog is transient for '${owner:-nothing}', not for the print dialog $dialog"
move_focus_to_player
xh_until 30 focused "$choice" ||
  fail "the Printer dialog did not take the focus back from the player's window (it is at $(xdotool getwindowfocus))"
stays_above "the Printer dialog or the print dialog under it" "$choice" "$dialog"
xdotool key Escape
xh_until 20 pe_no_title '^Printer$' || fail "Esc after the focus went to the player's window did not close the Printer dialog"
pe_find_title '^Print$' || fail "the print dialog went with the Printer dialog"
xh_until 20 focused "$dialog" || fail "the print dialog did not take the focus once the Printer dialog closed"
xdotool key Escape
xh_until 20 no_dialog || fail "Esc did not close the print dialog after the Printer dialog"
alive || fail "the player ended on Esc at the dialogs"
echo "the Printer dialog and the print dialog stay above the player's window; Esc reaches them"

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

# Save through zenity, now the only chooser (the portal has left the bus),
# through a wrapper that notes each start.
printf '#!/bin/sh\necho "$*" >>"%s/zenity.log"\nexec "%s" "$@"\n' "$out" "$zenity" >"$out/bin/zenity"
chmod +x "$out/bin/zenity"
zenity_window() { xdotool search --onlyvisible --class zenity 2>/dev/null | head -1; }
zenity_shown() { zen=$(zenity_window); [ -n "$zen" ]; }
no_zenity() { [ -z "$(zenity_window)" ]; }
xdotool windowfocus "$win" 2>/dev/null
pe_open_dialog
pe_click_in "$dialog" 73 26
xh_until 60 zenity_shown || fail "no zenity after Save ($(cat "$out/zenity.log" 2>/dev/null))"
owner=
zenity_owned() { owner=$(transient_for "$zen"); [ "$owner" = "$dialog" ]; }
xh_until 20 zenity_owned || fail "zenity is transient for '${owner:-nothing}', not for the print dialog $dialog"
xh_until 20 focused "$zen" || fail "zenity did not take the focus as it showed (it is at $(xdotool getwindowfocus))"
move_focus_to_player
xh_until 30 focused "$zen" ||
  fail "zenity did not take the focus back from the player's window (it is at $(xdotool getwindowfocus))"
stays_above "zenity or the print dialog under it" "$zen" "$dialog"
xdotool key Escape
xh_until 20 no_zenity || fail "Esc after the focus went to the player's window did not close zenity"
xh_until 20 no_dialog || fail "the print dialog stayed after zenity was cancelled"
[ -z "$(ls "$out/home/Pictures/")" ] || fail "saved after Esc: $(ls "$out/home/Pictures/")"
alive || fail "the player ended on Esc at zenity"
echo "zenity is transient for the print dialog, stays above the player's window and takes the keys"
[ -n "$marker" ] && kill "$marker_pid" 2>/dev/null
xdotool windowfocus "$win" 2>/dev/null
xh_escape_and_wait "$pid" || fail "the player did not end on Escape"
[ "$XH_RC" -eq 0 ] || fail "the player exited with $XH_RC"
echo "PASS: dialogs, boxes and the chooser stay above the player's window; a portal that leaves is given up"
exit 0
