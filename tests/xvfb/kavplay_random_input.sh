#!/bin/bash
# Random input on the demo show in an X server of its own: rounds of a few
# hundred keys, clicks, double clicks, drags, wheel steps and movements made
# from a fixed seed (random_input.py), each round ending one way out: Esc,
# the exit button in the video bar's corner, SIGTERM. The player must never
# crash or print a sanitizer report, must keep answering (its window stays,
# and a screenshot changes after a slide key at every check), and must end
# with exit 0 each time. KAV_RANDOM_SEED picks another seed; the seed and
# every action are printed, so a failing run is repeated with its seed.
# Usage: kavplay_random_input.sh KAVPLAY DEMO_KVSHOW OUTDIR
set -u
source "$(dirname "$0")/xvfb_harness.sh"
show=$2
xh_init "$3" "$1" ""
if [ ! -f "$show" ]; then
  echo "no demo show at $show (kav_demo was not built): skipped"
  exit 77
fi
export SDL_VIDEODRIVER=x11 SDL_AUDIODRIVER=dummy
# Leaks in libraries outside the player (their process-wide state) are not
# its own.
export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$XH_DIR/../Kav/KavViewer/kavplay_x11.supp"
seed=${KAV_RANDOM_SEED:-20261207}
plan="$XH_OUT/plan.txt"
"$XH_PYTHON" "$XH_DIR/random_input.py" "$seed" --actions "${KAV_RANDOM_ACTIONS:-100}" >"$plan" ||
  xh_fail "no plan from random_input.py"
echo "seed $seed (KAV_RANDOM_SEED=$seed repeats this run); plan in $plan"
xh_start_x 1920x1080

# Sanitizer and crash reports in a player's output.
REPORT='ERROR: (Address|Leak|Memory|Thread)Sanitizer|runtime error:|UndefinedBehaviorSanitizer|Sanitizer:DEADLYSIGNAL|SUMMARY: [A-Za-z]*Sanitizer|terminate called|Segmentation fault|Aborted'

x= y= w= h= step=0 round=0
xdo() { timeout 20 xdotool "$@" >/dev/null 2>&1; }
# Window point from ten-thousandths of its width and height.
px() { echo $((x + $1 * w / 10000)); }
py() { echo $((y + $1 * h / 10000)); }
focus() { xdo windowfocus --sync "$XH_WIN" || xdo windowfocus "$XH_WIN"; }

clean_log() {
  if grep -E -q "$REPORT" "$XH_LOG"; then
    grep -E -m 5 "$REPORT" "$XH_LOG"
    xh_fail "round $round: a crash or sanitizer report in the player's output"
  fi
}

# The player ended on its own (not asked to): report how.
ended_early() {
  wait "$XH_PID"
  local rc=$?
  XH_PID=
  clean_log
  xh_fail "round $round: the player ended at action $step (exit $rc) before it was asked to"
}

geometry() {
  local X Y WIDTH HEIGHT
  eval "$(timeout 20 xdotool getwindowgeometry --shell "$XH_WIN" 2>/dev/null | grep -E '^(X|Y|WIDTH|HEIGHT)=[0-9]+$')"
  x=${X:-} y=${Y:-} w=${WIDTH:-} h=${HEIGHT:-}
  [ -n "$w" ] && [ "$w" -gt 0 ] && [ "$h" -gt 0 ]
}

# Pixels that differ between two screenshots, within the window.
differ() {
  compare -metric AE -fuzz 6% "$XH_OUT/$1.png" "$XH_OUT/$2.png" null: 2>&1 | cut -d' ' -f1 | cut -d. -f1
}

# The player still answers: its window is there, and the picture changes
# after a slide key (the show may be paused, or at its last slide, so the
# next, previous and first-slide keys are tried in turn; the show's help
# dialog, which F1 may have opened, holds the slides, so F1 comes last).
check() {
  xh_alive || ended_early
  local id
  id=$(timeout 20 xdotool search --onlyvisible --pid "$XH_PID" 2>/dev/null | head -n 1)
  [ -n "$id" ] || xh_fail "round $round: the player's window is gone at action $step"
  if [ "$id" != "$XH_WIN" ]; then
    XH_WIN=$id
    geometry || xh_fail "round $round: no geometry of the player's window"
  fi
  focus
  local before="check-$round-$step" after="check-$round-$step-after" key n end
  import -window root -crop "${w}x$h+$x+$y" +repage "$XH_OUT/$before.png" 2>/dev/null ||
    xh_fail "no screenshot at action $step"
  for key in Right Left Home F1; do
    xdo key "$key"
    end=$((SECONDS + 20))
    while [ "$SECONDS" -le "$end" ]; do
      xh_alive || ended_early
      sleep 0.5
      import -window root -crop "${w}x$h+$x+$y" +repage "$XH_OUT/$after.png" 2>/dev/null ||
        xh_fail "no screenshot at action $step"
      n=$(differ "$before" "$after")
      if [ "${n:-0}" -gt $((w * h / 50)) ] 2>/dev/null; then
        rm -f "$XH_OUT/$before.png" "$XH_OUT/$after.png"
        return 0
      fi
    done
  done
  xh_fail "round $round: the picture did not change after the slide keys at action $step (a hang?)"
}

