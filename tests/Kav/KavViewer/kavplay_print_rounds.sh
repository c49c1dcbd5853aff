#!/bin/bash
# The print dialog opened and closed again and again in the real player, in
# an X server without a window manager (run under xvfb-run), while busy
# loops (two per core, KAV_BUSY_PER_CORE) keep every core loaded: the demo
# project with its slide-7 button turned into a print button; slide 7 plays
# on (its photo pans, its logo turns) between the rounds, so frames are
# presented from the engine thread while dialogs come and go. Each round
# clicks the button, waits for the dialog and closes it with Escape.
# The player must live through every round, its memory (RSS) and its open
# descriptors must stay flat from the first fifth of the rounds to the
# end, and with the last dialog closed, Escape must reach the player's
# window without anyone giving it the focus (no window manager does) and end
# the player with 0.
# On a machine so loaded that the rounds take longer than BUDGET seconds
# (200 by default), they stop there once twice the first fifth has run, so
# that the test ends within its time limit; the report says how many ran.
# Usage: kavplay_print_rounds.sh KAVPLAY DEMO_FOLDER OUTDIR [ROUNDS [BUDGET]]
set -u
player=$1
demo=$2
out=$3
rounds=${4:-60}
budget=${5:-200}
[ -f "$demo/Project.kav" ] || { echo "no demo project at $demo: skipped"; exit 77; }
for tool in xdotool python3; do command -v $tool >/dev/null || exit 77; done
rm -rf "$out"
mkdir -p "$out/home/Pictures" "$out/bin"
cp -r "$demo" "$out/show"
python3 - "$out/show/Project.kav" <<'PY'
import re, sys
p = sys.argv[1]
s = open(p, 'rb').read().decode('utf-8-sig')
s = s.replace('Action=nextslide', 'Action=print')
# Slide 7 (from 42 s on) lasts an hour: however long the rounds take, the
# show is still on it, and it moves all the while.
s = re.sub(r'opt_synchpos7=\d+', 'opt_synchpos7=3642000', s)
s = re.sub(r'opt_synchpos8=\d+', 'opt_synchpos8=3649000', s)
open(p, 'wb').write(b'\xef\xbb\xbf' + s.encode('utf-8'))
PY
source "$(dirname "$0")/../../xvfb/xvfb_harness.sh"
trap xh_stop_busy EXIT
# No printer, no chooser: the dialog is only opened and closed.
env -u DBUS_SESSION_BUS_ADDRESS HOME="$out/home" XDG_CONFIG_HOME="$out/home/.config" PATH="$out/bin" \
  CUPS_SERVER="$out/no-cups.sock" "$player" "$out/show" -time 44500 >"$out/kavplay.out" 2>&1 &
pid=$!
fail() {
  echo "FAIL: $*"
  xh_stop_busy
  kill -KILL "$pid" 2>/dev/null
  tail -n 40 "$out/kavplay.out"
  exit 1
}
alive() { kill -0 "$pid" 2>/dev/null; }
win=$(xh_find_window "$pid" 60)
[ -n "$win" ] || fail "no window of the player"
xh_start_busy
# The dialog: a visible window of the player besides its main window.
dialog=""
find_dialog() {
  dialog=$(xdotool search --onlyvisible --pid "$pid" 2>/dev/null | grep -vx "$win" | head -1)
  [ -n "$dialog" ]
}
no_dialog() { ! find_dialog; }
# The button sits in the middle of the slide's lower part. The pointer
# moves onto it once; a click goes again while no dialog came (on a loaded
# machine the player may take the press before it has seen the pointer).
eval "$(xdotool getwindowgeometry --shell "$win")"
xdotool mousemove $((X + WIDTH / 2 + 1)) $((Y + HEIGHT * 71 / 100))
sleep 0.5
xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT * 71 / 100))
open_dialog() {
  local end=$((SECONDS + 60))
  while [ "$SECONDS" -le "$end" ]; do
    alive || return 1
    xdotool click 1
    xh_until 10 find_dialog && return 0
  done
  return 1
}
rss() { awk '/^VmRSS:/ { print $2 }' "/proc/$pid/status" 2>/dev/null; }
fds() { ls "/proc/$pid/fd" 2>/dev/null | wc -l; }
# What the descriptors are, for the report when their count grew.
fd_list() { for f in /proc/$pid/fd/*; do echo "${f##*/} -> $(readlink "$f")"; done 2>/dev/null; }
mark=$(( rounds / 5 > 0 ? rounds / 5 : 1 ))
rss0=0 fds0=0
start=$SECONDS
done_rounds=0
for round in $(seq 1 "$rounds"); do
  if [ "$round" -gt $((2 * mark)) ] && [ $((SECONDS - start)) -ge "$budget" ]; then
    echo "the budget of $budget s was spent after $done_rounds rounds: the rounds end there"
    break
  fi
  open_dialog || fail "round $round: no print dialog after the click (player alive: $(alive && echo yes || echo no))"
  # Without a window manager, the dialog has the focus once it is shown.
  xdotool key Escape
  xh_until 30 no_dialog || {
    alive || fail "round $round: the player ended while the dialog closed"
    fail "round $round: the dialog stayed open after Escape"
  }
  alive || fail "round $round: the player ended after the dialog closed"
  # The most descriptors seen in the first fifth (one may be open for a
  # moment, such as while a dialog starts).
  if [ "$round" -le "$mark" ]; then
    n=$(fds)
    [ "$n" -gt "$fds0" ] && { fds0=$n; fd_list >"$out/fds-early.txt"; }
    [ "$round" -eq "$mark" ] && rss0=$(rss)
  fi
  done_rounds=$round
done
xh_stop_busy
# At the end the fewest of up to ten looks half a second apart: a sound
# stopped by the last dialog goes with its fade, a moment later on a busy
# machine, while what leaks stays.
rss1=$(rss)
fds1=$(fds)
for _ in $(seq 1 9); do
  [ "$fds1" -le "$fds0" ] && [ "$rss1" -le $(( rss0 + rss0 / 10 )) ] && break
  sleep 0.5
  n=$(fds)
  [ "$n" -lt "$fds1" ] && fds1=$n
  n=$(rss)
  [ "$n" -lt "$rss1" ] && rss1=$n
done
echo "$done_rounds rounds in $((SECONDS - start)) s; RSS $rss0 kB after round $mark, $rss1 kB at the end;" \
  "descriptors at most $fds0 up to round $mark, $fds1 at the end"
if [ "$fds1" -gt "$fds0" ]; then
  fd_list >"$out/fds-end.txt"
  diff "$out/fds-early.txt" "$out/fds-end.txt"
  fail "descriptors grew from $fds0 to $fds1"
fi
# Flat: at most 10% more at the end than after the first fifth (the
# allocator's and the sanitizer's pools still settle meanwhile).
[ "$rss1" -le $(( rss0 + rss0 / 10 )) ] || fail "memory grew from $rss0 kB to $rss1 kB"
# Escape with nobody giving the focus back: the player's window has it.
sleep 1
xh_escape_and_wait "$pid" || fail "the player did not end on Escape after the last dialog closed"
[ "$XH_RC" -eq 0 ] || fail "the player exited with $XH_RC"
echo "the player lived through $done_rounds print dialogs and ended on Escape"
exit 0
