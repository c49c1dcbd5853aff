#!/bin/bash
# The player over hostile and damaged shows, headless (SDL's dummy video
# driver): a show it cannot open gives its error and a non-zero exit on its
# own; a hostile show that opens plays until SIGTERM and then ends with 0.
# Never a crash, a sanitizer report or a hang.
# Usage: kavplay_hostile.sh KAVPLAY DEMO_SHOW CORPUS_DIR WORKDIR
set -u
source "$(dirname "$0")/../../xvfb/xvfb_harness.sh"
player=$1
demo=$2
corpus=$3
work=$4
rm -rf "$work"
mkdir -p "$work"
xh_count_failures
sanitizer_clean() {
  ! grep -q "ERROR: AddressSanitizer\|runtime error:\|ERROR: LeakSanitizer" "$1"
}

# Shows that must be refused.
refused=("$corpus/container/truncated_directory" "$corpus/container/moved_modified")
: >"$work/empty.kvshow"
refused+=("$work/empty.kvshow")
printf 'KavShow%.0s garbage \001\002\377' $(seq 400) >"$work/garbage.kvshow"
refused+=("$work/garbage.kvshow")
if [ -f "$demo" ]; then
  size=$(stat -c %s "$demo")
  for cut in 64 $((size / 3)) $((size * 9 / 10)) $((size - 1)); do
    head -c "$cut" "$demo" >"$work/cut_$cut.kvshow"
    refused+=("$work/cut_$cut.kvshow")
  done
fi
for show in "${refused[@]}"; do
  log="$work/$(basename "$show").out"
  timeout -s KILL 120 "$player" -exename "$show" >"$log" 2>&1
  rc=$?
  if [ "$rc" -eq 137 ]; then fail "$show: hung"; continue; fi
  if [ "$rc" -eq 0 ] || [ "$rc" -ge 128 ]; then fail "$show: exit $rc (want an error exit)"; fi
  grep -q "Slideshow Error" "$log" || fail "$show: no error shown"
  sanitizer_clean "$log" || fail "$show: sanitizer report"
done

# Whether process $1 has a handler for SIGTERM (bit 15 of SigCgt), or is gone.
catches_term() {
  local mask
  mask=$(awk '/^SigCgt:/ { print $2 }' "/proc/$1/status" 2>/dev/null) || return 0
  [ -z "$mask" ] && return 0
  (( (16#$mask >> 14) & 1 ))
}

# Hostile shows that open: they play, then end cleanly on SIGTERM.
play() {
  local name=$1
  shift
  local log="$work/play_$name.out"
  "$player" "$@" >"$log" 2>&1 &
  local pid=$!
  sleep 3
  if ! kill -0 "$pid" 2>/dev/null; then
    wait "$pid"
    local early=$?
    # Ending by itself is fine when it says why; a signal is a crash.
    if [ "$early" -ge 128 ] || [ "$early" -eq 0 ]; then fail "$name: ended by itself with $early"; fi
  else
    # SIGTERM once the player catches it (on a loaded machine its start may
    # not have got that far in 3 s; before, the signal's default ends it).
    xh_until 60 catches_term "$pid"
    kill -TERM "$pid"
    xh_wait_end "$pid" 60 || fail "$name: did not end on SIGTERM"
    [ "$XH_RC" -eq 0 ] || fail "$name: exit $XH_RC after SIGTERM"
  fi
  sanitizer_clean "$log" || fail "$name: sanitizer report"
}
play hostile_windows -exename "$corpus/container/hostile_windows"
play long_base0 -exename "$corpus/container/long_base0"
for p in hostile_cycles_bom damaged_times; do
  mkdir -p "$work/$p"
  cp "$corpus/project/$p.kav" "$work/$p/Project.kav"
  play "$p" -filename "$work/$p/Project.kav"
done

if [ "$failures" -ne 0 ]; then
  echo "$failures failures; outputs in $work"
  exit 1
fi
echo "every hostile show was refused or played and ended cleanly"
