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
rm -rf "$out"
mkdir -p "$out/home/Pictures" "$out/bin"
cp -r "$demo" "$out/show"
python3 - "$out/show/Project.kav" <<'PY'
import re, sys
p = sys.argv[1]
s = open(p, 'rb').read().decode('utf-8-sig')
nl = '\r\n' if '\r\n' in s else '\n'
s = s.replace('[Main]' + nl, '[Main]' + nl + 'CanRestore=1' + nl, 1).replace('Action=nextslide', 'Action=print')
s = re.sub(r'opt_synchpos7=\d+', 'opt_synchpos7=3642000', s)
s = re.sub(r'opt_synchpos8=\d+', 'opt_synchpos8=3649000', s)
open(p, 'wb').write(b'\xef\xbb\xbf' + s.encode('utf-8'))
PY
"$testportal" >"$out/portal.out" 2>&1 &
portal_pid=$!
for _ in $(seq 1 300); do grep -q '^ready \|^missing ' "$out/portal.out" && break; sleep 0.1; done
if grep -q '^missing ' "$out/portal.out"; then cat "$out/portal.out"; exit 77; fi
bus=$(sed -n 's/^ready //p' "$out/portal.out")
[ -n "$bus" ] || { echo "FAIL: no portal"; cat "$out/portal.out"; kill "$portal_pid"; exit 1; }
trap 'kill -TERM "$portal_pid" 2>/dev/null; wait "$portal_pid" 2>/dev/null' EXIT
# The portal is the only chooser: no zenity or kdialog on PATH.
env DBUS_SESSION_BUS_ADDRESS="$bus" HOME="$out/home" XDG_CONFIG_HOME="$out/home/.config" PATH="$out/bin" \
  CUPS_SERVER="$out/no-cups.sock" "$player" "$out/show" -time 44500 >"$out/kavplay.out" 2>&1 &
pid=$!
fail() {
  echo "FAIL: $*"
  kill -KILL "$pid" 2>/dev/null
  tail -n 40 "$out/kavplay.out"
  cat "$out/portal.out"
  exit 1
}
alive() { kill -0 "$pid" 2>/dev/null; }
source "$(dirname "$0")/../../xvfb/xvfb_harness.sh"
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
find_dialog() {
  dialog=$(xdotool search --onlyvisible --name '^Print$' 2>/dev/null | head -1)
  [ -n "$dialog" ]
}
no_dialog() { ! find_dialog; }
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
    xh_until 15 find_dialog && return 0
  done
  fail "no print dialog after the click"
}
portal_said() { grep -qx "$1" "$out/portal.out"; }
# Save (the second button of the first row) until the portal has request N.
save() {
  eval "$(xdotool getwindowgeometry --shell "$dialog")"
  xdotool mousemove $((X + WIDTH * 73 / 100)) $((Y + HEIGHT * 26 / 100))
  sleep 0.3
  xdotool click 1
  xh_until 60 portal_said "call $1" || fail "Save never reached the portal"
  # The portal never answers: nothing ends the wait by itself.
  sleep 2
  portal_said "closed $1" && fail "the request was closed before anyone gave up"
  find_dialog || fail "the dialog went while the portal had the request"
}
open_dialog
save 1
xdotool windowfocus "$dialog" 2>/dev/null
xdotool key Escape
xh_until 30 portal_said "closed 1" || fail "Esc did not call the portal's request off"
xh_until 30 no_dialog || fail "the dialog stayed after Esc"
alive || fail "the player ended on Esc at the chooser"
open_dialog
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
