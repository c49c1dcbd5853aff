#!/bin/bash
# A session bus that takes connections and never answers (a stopped
# dbus-daemon, hung_bus.py): the player still shows its window within a
# bound and says it goes on without the bus; SIGTERM and SIGINT sent while
# it waits for the bus at start end it promptly with 0.
# Usage: kavplay_hung_bus.sh KAVPLAY KAVPACK OUTDIR
set -u
source "$(dirname "$0")/xvfb_harness.sh"
xh_init "$3" "$1" "$2"
export SDL_VIDEODRIVER=x11 SDL_AUDIODRIVER=dummy
show="$XH_OUT/bus.kvshow"
xh_make_show "$show" --slides 2 --size 320x200 --slide-ms 60000 --full 0 --window 320x200
xh_start_x 1024x768
bus_pid=
trap '[ -n "$bus_pid" ] && kill "$bus_pid" 2>/dev/null' EXIT
# A short socket path (sun_path holds 108 bytes).
sock=$(mktemp -u /tmp/kavbus.XXXXXX)
"$XH_TOOL_PYTHON" "$XH_DIR/hung_bus.py" "$sock" >"$XH_OUT/bus.out" 2>&1 &
bus_pid=$!
bus_listens() { grep -q '^listening' "$XH_OUT/bus.out"; }
xh_until 30 bus_listens || xh_fail "the stuck bus did not start"
export DBUS_SESSION_BUS_ADDRESS="unix:path=$sock"
accepted() { grep -c '^accepted' "$XH_OUT/bus.out"; }
one_more() { [ "$(accepted)" -gt "$1" ]; }

# The window comes (the bus is given 5 s, then left aside).
xh_start_player "$show"
xh_wait_window 90 || xh_fail "no window of the player while the session bus does not answer"
grep -q "going on without the session bus" "$XH_LOG" || xh_fail "no word that the bus was left aside"
echo "the window came with a bus that never answers"
xh_quit_player

# A signal while the player waits for the bus at start ends it.
for sig in TERM INT; do
  was=$(accepted)
  XH_RUNS=$((XH_RUNS + 1))
  XH_LOG="$XH_OUT/kavplay-$XH_RUNS.out"
  # SIGINT: a shell leaves it ignored for background jobs; restored here.
  env --default-signal=INT "$XH_PLAYER" "$show" >"$XH_LOG" 2>&1 &
  XH_PID=$!
  xh_until 60 one_more "$was" || xh_fail "SIG$sig: the player never connected to the bus"
  xh_exit_time "$XH_PID" "$sig" 30 || {
    kill -KILL "$XH_PID" 2>/dev/null
    xh_fail "SIG$sig while waiting for the bus at start did not end the player within 30 s"
  }
  wait "$XH_PID"
  rc=$?
  [ "$rc" -eq 0 ] || xh_fail "SIG$sig at start: exit $rc"
  echo "SIG$sig while waiting for the bus ended the player in ${XH_EXIT_MS} ms"
done
XH_PID=
xh_stop_x
xh_pass "a bus that never answers neither keeps the window away nor the signals out"
