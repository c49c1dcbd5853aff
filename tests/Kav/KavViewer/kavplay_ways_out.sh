#!/bin/bash
# Every way out of the real player ends it once and cleanly: exit 0 (1 where
# the way out is an error), no sanitizer report, no hang.
# Usage: kavplay_ways_out.sh dummy KAVPLAY SHOW OUTDIR
#        kavplay_ways_out.sh x11 KAVPLAY SHOW OUTDIR KAVXCLOSE   (under xvfb-run)
# "dummy" runs with the SDL dummy drivers (signals, a long text being laid
# out, no usable font, a show that cannot be loaded); "x11" in an X server
# (the window manager's close request, Esc, a double click, SIGTERM, keys
# queued behind a close, a second show opened by the exit rule, the X
# connection killed).
set -u
mode=$1
player=$2
show=$3
out=$4
xclose=${5:-}
if [ ! -f "$show" ]; then
  echo "no demo show at $show (kav_demo was not built): skipped"
  exit 77
fi
mkdir -p "$out"
failures=0
pid=
log=

fail() {
  echo "FAIL [$case_name]: $*"
  [ -n "$log" ] && tail -n 30 "$log"
  failures=$((failures + 1))
}

# start NAME ARGS...: runs the player in the background.
start() {
  case_name=$1
  shift
  log="$out/$case_name.out"
  "$@" >"$log" 2>&1 &
  pid=$!
}

# finish EXPECTED [SECONDS]: waits for the player to end by itself and checks
# its exit code and output.
finish() {
  local expected=$1 limit=${2:-120} rc
  for _ in $(seq $((limit * 10))); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$pid" 2>/dev/null; then
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    fail "still running after ${limit}s"
    return
  fi
  wait "$pid"
  rc=$?
  [ "$rc" -eq "$expected" ] || fail "exit code $rc, expected $expected"
  if grep -q "ERROR: AddressSanitizer\|ERROR: LeakSanitizer\|runtime error:\|terminate called" "$log"; then
    fail "sanitizer report or abort"
  else
    echo "ok [$case_name]: exit $rc"
  fi
}

# A project whose slides each carry a long text (its layout takes seconds),
# left double click = Exit.
project="$out/longtext"
mkdir -p "$project"
python3 - "$project/Project.kav" <<'EOF'
import sys
words = ("Lorem ipsum dolor sit amet consectetur adipiscing elit sed do eiusmod tempor "
         "incididunt ut labore et dolore magna aliqua").split()
text = " ".join(words[(i * 7) % len(words)] for i in range(1500))
p = ("\ufeff[Main]\r\nKavVersion=8.0.1\r\nopt_scr_width=640\r\nopt_scr_height=480\r\nopt_scr_full=0\r\n"
     "opt_repeat=repeat\r\nopt_dblclick=Exit\r\n[Times]\r\nopt_slidescount=4\r\n")
for i in range(1, 5):
    p += "opt_synchpos%d=%d\r\n" % (i, i * 3000)
for i in range(1, 5):
    p += ("[Slide%d]\r\nobject T:Text\r\nGUID={long-%d}\r\nText=\"%s\"\r\nTextColor=255,255,255\r\n"
          "FontName=Noto Sans\r\nobject k:KeyPoint\r\nTime=0\r\nPosition=0,0\r\nScaleX=%d\r\nScaleY=%d\r\n"
          "end\r\nend\r\n") % (i, i, text, 4 + i, 4 + i)
open(sys.argv[1], "w", encoding="utf-8").write(p)
EOF

nowindow() {
  kill -KILL "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  fail "no window"
}

# Waits until the player has a visible window; prints its id.
# Asked again and again: xdotool gives up when a window it looks at goes
# away during the search. The player may replace its first window (the
# taskbar button changes the owner), so callers ask again after a pause.
window_of() {
  local w
  for _ in $(seq 180); do
    w=$(xdotool search --onlyvisible --pid "$pid" 2>/dev/null | head -n 1)
    [ -n "$w" ] && { echo "$w"; return; }
    kill -0 "$pid" 2>/dev/null || return
    sleep 0.5
  done
}

# on_window ACTION...: runs ACTION WINDOW with the player's visible window,
# again every 5 seconds while the player runs (90 s at most): the player may
# replace its first window, and takes mouse input only once the show has
# opened, so on a loaded machine a first request can reach a window that
# is going away or come too early. finish then checks how it ended.
on_window() {
  local end=$((SECONDS + 90)) w
  while kill -0 "$pid" 2>/dev/null && [ "$SECONDS" -le "$end" ]; do
    w=$(xdotool search --onlyvisible --pid "$pid" 2>/dev/null | head -n 1)
    [ -n "$w" ] && "$@" "$w"
    for _ in $(seq 50); do
      kill -0 "$pid" 2>/dev/null || return 0
      sleep 0.1
    done
  done
}
close_queued() {
  xdotool windowfocus "$1" 2>/dev/null
  "$xclose" "$1" 5
  xdotool key --window "$1" Right space Escape Left 2>/dev/null
}
escape_key() { xdotool key --window "$1" Escape; }
double_click() { xdotool mousemove --window "$1" 100 100 click --repeat 2 --delay 80 1; }

