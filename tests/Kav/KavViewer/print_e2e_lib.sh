# Shared set-up of the player scripts around the print dialog
# (kavplay_print_e2e.sh, kavplay_print_silent_e2e.sh,
# kavplay_change_printer_e2e.sh, kavplay_save_portal_e2e.sh,
# kavplay_save_chooser_e2e.sh), sourced by them after their arguments are
# read. It also sources the X test harness (xvfb_harness.sh).
#
# The functions work on these shell variables, which the scripts read:
#   out     the run's folder (the show is copied to $out/show; the player
#           gets $out/home as HOME and $out/bin as its whole PATH)
#   pid     the player's process, win its window
#   dialog  the print dialog's window (pe_open_dialog)
#   found   the window pe_find_title found
#   helper  the first line a helper wrote after "ready " (pe_start_helper)

source "$(dirname "${BASH_SOURCE[0]}")/../../xvfb/xvfb_harness.sh"

pid=
win=
dialog=
found=
helper=

# Ends the run as failed: the message, then the end of the player's output
# (and what the fake portal said, where one ran).
fail() {
  echo "FAIL: $*"
  [ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null
  tail -n 40 "$out/kavplay.out" 2>/dev/null
  [ -f "$out/portal.out" ] && cat "$out/portal.out"
  exit 1
}

alive() { [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; }

# pe_prepare_show DEMO [can-restore] [long-slide7]
# Makes $out afresh with the demo project copied to $out/show, its slide-7
# button turned into a print button. can-restore allows saving;
# long-slide7 makes slide 7 (from 42 s on) last an hour, so that however
# slowly a loaded machine gets to the pause, the show is still on it.
pe_prepare_show() {
  local demo=$1
  shift
  rm -rf "$out"
  mkdir -p "$out/home/Pictures" "$out/bin"
  cp -r "$demo" "$out/show"
  python3 - "$out/show/Project.kav" "$@" <<'PY'
import re, sys
p, opts = sys.argv[1], sys.argv[2:]
s = open(p, 'rb').read().decode('utf-8-sig')
nl = '\r\n' if '\r\n' in s else '\n'
if 'can-restore' in opts:
    s = s.replace('[Main]' + nl, '[Main]' + nl + 'CanRestore=1' + nl, 1)
s = s.replace('Action=nextslide', 'Action=print')
if 'long-slide7' in opts:
    s = re.sub(r'opt_synchpos7=\d+', 'opt_synchpos7=3642000', s)
    s = re.sub(r'opt_synchpos8=\d+', 'opt_synchpos8=3649000', s)
open(p, 'wb').write(b'\xef\xbb\xbf' + s.encode('utf-8'))
PY
}

# pe_start_helper NAME COMMAND [ARG...]
# Starts a fake service of the tests (kavtestcups, kavtestportal) with its
# output in $out/NAME.out and waits up to 60 s for its "ready ..." line,
# whose rest goes to $helper. A helper that says "missing ..." skips the
# test (77); one that says nothing fails it. The helpers are ended when the
# script ends.
pe_helpers=
pe_end_helpers() {
  local p
  for p in $pe_helpers; do kill -TERM "$p" 2>/dev/null; wait "$p" 2>/dev/null; done
}
pe_start_helper() {
  local name=$1 log="$out/$1.out" helper_pid
  shift
  "$@" >"$log" 2>&1 &
  helper_pid=$!
  for _ in $(seq 1 600); do grep -q '^ready \|^missing ' "$log" && break; sleep 0.1; done
  if grep -q '^missing ' "$log"; then cat "$log"; kill "$helper_pid" 2>/dev/null; exit 77; fi
  helper=$(sed -n 's/^ready //p' "$log" | head -n 1)
  [ -n "$helper" ] || { echo "FAIL: no $name"; cat "$log"; kill "$helper_pid"; exit 1; }
  pe_helpers="$pe_helpers $helper_pid"
  trap pe_end_helpers EXIT
}

# pe_start_cups [KAVTESTCUPS_ARG...]
# The printer: a scheduler of the test's own ($testcups), its address in
# $cups_server and its folder (where pages land) in $cups_dir.
pe_start_cups() {
  pe_start_helper cups "$testcups" "$@"
  read -r cups_server cups_dir <<<"$helper"
  [ -n "${cups_dir:-}" ] || fail "no scheduler: $helper"
}

# pe_start_player [ENV=VALUE...] -- [ARG...]
# Starts the player ($player) on $out/show with the private HOME, a PATH
# of $out/bin alone (no zenity or kdialog unless a test puts one there), no
# session bus, and the test scheduler as its CUPS (a socket that is not
# there when none was started); ENV=VALUE settings come on top. Its output
# goes to $out/kavplay.out, its process to $pid.
pe_start_player() {
  local -a extra=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do extra+=("$1"); shift; done
  [ $# -gt 0 ] && shift
  local -a cups=("CUPS_SERVER=$out/no-cups.sock")
  [ -n "${cups_dir:-}" ] && cups=("CUPS_SERVER=$cups_server" "CUPS_SERVERROOT=$cups_dir")
  env -u DBUS_SESSION_BUS_ADDRESS HOME="$out/home" XDG_CONFIG_HOME="$out/home/.config" PATH="$out/bin" \
    "${cups[@]}" "${extra[@]}" "$player" "$out/show" "$@" >"$out/kavplay.out" 2>&1 &
  pid=$!
}

# pe_drawn_and_paused
# Waits for the player's window ($win) and for the show to be drawn (more
# than one colour on screen) before keys go to it, then pauses it with
# Space and waits until the screen stands still. Started 2.5 s into slide 7
# (-time 44500: its transition is over, the button takes clicks), the show
# then stays on slide 7.
pe_drawn_and_paused() {
  win=$(xh_find_window "$pid" 60)
  [ -n "$win" ] || fail "no window of the player"
  xh_until 60 pe_drawn || fail "the show was never drawn"
  xdotool windowfocus --sync "$win" 2>/dev/null || xdotool windowfocus "$win"
  xdotool key space
  xh_wait_still "$out/slide7" 60 || fail "the show did not pause"
}
# Judged inside the player's window alone: under a window manager its frame
# and title bar make the screen more than one colour before anything is drawn.
pe_drawn() {
  local X Y WIDTH HEIGHT
  pe_geometry "$win"
  import -window root "$out/start.png" 2>/dev/null || return 1
  awk -v s="$(convert "$out/start.png" -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage \
    -format '%[fx:standard_deviation]' info:)" 'BEGIN { exit !(s > 0.05) }'
}

# pe_find_title REGEX: true with the first visible window whose title
# matches in $found.
pe_find_title() {
  found=$(xh_search_title "$1" | head -n 1)
  [ -n "$found" ]
}
pe_no_title() { ! pe_find_title "$1"; }

# pe_open_dialog
# Clicks the print button (in the middle of the slide's lower part) until
# the print dialog is there, its window in $dialog. The click goes again
# while no dialog came: on a loaded machine the player may take the press
# before it has seen the pointer over the button.
pe_open_dialog() {
  local X Y WIDTH HEIGHT
  pe_geometry "$win"
  dialog=
  local end=$((SECONDS + 60)) i
  while [ "$SECONDS" -le "$end" ]; do
    alive || fail "the player ended before the dialog opened"
    for i in 1 0; do
      xdotool mousemove $((X + WIDTH / 2 + i)) $((Y + HEIGHT * 71 / 100))
      sleep 0.5
    done
    xdotool click 1
    xh_until 15 pe_find_title '^Print$' && { dialog=$found; return 0; }
  done
  fail "no print dialog after the click"
}

# pe_uncovered_paints SECS
# Moves the print dialog ($dialog) to the screen's corner and waits up to
# SECS for the part of the player's window it uncovered to show what it
# showed when the show was paused ($out/slide7.png); false (the screen in
# $out/not-painted.png) when it does not.
pe_uncovered_paints() {
  local X Y WIDTH HEIGHT
  pe_geometry "$dialog"
  local was="${WIDTH}x${HEIGHT}+${X}+${Y}"
  xdotool windowmove "$dialog" 40 40
  xh_until "$1" pe_shows_the_slide "$was" && return 0
  cp "$out/now.png" "$out/not-painted.png"
  return 1
}
pe_shows_the_slide() {
  import -window root "$out/now.png" 2>/dev/null || return 1
  local differ
  convert "$out/slide7.png" -crop "$1" +repage "$out/was.png" &&
    convert "$out/now.png" -crop "$1" +repage "$out/is.png" || return 1
  differ=$(compare -metric AE -fuzz 8% "$out/was.png" "$out/is.png" null: 2>&1 | cut -d' ' -f1)
  [ "${differ:-1}" -le 50 ] 2>/dev/null
}

# pe_geometry WINDOW: the window's place on the screen and size in X, Y,
# WIDTH and HEIGHT (xwininfo's absolute place: under a reparenting window
# manager xdotool's is off by the frame's title).
pe_geometry() {
  eval "$(xwininfo -id "$1" | awk '/Absolute upper-left X:/ { print "X=" $4 } /Absolute upper-left Y:/ { print "Y=" $4 }
                                  /^  Width:/ { print "WIDTH=" $2 } /^  Height:/ { print "HEIGHT=" $2 }')"
}

# pe_click_in WINDOW PX PY: a click at a share of the window's width and
# height (percent), the pointer resting 0.3 s before it.
pe_click_in() {
  local X Y WIDTH HEIGHT
  pe_geometry "$1"
  xdotool mousemove $((X + WIDTH * $2 / 100)) $((Y + HEIGHT * $3 / 100))
  sleep 0.3
  xdotool click 1
}
