#!/bin/bash
# SIGTERM and SIGINT end the real player from inside its modal windows, in an
# X server (run under xvfb-run): the box for a show that cannot be opened,
# the print dialog, and a "Slideshow Error" box during play, after which no
# later slide's program starts. After SIGKILL of the player, the process that
# draws its box is gone too. SIGTERM during the layout of a very long title
# ends the player soon.
# Usage: kavplay_signals.sh KAVPLAY OUTDIR
set -u
player=$1
out=$2
for tool in xdotool xprop xwininfo python3; do command -v $tool >/dev/null || { echo "no $tool: skipped"; exit 77; }; done
source "$(dirname "$0")/../../xvfb/xvfb_harness.sh"
rm -rf "$out"
mkdir -p "$out"
failures=0
pid=
case_name=

# Where each thread of a player that still runs (and of the live processes
# of its group, such as the one drawing a box) stands. A stack dump stops
# the process while it is taken: it comes after any time is measured.
stacks() {
  if [ -n "$pid" ] && xh_running "$pid" && command -v gdb >/dev/null; then
    local p
    for p in $(group_pids "$pid"); do
      xh_running "$p" || continue
      echo "--- threads of $p: $(ps -o args= -p "$p" | cut -c1-100)"
      timeout 60 gdb -p "$p" -batch -ex "thread apply all bt 16" 2>/dev/null | grep -E '^(Thread|#)'
    done
  fi
}

