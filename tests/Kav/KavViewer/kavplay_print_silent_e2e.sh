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
for tool in xdotool import convert python3; do command -v $tool >/dev/null || exit 77; done
source "$(dirname "$0")/print_e2e_lib.sh"
pe_prepare_show "$demo" long-slide7
pe_start_cups --trickle 2000
pe_start_player -- -time 44500 -log
pe_drawn_and_paused
# The error box, its size and place in box_w, box_h, box_x, box_y.
find_box() {
  local X Y WIDTH HEIGHT SCREEN WINDOW
  pe_find_title '^Slideshow Error$' || return 1
  eval "$(xdotool getwindowgeometry --shell "$found" 2>/dev/null)"
  box_w=${WIDTH:-} box_h=${HEIGHT:-} box_x=${X:-} box_y=${Y:-}
  [ -n "$box_y" ]
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
pe_open_dialog
# Change Printer (second row, left), then Print (first row, left).
request "Change Printer" 26 71 1
pe_find_title '^Print$' || fail "the print dialog went after Change Printer's error"
request "Print" 27 26 2
xh_until 30 pe_no_title '^Print$' || fail "the dialog stayed open after Print"
xdotool windowfocus "$win" 2>/dev/null
xh_escape_and_wait "$pid" || fail "the player did not end on Escape"
[ "$XH_RC" -eq 0 ] || fail "the player exited with $XH_RC"
echo "both requests ended within $bound s with their error; shots in $out"
exit 0
