#!/bin/bash
# Without a display (a DISPLAY naming no server, or none at all) and without
# SDL_VIDEODRIVER, the player refuses to start: a message naming the missing
# display on stderr and a non-zero exit, instead of playing unseen. Ours is
# the only line: no library's probe of another display system comes first.
# Usage: kavplay_nodisplay.sh KAVPLAY SHOW OUTDIR
set -u
player=$1
show=$2
out=$3
mkdir -p "$out"
fail() {
  echo "FAIL: $*"
  exit 1
}
run() {
  local name=$1
  shift
  # The time-out only catches a player that keeps running.
  env -u SDL_VIDEODRIVER -u WAYLAND_DISPLAY -u XDG_RUNTIME_DIR "$@" SDL_AUDIODRIVER=dummy timeout 120 "$player" "$show" \
    >"$out/$name.out" 2>&1
  local rc=$?
  [ "$rc" -ne 124 ] || fail "$name: the player kept running without a display"
  [ "$rc" -ne 0 ] || fail "$name: the player exited 0 without a display"
  grep -q "kavplay: no display" "$out/$name.out" || { cat "$out/$name.out"; fail "$name: no message about the display"; }
  lines=$(grep -vc "^$" "$out/$name.out")
  [ "$lines" -eq 1 ] || { cat "$out/$name.out"; fail "$name: $lines lines where our one was wanted"; }
  echo "$name: exit $rc, $(grep "kavplay: no display" "$out/$name.out")"
}
# A display number that no server holds.
n=77
while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
run bogus-display DISPLAY=":$n"
run no-display -u DISPLAY
echo "PASS: no display, no play"