fail() {
  echo "FAIL [$case_name]: $*"
  case_failed=1
  stacks
  [ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null
  tail -n 20 "$out/$case_name.out"
  failures=$((failures + 1))
}

# The processes of process group PGID.
group_pids() { ps -e -o pgid=,pid= | awk -v g="$1" '$1 == g {print $2}'; }

# start NAME ARGS...: the player in the background, in a process group of its
# own so that the processes it started can be found by their group. Not in a
# session of its own: a new session is also a scheduling group of its own,
# and on two busy cores the kernel left such a group next to no CPU for up
# to 28 s while the busy loops and the other tests, in the test's session,
# ran on; every other player test runs in the test's session too.
start() {
  case_name=$1
  case_failed=0
  shift
  # Every signal at its default (a shell leaves SIGINT ignored for background
  # jobs, Python SIGPIPE).
  python3 -c 'import os, sys; os.setpgid(0, 0); os.execvp(sys.argv[1], sys.argv[1:])' \
    env --default-signal "$player" "$@" >"$out/$case_name.out" 2>&1 &
  pid=$!
}

# Waits SECS for a visible window whose title matches; prints its id.
wait_title() { xh_wait_title "$1" "$2"; }

# Waits SECS for the player to end (a zombie has ended); false when it runs
# on.
wait_exit() {
  xh_exit_time "$pid" 0 "$1" || return 1
  wait "$pid" 2>/dev/null
  return 0
}

# Waits SECS until no process of group PGID is left; false when one is.
wait_group_gone() {
  local pgid=$1 end=$(($SECONDS + $2))
  while [ "$SECONDS" -le "$end" ]; do
    [ -z "$(ps -e -o pgid=,stat= | awk -v g="$pgid" '$1 == g && $2 !~ /^Z/')" ] && return 0
    sleep 0.2
  done
  return 1
}

ok() {
  [ "$case_failed" -eq 0 ] && echo "ok [$case_name]"
}

no_window_left() {
  local title=$1
  [ -z "$(xh_search_title "$title")" ]
}

# A show with one slide holding a button that opens the print dialog over
# most of the screen.
mkdir -p "$out/print"
printf '\xef\xbb\xbf[Main]\r\nKavVersion=8.0.1\r\nopt_scr_width=640\r\nopt_scr_height=480\r\nopt_scr_full=0\r\nopt_repeat=repeat\r\n[Times]\r\nopt_slidescount=1\r\nopt_synchpos1=60000\r\n[Slide1]\r\nobject P:Button\r\nGUID={print-button}\r\nTheme=Glass\r\nAction=print\r\nobject k:KeyPoint\r\nTime=0\r\nPosition=0,0\r\nScaleX=90\r\nScaleY=90\r\nend\r\nend\r\n' >"$out/print/Project.kav"

# A show whose first slide asks for a prohibited command (the error box) and
# whose second starts a program of the show that leaves a marker file.
mkdir -p "$out/run"
printf '#!/bin/sh\n: > "$(dirname "$0")/started"\n' >"$out/run/mark"
chmod +x "$out/run/mark"
show_with_programs() {
  printf '\xef\xbb\xbf[Main]\r\nKavVersion=8.0.1\r\nopt_scr_width=640\r\nopt_scr_height=480\r\nopt_scr_full=0\r\nopt_repeat=repeat\r\nopt_allowrunapp=1\r\n[Times]\r\nopt_slidescount=2\r\nopt_synchpos1=3000\r\nopt_synchpos2=6000\r\n[Slide1]\r\nPers_RunApp=1\r\nRunAppFN=%s\r\n[Slide2]\r\nPers_RunApp=1\r\nRunAppFN=mark\r\n' "$1" >"$out/run/Project.kav"
}

# 1. The box for a show that cannot be opened, then SIGTERM (and SIGINT).
for sig in TERM INT; do
  start "missing_$sig" "$out/missing.kvshow"
  if ! wait_title "Slideshow Error" 60 >/dev/null; then
    fail "no error box"
  else
    kill -"$sig" "$pid"
    if ! wait_exit 20; then
      fail "still running 20 s after SIG$sig with the box open"
    else
      wait_group_gone "$pid" 20 || fail "a process drawing the box was left"
      no_window_left "Slideshow Error" || fail "the box stayed on screen"
      ok
    fi
  fi
done

# 2. SIGKILL with the box open: the process drawing it dies with the player.
start missing_KILL "$out/missing.kvshow"
if ! wait_title "Slideshow Error" 60 >/dev/null; then
  fail "no error box"
else
  kill -KILL "$pid"
  wait "$pid" 2>/dev/null
  if ! wait_group_gone "$pid" 20; then
    fail "the process drawing the box outlived the player: $(ps -e -o pgid=,pid=,args= | awk -v g="$pid" '$1 == g')"
    group_pids "$pid" | xargs -r kill -KILL
  else
    no_window_left "Slideshow Error" || fail "the box stayed on screen"
    ok
  fi
fi

# 3. The print dialog open, then SIGTERM.
start print_dialog "$out/print"
win=
for _ in $(seq 300); do
  win=$(xdotool search --onlyvisible --pid "$pid" 2>/dev/null | head -n 1)
  [ -n "$win" ] && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.2
done
dialog=
if [ -n "$win" ]; then
  # The button fills most of the window; the window may still be replaced
  # while the player starts, so it is looked up again each time.
  for _ in $(seq 60); do
    X=0 Y=0 WIDTH=0 HEIGHT=0
    win=$(xdotool search --onlyvisible --pid "$pid" 2>/dev/null | head -n 1)
    [ -n "$win" ] && eval "$(xdotool getwindowgeometry --shell "$win" 2>/dev/null)"
    xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click 1 2>/dev/null
    dialog=$(wait_title '^Print$' 1) && break
    kill -0 "$pid" 2>/dev/null || break
  done
fi
if [ -z "$dialog" ]; then
  fail "no print dialog"
else
  kill -TERM "$pid"
  if ! wait_exit 20; then
    fail "still running 20 s after SIGTERM with the print dialog open"
  else
    no_window_left '^Print$' || fail "the dialog stayed on screen"
    ok
  fi
fi

# 4. Without a box the second slide's program starts (so the check below
# can see a start); with SIGTERM during the first slide's error box it never
# does.
show_with_programs ""
rm -f "$out/run/started"
start programs_run "$out/run" --allow-programs=show
# On two busy cores under ASan, making the GL device at start alone can take
# half a minute.
for _ in $(seq 1200); do [ -e "$out/run/started" ] && break; sleep 0.1; done
if [ -e "$out/run/started" ]; then
  kill -TERM "$pid"
  wait_exit 20 || fail "still running 20 s after SIGTERM"
  ok
else
  fail "the second slide's program never started"  # with where the player stands
fi
show_with_programs "format c:"
rm -f "$out/run/started"
start programs_after_signal "$out/run" --allow-programs=show
box=$(wait_title "Slideshow Error" 60)
if [ -z "$box" ]; then
  fail "no error box"
else
  kill -TERM "$pid"
  # Someone answers a box still open a moment later: the show must not go on
  # to the second slide's program.
  for _ in $(seq 50); do no_window_left "Slideshow Error" && break; sleep 0.1; done
  if ! no_window_left "Slideshow Error"; then
    fail "the box stayed open after SIGTERM"
    xdotool windowactivate --sync "$box" key Return 2>/dev/null
  fi
  wait_exit 20 || fail "still running 20 s after SIGTERM with the box open"
  # Past the second slide's time: a program started late would be seen.
  sleep 3
  [ -e "$out/run/started" ] && fail "a later slide's program started after SIGTERM"
  ok
fi
# SIGTERM while the player is still starting (making its devices): it ends
# without opening the show, so no slide's program starts.
show_with_programs ""
rm -f "$out/run/started"
start early_TERM "$out/run" --allow-programs=show
sleep 0.3
kill -TERM "$pid"
if ! wait_exit 20; then
  fail "still running 20 s after SIGTERM while starting"
else
  sleep 4  # past the second slide's time
  [ -e "$out/run/started" ] && fail "a slide's program started after SIGTERM"
  ok
fi
# 5. SIGTERM while the loader lays out a title of nearly a million
# characters (the whole layout takes minutes under ASan), at three moments
# of it (shaping, glyph outlines, line bounds, on the loader and on its
# image tasks): the layout is given up and the player ends within
# KAV_LAYOUT_EXIT_S seconds (default 4, generous for ASan on a busy
# machine). The time runs from the signal to the end as the kernel sees it
# (xh_exit_time), less the longest any of the player's threads waited for a
# CPU meanwhile: a machine with every core busy stretches the wall time, not
# the player's own. Where the player stands is dumped only when it still
# runs at the limit, after the time is taken.
mkdir -p "$out/long"
python3 - "$out/long/Project.kav" <<'PY'
import sys
words = "Lorem ipsum dolor sit amet consectetur adipiscing elit".split()
parts, n, i = [], 0, 0
while n < 980000:
    w = words[(i * 7) % len(words)]
    parts.append(w)
    n += len(w) + 1
    i += 1
p = ("\ufeff[Main]\r\nKavVersion=8.0.1\r\nopt_scr_width=640\r\nopt_scr_height=480\r\nopt_scr_full=0\r\n"
     "opt_repeat=repeat\r\n[Times]\r\nopt_slidescount=1\r\nopt_synchpos1=3000\r\n[Slide1]\r\nobject T:Text\r\n"
     "GUID={long-1}\r\nText=\"%s\"\r\nTextColor=255,255,255\r\nFontName=Noto Sans\r\nobject k:KeyPoint\r\n"
     "Time=0\r\nPosition=0,0\r\nScaleX=10\r\nScaleY=10\r\nend\r\nend\r\n") % " ".join(parts)
open(sys.argv[1], "w", encoding="utf-8").write(p)
PY
layout_limit_s=${KAV_LAYOUT_EXIT_S:-4}
layout_limit_ms=$((layout_limit_s * 1000))
for into in 1 4 10; do
  start long_title_$into "$out/long" -log
  for _ in $(seq 600); do grep -q "Loader Inited" "$out/$case_name.out" && break; sleep 0.1; done
  if ! grep -q "Loader Inited" "$out/$case_name.out"; then
    fail "the loader never started"
    continue
  fi
  sleep "$into"  # into the layout
  if xh_exit_time --own-time "$pid" TERM "$layout_limit_s"; then
    wait "$pid" 2>/dev/null
    if [ -z "$XH_EXIT_MS" ]; then
      fail "the player ended before SIGTERM"
    else
      own=$((XH_EXIT_MS - XH_EXIT_STARVED_MS))
      echo "[$case_name] ended $XH_EXIT_MS ms after SIGTERM ($XH_EXIT_STARVED_MS ms of it waiting for a CPU)"
      [ "$own" -le "$layout_limit_ms" ] ||
        fail "ended $XH_EXIT_MS ms after SIGTERM during the layout, $own ms of its own (at most $layout_limit_ms ms)"
    fi
  else
    # Still running at the limit: where it stands now, then how long it
    # took to end at all (the stack dump, which stops it, included).
    echo "--- still running $XH_EXIT_MS ms after SIGTERM ($XH_EXIT_STARVED_MS ms of it waiting for a CPU):"
    stacks
    if xh_exit_time "$pid" 0 30 "$XH_EXIT_T0"; then
      wait "$pid" 2>/dev/null
      fail "still running $layout_limit_s s after SIGTERM during the layout; ended after $XH_EXIT_MS ms with the stack dump"
    else
      fail "still running 30 s after SIGTERM during the layout of a long title"
      wait "$pid" 2>/dev/null
    fi
  fi
  ok
done

[ "$failures" -eq 0 ] || exit 1
echo "PASS"