start_round() {
  round=$1
  xh_start_player "$show"
  xh_wait_window 90 || xh_fail "round $round: no window of the player"
  geometry || xh_fail "round $round: no geometry of the player's window"
  echo "round $round: window ${w}x$h at $x,$y"
  focus
  # The player takes no clicks for a moment after the open.
  sleep 1.5
}

finish() {
  local how=$1 rc
  case "$how" in
    escape)
      focus
      xdo key Escape
      # A dialog over the show takes the first Esc.
      xh_wait_exit 30 || { focus; xdo key Escape; }
      ;;
    corner)
      # Over the window first, so the hidden bar shows, then on the exit
      # button in the top right corner (the corner square is as tall as the
      # bar: 6 % of the window's height, the demo's "opt_nav_viewscale").
      # Again while it runs: on a loaded machine the bar may not show yet.
      local bar=$(((h * 6 + 50) / 100)) end=$((SECONDS + 90))
      while xh_alive && [ "$SECONDS" -le "$end" ]; do
        xdo mousemove "$((x + w / 2))" "$((y + h / 2))"
        sleep 0.3
        xdo mousemove "$((x + w - bar / 2))" "$((y + bar / 2))"
        sleep 1.5
        xh_shot "corner-$round"
        xdo click 1
        xh_wait_exit 10 && break
      done
      ;;
    term)
      kill -TERM "$XH_PID" 2>/dev/null
      ;;
  esac
  xh_wait_exit 60 || xh_fail "round $round: the player did not end on $how"
  wait "$XH_PID"
  rc=$?
  XH_PID=
  echo "round $round: ended on $how, exit $rc"
  clean_log
  [ "$rc" -eq 0 ] || xh_fail "round $round: the player exited with $rc on $how"
}

while read -r verb a b c d e; do
  case "$verb" in
    round) start_round "$a"; continue ;;
    exit) finish "$a"; continue ;;
  esac
  step=$((step + 1))
  echo "$step: $verb $a $b $c $d $e"
  case "$verb" in
    key) xdo key --delay 20 "$a" ;;
    burst) mapfile -t keys < <(yes "$b" | head -n "$a"); xdo key --delay 0 "${keys[@]}" ;;
    move) xdo mousemove "$(px "$a")" "$(py "$b")" ;;
    click) xdo mousemove "$(px "$b")" "$(py "$c")" click "$a" ;;
    dclick) xdo mousemove "$(px "$a")" "$(py "$b")" click --repeat 2 --delay 60 1 ;;
    drag)
      args=(mousemove "$(px "$a")" "$(py "$b")" mousedown 1)
      for i in $(seq "$e"); do
        args+=(sleep 0.03 mousemove "$(px $((a + (c - a) * i / e)))" "$(py $((b + (d - b) * i / e)))")
      done
      xdo "${args[@]}" mouseup 1
      ;;
    hold) xdo mousemove "$(px "$a")" "$(py "$b")" mousedown 1 key "$c" mousemove "$(px "$d")" "$(py "$e")" mouseup 1 ;;
    wheel)
      if [ "$e" = ctrl ]; then
        xdo mousemove "$(px "$c")" "$(py "$d")" keydown ctrl click --repeat "$b" --delay 40 "$a" keyup ctrl
      else
        xdo mousemove "$(px "$c")" "$(py "$d")" click --repeat "$b" --delay 40 "$a"
      fi
      ;;
    leave) xdo mousemove 2 2 ;;
    wait) sleep "$(awk "BEGIN{print $a/1000}")" ;;
    check) check ;;
    *) xh_fail "unknown action in the plan: $verb" ;;
  esac
  xh_alive || ended_early
  sleep 0.05
done <"$plan"

xh_pass "$step random actions in $round rounds (seed $seed): no crash, no sanitizer report, every end clean"
