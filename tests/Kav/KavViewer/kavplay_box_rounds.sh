#!/bin/bash
# Message boxes in the real player, on an 800 x 600 screen (an X server of
# the script's own) without a window manager, or under one (KAV_TEST_WM,
# click to focus):
# - the box for a show that cannot be opened, whose text names a long path,
#   lies on the screen (its text is broken into lines);
# - a show whose slides turn a picture all the while (the device presents
#   frames from its own thread): a first slide of half a second, then one of
#   an hour that asks, as it starts, for a prohibited command (the
#   "Slideshow Error" box). Home goes back to the first slide, which plays
#   into the second and its box, again and again, while busy loops (two per
#   core, KAV_BUSY_PER_CORE) load every core. Each box must come, take the
#   keyboard focus, lie on the screen and go on Return, and the player must
#   then take the next Home: a player that hangs after a box (its box drawn
#   by a child forked from its threads, stuck in the X library) takes no key
#   again;
# - in some rounds the player's window gets the focus while the box is up
#   (a click on it under the window manager; without one what a
#   click-to-focus window manager does on it): the box takes the focus back
#   and Escape or Return reaches it.
# On a machine so loaded that the rounds take longer than BUDGET seconds,
# they stop there once a fifth of them ran; the report says how many.
# Usage: kavplay_box_rounds.sh KAVPLAY OUTDIR [ROUNDS [BUDGET]]
set -u
player=$1
out=$2
rounds=${3:-100}
budget=${4:-120}
for tool in Xvfb xdotool xprop xwininfo python3; do command -v $tool >/dev/null || { echo "no $tool: skipped"; exit 77; }; done
/usr/bin/python3 -c "import PIL" 2>/dev/null || { echo "no Pillow: skipped"; exit 77; }
source "$(dirname "$0")/../../xvfb/xvfb_harness.sh"
wm=${KAV_TEST_WM:-}
[ -z "$wm" ] || command -v "$wm" >/dev/null || { echo "no $wm: skipped"; exit 77; }
rm -rf "$out"
mkdir -p "$out/show" "$out/home" "$out/bin"
pid=
box=
finish() {
  xh_stop_busy
  [ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null
  [ -n "${wm_pid:-}" ] && kill "$wm_pid" 2>/dev/null
  xh_stop_x
}
trap finish EXIT
fail() {
  echo "FAIL: $*"
  finish
  tail -n 30 "$out/kavplay.out"
  exit 1
}
XH_OUT=$out
xh_start_x 800x600
read -r screen_w screen_h < <(xdotool getdisplaygeometry)
if [ -n "$wm" ]; then
  "$wm" >"$out/wm.out" 2>&1 &
  wm_pid=$!
  wm_running() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"; }
  xh_until 30 wm_running || fail "$wm did not start (see $out/wm.out)"
  echo "running under $wm"
fi

# The player with a private HOME and no desktop helper on its PATH (the
# box is SDL's own).
start_player() {
  env -u DBUS_SESSION_BUS_ADDRESS HOME="$out/home" XDG_CONFIG_HOME="$out/home/.config" PATH="$out/bin" \
    "$player" "$@" >"$out/kavplay.out" 2>&1 &
  pid=$!
}
alive() { xh_running "$pid"; }
find_box() { box=$(xh_search_title '^Slideshow Error$' | head -n 1); [ -n "$box" ]; }
no_box() { ! find_box; }
focused() { [ "$(xdotool getwindowfocus 2>/dev/null)" = "$1" ]; }
# True when window $1 (with its frame) lies on the screen; its place in
# $geometry.
on_screen() {
  local X Y W H
  eval "$(xwininfo -id "$(xh_toplevel "$1")" 2>/dev/null | awk '/Absolute upper-left X:/ { print "X=" $4 }
    /Absolute upper-left Y:/ { print "Y=" $4 } /^  Width:/ { print "W=" $2 } /^  Height:/ { print "H=" $2 }')"
  geometry="${W:-?}x${H:-?}+${X:-?}+${Y:-?}"
  [ -n "${W:-}" ] && [ "$X" -ge 0 ] && [ "$Y" -ge 0 ] && [ $((X + W)) -le "$screen_w" ] && [ $((Y + H)) -le "$screen_h" ]
}

# 1. A box whose text names a long path lies on the screen.
long="$out/Photos of the summer holidays by the sea with the whole family and friends/the evening show.kvshow"
start_player "$long"
xh_until 60 find_box || fail "no box for a show that cannot be opened"
on_screen "$box" || fail "the box ($geometry) does not lie on the ${screen_w}x${screen_h} screen"
echo "the box for a long path is $geometry on the ${screen_w}x${screen_h} screen"
xdotool windowfocus "$box" 2>/dev/null
xdotool key Return
xh_wait_end "$pid" 60 || fail "the player did not end after its box for a show that cannot be opened"
pid=

# 2. The rounds.
/usr/bin/python3 - "$out/show/picture.png" <<'PY'
import sys
from PIL import Image, ImageDraw
im = Image.new('RGB', (320, 240), (30, 60, 120))
d = ImageDraw.Draw(im)
for i in range(0, 320, 40):
    d.rectangle([i, 0, i + 19, 239], fill=(220, 180, 40))
d.ellipse([110, 70, 210, 170], fill=(200, 40, 40))
im.save(sys.argv[1])
PY
slide() {  # slide N [COMMAND]: a picture turning all the while; the command asked for as it starts
  printf '[Slide%s]\r\n' "$1"
  [ -n "${2:-}" ] && printf 'Pers_RunApp=1\r\nRunAppFN=%s\r\n' "$2"
  printf 'object Picture:Image\r\nGUID={box-%s}\r\nImageName=picture.png\r\nobject k:KeyPoint\r\nTime=0\r\nPosition=0,0\r\nScaleX=60\r\nScaleY=60\r\nAngle=0\r\nend\r\nobject k:KeyPoint\r\nOrigin=SlideEnd\r\nTime=0\r\nPosition=0,0\r\nScaleX=60\r\nScaleY=60\r\nAngle=%s\r\nend\r\nend\r\n' "$1" "$3"
}
{
  printf '\xef\xbb\xbf[Main]\r\nKavVersion=8.0.1\r\nopt_scr_width=640\r\nopt_scr_height=480\r\nopt_scr_full=0\r\nopt_repeat=repeat\r\nopt_allowrunapp=1\r\n'
  printf '[Times]\r\nopt_slidescount=2\r\nopt_synchpos1=500\r\nopt_synchpos2=3600500\r\n'
  slide 1 "" 5
  slide 2 "format c:" 36000
} >"$out/show/Project.kav"
start_player "$out/show" --allow-programs=show -log
win=$(xh_find_window "$pid" 60)
[ -n "$win" ] || fail "no window of the player"
# The first slide's box.
xh_until 60 find_box || fail "no box as the first slide started"
xh_start_busy
mark=$(( rounds / 5 > 0 ? rounds / 5 : 1 ))
start=$SECONDS
done_rounds=0
for round in $(seq 1 "$rounds"); do
  if [ "$round" -gt "$mark" ] && [ $((SECONDS - start)) -ge "$budget" ]; then
    echo "the budget of $budget s was spent after $done_rounds rounds: the rounds end there"
    break
  fi
  on_screen "$box" || fail "round $round: the box ($geometry) does not lie on the ${screen_w}x${screen_h} screen"
  # The box takes the keyboard focus from the player's window.
  xh_until 20 focused "$box" || fail "round $round: the box never had the keyboard focus (it is on $(xdotool getwindowfocus))"
  key=Return
  if [ $((round % 5)) -eq 1 ]; then
    # The player's window gets the focus: the box takes it back.
    if [ -n "$wm" ]; then
      eval "$(xwininfo -id "$win" | awk '/Absolute upper-left X:/ { print "X=" $4 } /Absolute upper-left Y:/ { print "Y=" $4 }')"
      xdotool mousemove $((X + 5)) $((Y + 5)) click 1
    else
      xdotool windowfocus "$win"
    fi
    sleep 0.5
    xh_until 20 focused "$box" || fail "round $round: the box did not take the focus back from the player's window"
    key=Escape
  fi
  xdotool key "$key"
  xh_until 30 no_box || {
    alive || fail "round $round: the player ended while its box closed"
    fail "round $round: the box stayed after $key"
  }
  # The player takes keys again: its window has the focus back, and Home
  # brings the first slide, then the second and its box.
  xh_until 30 focused "$win" || fail "round $round: the player's window did not get the focus back after the box"
  xdotool key Home
  xh_until 60 find_box || {
    alive || fail "round $round: the player ended after its box"
    fail "round $round: the player took no key after its box (Home brought no box within 60 s)"
  }
  done_rounds=$round
done
xh_stop_busy
echo "$done_rounds boxes in $((SECONDS - start)) s, each shown, answered, and the player taking the next key"
xdotool windowfocus "$box" 2>/dev/null
xdotool key Return
xh_until 30 no_box || fail "the last box stayed after Return"
xh_until 30 focused "$win" || fail "the player's window did not get the focus back after the last box"
xh_escape_and_wait "$pid" || fail "the player did not end on Escape after the last box"
[ "$XH_RC" -eq 0 ] || fail "the player exited with $XH_RC"
pid=
echo "PASS: boxes come, take the keys, fit the screen and go, and the player takes keys after each"
exit 0