if [ "$mode" = dummy ]; then
  for sig in TERM INT; do
    # SIGINT: a shell leaves it ignored for background jobs; restored here.
    start "sig$sig" env --default-signal=INT "$player" "$show"
    sleep 5
    kill -"$sig" "$pid"
    finish 0
  done
  # SIGTERM while the loader lays out the long text.
  start sigterm_long_text "$player" -filename "$project/Project.kav"
  sleep 4
  kill -TERM "$pid"
  finish 0
  # No usable font: the show plays without text; SIGTERM ends it.
  printf '<?xml version="1.0"?>\n<fontconfig><cachedir>%s/fc</cachedir></fontconfig>\n' "$out" >"$out/nofonts.conf"
  start no_font env FONTCONFIG_FILE="$out/nofonts.conf" "$player" "$show"
  sleep 6
  kill -0 "$pid" 2>/dev/null || fail "ended without a usable font"
  kill -TERM "$pid"
  finish 0
  # A show that cannot be loaded: the error box, exit 1.
  start missing_show "$player" "$out/missing.kvshow"
  finish 1
  # It is said on stderr too, the name once, with the reason.
  grep -qxF "kavplay: Can\`t Load Show $out/missing.kvshow (no such file)" "$log" || fail "no reason on stderr"
  printf 'milk\nbread\n' >"$out/notes.kvshow"
  start plain_text_show "$player" "$out/notes.kvshow"
  finish 1
  grep -qxF "kavplay: Can\`t Load Show $out/notes.kvshow (not a show)" "$log" || fail "no reason on stderr"
else
  # The window manager's close request.
  start wm_close "$player" "$show"
  win=$(window_of)
  if [ -z "$win" ]; then nowindow; else
    sleep 3
    on_window "$xclose"
    finish 0
  fi
  # Several close requests and keys queued behind them.
  start wm_close_queued "$player" "$show"
  win=$(window_of)
  if [ -z "$win" ]; then nowindow; else
    sleep 3
    on_window close_queued
    finish 0
  fi
  # Esc.
  start escape "$player" "$show"
  win=$(window_of)
  if [ -z "$win" ]; then nowindow; else
    sleep 3
    on_window escape_key
    finish 0
  fi
  # A double click with opt_dblclick=Exit (mouse input counts from a second
  # after the show opened).
  start double_click "$player" -filename "$project/Project.kav"
  win=$(window_of)
  if [ -z "$win" ]; then nowindow; else
    sleep 2
    on_window double_click
    finish 0
  fi
  # Esc in a show whose exit rule opens another show (the demo) in the same
  # window; SIGTERM then ends the second show (no leak of the first's sound).
  two="$out/twoshows"
  mkdir -p "$two"
  printf '\xef\xbb\xbf[Main]\r\nKavVersion=8.0.1\r\nopt_scr_width=640\r\nopt_scr_height=480\r\nopt_scr_full=0\r\nopt_repeat=repeat\r\nopt_runapponexit=2\r\nopt_runapponexitiflastslide=0\r\nopt_runapponexitfn=%s\r\n[Times]\r\nopt_slidescount=2\r\nopt_synchpos1=3000\r\nopt_synchpos2=6000\r\n[Slide1]\r\n[Slide2]\r\n' "$show" >"$two/Project.kav"
  start second_show "$player" -filename "$two/Project.kav" -log
  win=$(window_of)
  if [ -z "$win" ]; then nowindow; else
    sleep 3
    # Esc again every 20 s until the log says the second show opened (the
    # first Esc may reach a window that is being replaced).
    second() { grep -q "^Open show: .*$(basename "$show")" "$log"; }
    end=$((SECONDS + 90))
    while ! second && kill -0 "$pid" 2>/dev/null && [ "$SECONDS" -le "$end" ]; do
      win=$(xdotool search --onlyvisible --pid "$pid" 2>/dev/null | head -n 1)
      [ -n "$win" ] && xdotool key --window "$win" Escape
      for _ in $(seq 200); do
        second && break
        sleep 0.1
      done
    done
    second || fail "the second show was not opened"
    # It plays on (what must not happen gets a few seconds to happen).
    sleep 3
    kill -0 "$pid" 2>/dev/null || fail "ended instead of playing the second show"
    kill -TERM "$pid"
    finish 0
  fi
  # SIGTERM with a window.
  start x11_sigterm "$player" "$show"
  win=$(window_of)
  if [ -z "$win" ]; then nowindow; else
    sleep 2
    kill -TERM "$pid"
    finish 0
  fi
  # The X connection killed while the engine works: the process ends with 1
  # and no use of destroyed state.
  start x11_killed "$player" -filename "$project/Project.kav"
  win=$(window_of)
  if [ -z "$win" ]; then nowindow; else
    sleep 2
    on_window xdotool windowkill
    finish 1
  fi
fi
[ "$failures" -eq 0 ] || exit 1
echo "every way out ended cleanly"
exit 0
