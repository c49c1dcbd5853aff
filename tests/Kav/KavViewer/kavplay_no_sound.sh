#!/bin/bash
# The player on a machine without sound: SDL's audio driver is one that does
# not exist or cannot open. The demo show must still play (its time passes
# the first slide) with one log line and one sentence on stderr about the
# missing sound (none of the sound library's own), and end with 0 on SIGTERM.
# Usage: kavplay_no_sound.sh KAVPLAY DEMO_SHOW WORKDIR
set -u
source "$(dirname "$0")/../../xvfb/xvfb_harness.sh"
player=$1
show=$2
work=$3
if [ ! -f "$show" ]; then
  echo "no demo show at $show (kav_demo was not built): skipped"
  exit 77
fi
rm -rf "$work"
mkdir -p "$work"
# The file log goes to the user's state folder: one of our own keeps it here.
export XDG_STATE_HOME="$work/state"
xh_count_failures

drivers="nonexistent none"
# ALSA itself on a machine without a sound card: its own complaints stay in
# the log, off the terminal.
if ! grep -q '^ *[0-9]' /proc/asound/cards 2>/dev/null; then drivers="$drivers alsa"; fi
for driver in $drivers; do
  log="$XDG_STATE_HOME/kavplayer/kavplay.log"
  out="$work/$driver.out"
  rm -f "$log"
  SDL_AUDIODRIVER=$driver SDL_VIDEODRIVER=dummy "$player" "$show" -filelog >"$out" 2>&1 &
  pid=$!
  # The second slide (7000 ms on) enters the window only once the show time
  # has passed the first slide's end.
  played=0
  for i in $(seq 900); do
    if grep -aq "slide list synched : 7000-14000" "$log" 2>/dev/null; then
      played=1
      break
    fi
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  [ "$played" -eq 1 ] || fail "$driver: the show time did not pass 7000 ms"
  grep -aq "SetActive(True)" "$log" || fail "$driver: the show never started"
  said=$(grep -ac "No sound output" "$log")
  [ "$said" -eq 1 ] || fail "$driver: $said lines about the missing sound (want 1)"
  said=$(grep -ac "^kavplay: no sound device: playing silently$" "$out")
  [ "$said" -eq 1 ] || fail "$driver: $said sentences about the missing sound on the terminal (want 1)"
  if grep -aq "ALSA lib" "$out"; then fail "$driver: ALSA's lines on the terminal"; fi
  kill -TERM "$pid" 2>/dev/null
  xh_wait_end "$pid" 60 || fail "$driver: did not end on SIGTERM"
  [ "$XH_RC" -eq 0 ] || fail "$driver: exit $XH_RC after SIGTERM"
  grep -aq "Program stoped" "$log" || fail "$driver: no end banner"
  if grep -q "ERROR: AddressSanitizer\|runtime error:\|ERROR: LeakSanitizer" "$out"; then
    fail "$driver: sanitizer report"
  fi
  if [ "$failures" -ne 0 ]; then
    tail -n 30 "$log" "$out"
    break
  fi
done

if [ "$failures" -ne 0 ]; then
  echo "$failures failures; outputs in $work"
  exit 1
fi
echo "the show played without sound and ended cleanly"
