#!/bin/bash
# Two players started at once with -filelog share one log file: every line
# of each stays whole and carries its player's process id ("pid N: "), and
# each player's start banner, "SetActive(True)", "Music: playing" and end
# banner are there; the byte-order mark stands once, at the start.
# Usage: kavplay_shared_log.sh KAVPLAY SHOW_FOLDER WORKDIR
set -u
source "$(dirname "$0")/../../xvfb/xvfb_harness.sh"
player=$1
show=$2
work=$3
rm -rf "$work"
mkdir -p "$work"
# The file log goes to the user's state folder: one of our own keeps it here.
export XDG_STATE_HOME="$work/state"
log="$XDG_STATE_HOME/kavplayer/kavplay.log"
xh_count_failures

pids=()
for n in 1 2; do
  SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy "$player" "$show" -filelog >"$work/player$n.out" 2>&1 &
  pids+=($!)
done
# Until both shows play (generous for a loaded machine); the music starts before.
for pid in "${pids[@]}"; do
  for _ in $(seq 1200); do
    grep -aq "^pid $pid: .*SetActive(True)" "$log" 2>/dev/null && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
done
for pid in "${pids[@]}"; do
  kill -TERM "$pid" 2>/dev/null
  xh_wait_end "$pid" 60 || fail "player $pid did not end on SIGTERM"
  [ "$XH_RC" = 0 ] || fail "player $pid: exit $XH_RC after SIGTERM"
done

[ "$(head -c 3 "$log" | od -An -tx1 | tr -d ' ')" = efbbbf ] || fail "the log does not start with its byte-order mark"
[ "$(grep -ac $'\xEF\xBB\xBF' "$log")" -eq 1 ] || fail "the byte-order mark stands more than once"
# Every line, the mark taken off the first, belongs to one of the two (the
# lines of a text of several lines too).
others=$(sed '1s/^\xEF\xBB\xBF//' "$log" | grep -avcE "^pid (${pids[0]}|${pids[1]}): ")
[ "$others" -eq 0 ] || fail "$others lines belong to no player: $(sed '1s/^\xEF\xBB\xBF//' "$log" |
  grep -avE "^pid (${pids[0]}|${pids[1]}): " | head -n 3)"
for pid in "${pids[@]}"; do
  for line in "Program : " "started : " ".*SetActive(True)" "Music: playing" "Program stoped : "; do
    grep -aq "^pid $pid: $line" "$log" || fail "player $pid: no line \"$line\""
  done
  [ "$(grep -ac "^pid $pid: Program : " "$log")" -eq 1 ] || fail "player $pid: its start banner more than once"
done
if grep -q "ERROR: AddressSanitizer\|runtime error:\|ERROR: LeakSanitizer" "$work"/player*.out; then
  fail "sanitizer report"
fi
if [ "$failures" -ne 0 ]; then
  tail -n 20 "$log" "$work"/player*.out
  echo "$failures failures; outputs in $work"
  exit 1
fi
echo "two players shared one log, every line whole and theirs"
