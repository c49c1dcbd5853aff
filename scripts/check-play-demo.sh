#!/usr/bin/env bash
# Runs the README's play command, scripts/play-demo.sh, as a user would, in
# a virtual X server with SDL's dummy audio driver: waits until the demo
# show's first slide is on screen (a screenshot check), ends the player with
# SIGTERM and expects a clean exit (0). scripts/test.sh ends with it.
# KAV_PLAY_CHECK_DIR (default build/play-check) keeps the screenshots and the
# output.
set -euo pipefail
self=$(realpath "$0")
cd "$(dirname "$self")/.."

if [ -z "${KAV_PLAY_CHECK_IN_X:-}" ]; then
  export KAV_PLAY_CHECK_IN_X=1
  exec xvfb-run -a -s "-screen 0 1920x1080x24" "$self" "$@"
fi

out=${KAV_PLAY_CHECK_DIR:-build/play-check}
mkdir -p "$out"
rm -f "$out"/*.png
log=$out/play-demo.out
export SDL_VIDEODRIVER=x11
export SDL_AUDIODRIVER=${KAV_PLAY_CHECK_AUDIO:-dummy}

echo "check-play-demo: running scripts/play-demo.sh (release build and play; output in $log)"
start=$SECONDS
# play-demo.sh becomes the player (exec), so this pid is the player's.
scripts/play-demo.sh >"$log" 2>&1 &
pid=$!

alive() { kill -0 "$pid" 2>/dev/null; }
fail() {
  echo "check-play-demo: FAIL: $*" >&2
  tail -n 60 "$log" >&2
  kill -KILL "$pid" 2>/dev/null || true
  exit 1
}

# The build comes first: wait for the player's window as long as the
# script runs (a time-out only for a window that never comes).
win=
while alive; do
  win=$(xdotool search --onlyvisible --pid "$pid" 2>/dev/null | head -n 1 || true)
  [ -n "$win" ] && break
  [ $((SECONDS - start)) -lt "${KAV_PLAY_CHECK_TIMEOUT:-2400}" ] || fail "no player window after $((SECONDS - start)) s"
  sleep 1
done
[ -n "$win" ] || { wait "$pid" || true; fail "scripts/play-demo.sh ended before a window appeared"; }
echo "check-play-demo: player window after $((SECONDS - start)) s"

# The first slide: the show's 1280 x 720 window with the sunset picture
# (a red-dominated, varied frame) and the orange logo at the top centre. The
# show repeats, so a missed first pass comes round again.
first_slide() {
  local shot=$1
  read -r w h spread r b < <(convert "$shot" -format '%w %h %[fx:standard_deviation] %[fx:mean.r] %[fx:mean.b]\n' info:)
  read -r lr lb < <(convert "$shot" -crop 180x180+550+120 -format '%[fx:mean.r] %[fx:mean.b]\n' info:)
  [ "$w" = 1280 ] && [ "$h" = 720 ] &&
    awk -v s="$spread" -v r="$r" -v b="$b" -v lr="$lr" -v lb="$lb" \
      'BEGIN { exit !(s > 0.1 && r > b + 0.1 && lr > 0.6 && lr > lb + 0.3) }'
}
seen=
for i in $(seq 300); do
  alive || { wait "$pid" && rc=0 || rc=$?; fail "the player ended by itself (exit $rc)"; }
  shot=$out/shot$i.png
  if import -window "$win" "$shot" 2>/dev/null && first_slide "$shot"; then
    seen=$shot
    break
  fi
  sleep 0.5
done
[ -n "$seen" ] || fail "the demo's first slide never came on screen (screenshots in $out)"
echo "check-play-demo: first slide on screen ($seen)"

kill -TERM "$pid"
for _ in $(seq 300); do
  alive || break
  sleep 0.1
done
alive && fail "the player did not end within 30 s of SIGTERM"
rc=0
wait "$pid" || rc=$?
[ "$rc" -eq 0 ] || fail "the player exited with $rc after SIGTERM"
echo "check-play-demo: played the demo's first slide and ended cleanly on SIGTERM"
