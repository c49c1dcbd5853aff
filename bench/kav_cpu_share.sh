#!/bin/sh
# CPU share of the player while it plays: the demo show playing, the demo
# paused (Space) and a show of one still slide. Measures the process's own
# CPU time (utime + stime from /proc/PID/stat), not frame rates, so that the
# figures hold on a loaded machine; compare before and after in the same
# conditions.
#
#   bench/kav_cpu_share.sh [BUILD_DIR] [SECONDS]
#
# BUILD_DIR defaults to build/release (kavplay and demo/demo.kvshow, targets
# kavplay kav_demo of a Release build); SECONDS defaults to 30. Runs under a
# private Xvfb screen of 1280 x 720 with the dummy audio driver. Prints one
# line per case: the case, the share of one core in percent, and the share of
# each busy thread. KAV_CPU_CASES picks cases (default "demo paused still");
# KAV_PLAYER runs another player binary on the same show (before/after).
set -eu

build=${1:-build/release}
seconds=${2:-30}
cases=${KAV_CPU_CASES:-demo paused still}
player=$(realpath "${KAV_PLAYER:-$build/kavplay}")
demo=$(realpath "$build/demo/demo.kvshow")
[ -x "$player" ] || { echo "no $player" >&2; exit 1; }
[ -f "$demo" ] || { echo "no $demo" >&2; exit 1; }

work=$(mktemp -d)
trap 'kill $xpid 2>/dev/null || true; rm -rf "$work"' EXIT INT TERM

# A project of one still slide: the demo's options and first photo, no key
# frame motion, no music, no video, 10 minutes long (the picture object needs
# its GUID to be drawn).
still="$work/still"
mkdir -p "$still/Photos"
cp "$build/demo/show/Photos/photo1.jpg" "$still/Photos/" 2>/dev/null || {
  echo "no $build/demo/show/Photos/photo1.jpg (build kav_demo)" >&2; exit 1; }
printf '\357\273\277[Main]\r\nKavVersion=8.0.1\r\nprojectname=Still\r\nopt_scr_width=1280\r\nopt_scr_height=720\r\nopt_scr_full=0\r\nopt_withoutborder=0\r\nopt_repeat=repeat\r\nopt_pausewheninactive=0\r\n[Times]\r\nopt_slidescount=1\r\nopt_synchpos1=600000\r\n[Slide1]\r\nPicture=Photos\\photo1.jpg\r\nobject Photo:Image\r\nGUID={still-photo}\r\nImageName=Photos\\photo1.jpg\r\nFitMode=Cover\r\nobject k:KeyPoint\r\nTime=0\r\nPosition=0,0\r\nScaleX=100\r\nScaleY=100\r\nend\r\nend\r\n' \
  > "$still/Project.kav"

# A private X server.
display=:$(( 90 + $$ % 100 ))
Xvfb "$display" -screen 0 1280x720x24 -nolisten tcp >/dev/null 2>&1 &
xpid=$!
sleep 2

ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
hz=$(getconf CLK_TCK)

measure() {  # name, show, then keys to send after start-up
  name=$1; show=$2; key=${3:-}
  DISPLAY=$display SDL_AUDIODRIVER=dummy "$player" "$show" >/dev/null 2>&1 &
  pid=$!
  sleep 8
  if [ -n "$key" ]; then
    DISPLAY=$display xdotool search --sync --onlyvisible --pid "$pid" windowactivate --sync key "$key" \
      >/dev/null 2>&1 || DISPLAY=$display xdotool key "$key"
    sleep 2
  fi
  # A figure of an empty window would say nothing: the screen must show a
  # picture (ImageMagick, when installed, looks at it).
  blank=""
  if command -v import >/dev/null 2>&1; then
    sd=$(DISPLAY=$display import -window root png:- 2>/dev/null | convert - -format '%[fx:standard_deviation]' info: \
      2>/dev/null || echo "")
    awk -v s="${sd:-0}" 'BEGIN { exit !(s < 0.01) }' && blank=" BLANK WINDOW: nothing was drawn"
  fi
  before=$(ticks "$pid")
  for t in /proc/$pid/task/*; do echo "$(basename "$t") $(awk '{print $14 + $15}' "$t/stat" 2>/dev/null)"; done \
    > "$work/threads0"
  start=$(date +%s.%N)
  sleep "$seconds"
  after=$(ticks "$pid")
  end=$(date +%s.%N)
  threads=""
  for t in /proc/$pid/task/*; do
    tid=$(basename "$t")
    now=$(awk '{print $14 + $15}' "$t/stat" 2>/dev/null || echo 0)
    was=$(awk -v t="$tid" '$1 == t {print $2}' "$work/threads0")
    comm=$(cat "$t/comm" 2>/dev/null || echo ?)
    threads="$threads $(awk -v a="${was:-0}" -v b="$now" -v c="$comm" -v s="$seconds" -v hz="$hz" \
      'BEGIN { p = (b - a) * 100 / hz / s; if (p >= 0.5) printf "%s=%.1f%%", c, p }')"
  done
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  awk -v a="$before" -v b="$after" -v s="$start" -v e="$end" -v hz="$hz" -v n="$name" -v th="$threads" -v bl="$blank" \
    'BEGIN { printf "%-7s %6.1f%% of one core  (%s)%s\n", n, (b - a) * 100 / hz / (e - s), th, bl }'
}

for c in $cases; do
  case $c in
    demo) measure demo "$demo" ;;
    paused) measure paused "$demo" space ;;
    still) measure still "$still" ;;
  esac
done
