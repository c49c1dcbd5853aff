#!/bin/bash
# Starting a window where things are not as the player would like them:
# - an X server that refuses the OpenGL context (Xvfb answers an indirect GLX
#   context, asked for by LIBGL_ALWAYS_INDIRECT as over ssh -X, with an X
#   error): the player draws with its software device, with the device left
#   to choose and with OpenGL asked for, instead of ending on the X error;
# - a title beyond ASCII: _NET_WM_NAME holds it as UTF-8, and WM_NAME is no
#   Latin-1 reading of its bytes;
# - a show whose slide count cannot be read (a show without time) started at
#   a slide or a time: its window comes and shows a slide, also after Home
#   while paused.
# Usage: kavplay_window_start.sh KAVPLAY KAVPACK OUTDIR
set -u
source "$(dirname "$0")/xvfb_harness.sh"
xh_init "$3" "$1" "$2"
command -v xprop >/dev/null && command -v xwininfo >/dev/null || { echo "no xprop or xwininfo: skipped"; exit 77; }
export SDL_VIDEODRIVER=x11 SDL_AUDIODRIVER=dummy
title="Mes photos — été 2026"
show="$XH_OUT/window.kvshow"
xh_make_show "$show" --slides 2 --size 640x400 --slide-ms 60000 --full 0 --window 640x400 --border 1 --title "$title"
xh_start_x 1024x768

for device in "" gl; do
  name=${device:-auto}
  if [ -n "$device" ]; then
    KAV_DEVICE=$device LIBGL_ALWAYS_INDIRECT=1 xh_start_player "$show" -log
  else
    LIBGL_ALWAYS_INDIRECT=1 xh_start_player "$show" -log
  fi
  xh_wait_window 60 || xh_fail "$name: no window of the player where GLX is refused"
  xdotool windowmove --sync "$XH_WIN" 0 0 2>/dev/null || xdotool windowmove "$XH_WIN" 0 0
  xh_wait_slide 1 100 100 60 || xh_fail "$name: slide 1 did not show where GLX is refused"
  grep -q "3D device: software" "$XH_LOG" || xh_fail "$name: the log names no software device"
  echo "$name: slide 1 on the software device where the X server refuses GLX"

  if [ "$name" = auto ]; then
    # Read as bytes (xh_prop), the same in every locale of the run.
    net=$(xh_prop "$XH_WIN" _NET_WM_NAME)
    wm=$(xh_prop "$XH_WIN" WM_NAME)
    printf '_NET_WM_NAME: %s\nWM_NAME: %s\n' "$net" "$wm"
    [ "$net" = "$(printf 'UTF8_STRING\n%s' "$title")" ] || xh_fail "the window's _NET_WM_NAME is not the title as UTF-8"
    # WM_NAME of a type X tools read, holding the title itself and no
    # characters the title does not have.
    case ${wm%%$'\n'*} in
      STRING | COMPOUND_TEXT | UTF8_STRING) ;;
      *) xh_fail "the window's WM_NAME has a type X tools cannot read" ;;
    esac
    [ "${wm#*$'\n'}" = "$title" ] || xh_fail "the window's WM_NAME is not the title"
  fi
  xh_quit_player
done
# A show without time, started past its start.
folder="${show%.kvshow}.d"
sed -i 's/^opt_slidescount=.*/opt_slidescount=three\r/' "$folder/Project.kav"
grep -q "opt_slidescount=three" "$folder/Project.kav" || xh_fail "the slide count was not damaged"
for start in "-slide 2" "-time 5000"; do
  # shellcheck disable=SC2086
  xh_start_player "$folder" $start
  xh_wait_window 60 || xh_fail "no window of a show without time started with $start"
  xdotool windowmove --sync "$XH_WIN" 0 0 2>/dev/null || xdotool windowmove "$XH_WIN" 0 0
  shown=
  for _ in $(seq 60); do
    xh_shot notime
    shown=$(xh_slide_at notime 100 100)
    case $shown in [1-9]) break ;; esac
    sleep 1
  done
  case $shown in [1-9]) ;; *) xh_fail "a show without time started with $start shows no slide ($shown)" ;; esac
  xh_key space
  sleep 1
  xh_key Home
  # What Home left: the paused picture once it stands still.
  xh_wait_still "$XH_OUT/notime-home" 60 || xh_fail "the picture did not settle after Home while paused ($start)"
  case $(xh_slide_at notime-home 100 100) in
    [1-9]) ;;
    *) xh_fail "Home while paused left no slide on a show without time started with $start" ;;
  esac
  echo "a show without time started with $start: slide $shown, and a slide after Home while paused"
  xh_quit_player
done

xh_pass "with GLX refused the player draws on its software device; a title beyond ASCII reaches the window manager; a show without time starts past its start"
