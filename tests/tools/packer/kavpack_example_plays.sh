#!/bin/bash
# The README's steps on the example show, headless (SDL's dummy drivers):
# kavpack packs examples/myshow (also behind the player, as a show that plays
# itself); kavplay plays the show file and the folder itself, and the show
# that plays itself runs as given: each plays for a few seconds and ends
# with 0 on SIGTERM, without a sanitizer report.
# Usage: kavpack_example_plays.sh KAVPACK KAVPLAY EXAMPLE_DIR WORKDIR
set -u
source "$(dirname "$0")/../../xvfb/xvfb_harness.sh"
kavpack=$1
kavplay=$2
example=$3
work=$4
rm -rf "$work"
mkdir -p "$work"
xh_count_failures

"$kavpack" "$work/myshow.kvshow" "$example" >"$work/kavpack.out" 2>&1 || fail "kavpack: $(cat "$work/kavpack.out")"
# The show that plays itself: the player in front, started as it is given.
"$kavpack" --host "$kavplay" "$work/myshow" "$example" >"$work/kavpack-host.out" 2>&1 ||
  fail "kavpack --host: $(cat "$work/kavpack-host.out")"
[ -x "$work/myshow" ] || fail "the show that plays itself is not runnable: $(ls -l "$work/myshow")"

# play NAME PROGRAM [SHOW]
play() {
  local name=$1
  shift
  local log="$work/$name.out"
  "$@" -log >"$log" 2>&1 &
  local pid=$!
  # Until the show plays (the engine is started), generous for a loaded
  # machine; then a second more of playing.
  for _ in $(seq 900); do
    kill -0 "$pid" 2>/dev/null || break
    grep -q "SetActive(True)" "$log" && break
    sleep 0.1
  done
  grep -q "SetActive(True)" "$log" || fail "$name: the show did not start"
  sleep 1
  if ! kill -0 "$pid" 2>/dev/null; then
    wait "$pid"
    fail "$name: the player ended by itself with $?"
  else
    kill -TERM "$pid"
    xh_wait_end "$pid" 60 || fail "$name: no end after SIGTERM"
    [ "$XH_RC" -eq 0 ] || fail "$name: exit $XH_RC after SIGTERM"
  fi
  ! grep -q "ERROR: AddressSanitizer\|runtime error:\|ERROR: LeakSanitizer\|Slideshow Error" "$log" ||
    fail "$name: $(head -n 20 "$log")"
}
play packed "$kavplay" "$work/myshow.kvshow"
play folder "$kavplay" "$example"
play self "$work/myshow"

[ "$failures" -eq 0 ] || exit 1
echo "packed and played the example show"
