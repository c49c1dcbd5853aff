#!/bin/bash
# The print dialog in the real player against a print scheduler that takes
# connections and answers one byte every 2 s, a reply that never ends
# (kavtestcups --trickle), in an X server (run under xvfb-run). Change
# Printer, then Print, each end within their few seconds in all (bounded
# here generously for a loaded machine under ASan) with the error box that
# says the print system did not answer; the player then goes on and ends
# on Esc with 0.
# Usage: kavplay_print_silent_e2e.sh KAVPLAY DEMO_FOLDER OUTDIR KAVTESTCUPS
set -u
player=$1
demo=$2
out=$3
testcups=$4
# The request's deadline is 6 s; the rest is room for a loaded machine.
bound=20
[ -f "$demo/Project.kav" ] || { echo "no demo project at $demo: skipped"; exit 77; }
for tool in xdotool xwininfo import convert python3; do command -v $tool >/dev/null || exit 77; done
rm -rf "$out"
mkdir -p "$out/home/Pictures" "$out/bin"
cp -r "$demo" "$out/show"
python3 - "$out/show/Project.kav" <<'PY'
import re, sys
p = sys.argv[1]
s = open(p, 'rb').read().decode('utf-8-sig')
s = s.replace('Action=nextslide', 'Action=print')
s = re.sub(r'opt_synchpos7=\d+', 'opt_synchpos7=3642000', s)
s = re.sub(r'opt_synchpos8=\d+', 'opt_synchpos8=3649000', s)
open(p, 'wb').write(b'\xef\xbb\xbf' + s.encode('utf-8'))
PY
"$testcups" --trickle 2000 >"$out/cups.out" 2>&1 &
cups_pid=$!
for _ in $(seq 1 300); do grep -q '^ready ' "$out/cups.out" && break; sleep 0.1; done
read -r _ cups_server cups_dir < <(grep '^ready ' "$out/cups.out")
[ -n "${cups_dir:-}" ] || { echo "FAIL: no fake scheduler"; cat "$out/cups.out"; kill "$cups_pid"; exit 1; }
trap 'kill -TERM "$cups_pid" 2>/dev/null; wait "$cups_pid" 2>/dev/null' EXIT
env -u DBUS_SESSION_BUS_ADDRESS HOME="$out/home" XDG_CONFIG_HOME="$out/home/.config" PATH="$out/bin" \
  CUPS_SERVER="$cups_server" CUPS_SERVERROOT="$cups_dir" \
  "$player" "$out/show" -time 44500 -log >"$out/kavplay.out" 2>&1 &
pid=$!
fail() {
  echo "FAIL: $*"
  kill -KILL "$pid" 2>/dev/null
  tail -n 40 "$out/kavplay.out"
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
find_named() {
  found=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1)
  [ -n "$found" ]
}
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
    xh_until 15 find_named '^Print$' && { dialog=$found; return 0; }
  done
  fail "no print dialog after the click"
}
# The error box: "ID WxH+X+Y" of the window of that title.
find_box() {
  local line
  line=$(xwininfo -root -tree 2>/dev/null | grep '"Slideshow Error"' | head -1)
  [ -n "$line" ] || return 1
  read -r box_w box_h box_x box_y < <(echo "$line" | sed -n 's/.* \([0-9]*\)x\([0-9]*\)+\([0-9-]*\)+\([0-9-]*\) .*/\1 \2 \3 \4/p')
  [ -n "${box_y:-}" ]
}
no_box() { ! find_box; }
said() { [ "$(grep -c 'Slideshow Error: The print system did not answer in time' "$out/kavplay.out")" -ge "$1" ]; }
# A request: the click at a share of the dialog, then the error within the
# bound (in the log, and as a box or, where X gives none, on stderr);
# Return takes the box away.
request() {
  local what=$1 px=$2 py=$3 n=$4 start
  eval "$(xdotool getwindowgeometry --shell "$dialog")"
  xdotool mousemove $((X + WIDTH * px / 100)) $((Y + HEIGHT * py / 100))
  sleep 0.3
  start=$(date +%s.%N)
  xdotool click 1
  xh_until $((bound + 30)) said "$n" || fail "$what: no error after $((bound + 30)) s"
  took=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }')
  awk -v t="$took" -v b="$bound" 'BEGIN { exit !(t < b) }' || fail "$what took $took s (bound $bound s)"
  alive || fail "the player ended at $what"
  # The box (drawn by a child of the player, found by its title) is modal:
  # its OK goes before the next request. Where X gives none, the error went
  # to stderr instead.
  if xh_until 30 find_box; then
    import -window root "$out/error-$n.png"
    xdotool mousemove $((box_x + box_w / 2)) $((box_y + box_h * 72 / 100))
    sleep 0.3
    xdotool click 1
    xh_until 30 no_box || fail "the error box stayed after OK"
  fi
  echo "$what: error after $took s"
}
open_dialog
# Change Printer (second row, left), then Print (first row, left).
request "Change Printer" 26 71 1
find_named '^Print$' || fail "the print dialog went after Change Printer's error"
request "Print" 27 26 2
no_dialog() { ! find_named '^Print$'; }
xh_until 30 no_dialog || fail "the dialog stayed open after Print"
xdotool windowfocus "$win" 2>/dev/null
xh_escape_and_wait "$pid" || fail "the player did not end on Escape"
[ "$XH_RC" -eq 0 ] || fail "the player exited with $XH_RC"
echo "both requests ended within $bound s with their error; shots in $out"
exit 0
