#!/bin/sh
# Memory of the real player over a show of big photos: 14 JPEGs from
# 2560 x 1600 to 6000 x 4000 (made here with ImageMagick, grain over a
# gradient, quality 90), packed by kavpack, played by kavplay in a window of
# 1920 x 1080 under a private Xvfb screen for one whole loop and a bit.
# Prints the peak resident size (VmHWM) and the resident size at the end,
# in MB; the goal is a peak under 250 MB. Compare before and after in the
# same run (KAV_PLAYER_BASE names a second player binary to measure beside).
#
#   bench/kav_player_memory.sh [BUILD_DIR] [SECONDS_PER_SLIDE]
#
# BUILD_DIR defaults to build/bench (kavplay and kavpack of a Release
# build); SECONDS_PER_SLIDE defaults to 3. The photos are kept in
# ${TMPDIR:-/tmp}/kav-player-memory-photos for the next run.
set -eu

build=${1:-build/bench}
per=${2:-3}
player=$(realpath "${KAV_PLAYER:-$build/kavplay}")
packer=$(realpath "$build/kavpack")
[ -x "$player" ] || { echo "no $player" >&2; exit 1; }
[ -x "$packer" ] || { echo "no $packer" >&2; exit 1; }
command -v convert >/dev/null || { echo "no ImageMagick convert" >&2; exit 1; }

photos=${TMPDIR:-/tmp}/kav-player-memory-photos
mkdir -p "$photos"
sizes="2560x1600 3000x2000 3264x2448 3840x2160 4000x3000 4032x3024 4608x3456 5184x3456 5472x3648 6000x4000
4000x6000 3024x4032 2560x1600 6000x4000"
i=0
for s in $sizes; do
  i=$((i + 1))
  f="$photos/photo$i.jpg"
  [ -s "$f" ] || convert -size "$s" gradient:"#3a6"-"#c84" -attenuate 0.4 +noise Gaussian -quality 90 "$f"
done
count=$i

work=$(mktemp -d)
trap 'kill $xpid 2>/dev/null || true; rm -rf "$work"' EXIT INT TERM
mkdir -p "$work/show/Photos"
cp "$photos"/photo*.jpg "$work/show/Photos/"
{
  printf '\357\273\277[Main]\r\nKavVersion=8.0.1\r\nprojectname=Memory\r\nopt_scr_width=1920\r\nopt_scr_height=1080\r\n'
  printf 'opt_scr_full=0\r\nopt_withoutborder=0\r\nopt_repeat=repeat\r\nopt_pausewheninactive=0\r\n[Times]\r\n'
  printf 'opt_slidescount=%d\r\n' "$count"
  n=1
  while [ $n -le $count ]; do printf 'opt_synchpos%d=%d\r\n' $n $((n * per * 1000)); n=$((n + 1)); done
  n=1
  while [ $n -le $count ]; do
    printf '[Slide%d]\r\nPicture=Photos\\photo%d.jpg\r\nobject Photo:Image\r\nGUID={photo%d}\r\nImageName=Photos\\photo%d.jpg\r\n' $n $n $n $n
    printf 'FitMode=Cover\r\nobject k:KeyPoint\r\nTime=0\r\nPosition=0,0\r\nScaleX=100\r\nScaleY=100\r\nend\r\nend\r\n'
    n=$((n + 1))
  done
} > "$work/show/Project.kav"
"$packer" "$work/memory.kvshow" "$work/show" >/dev/null

display=:$(( 90 + $$ % 100 ))
Xvfb "$display" -screen 0 1920x1200x24 -nolisten tcp >/dev/null 2>&1 &
xpid=$!
sleep 2

measure() {  # name, player
  DISPLAY=$display SDL_AUDIODRIVER=dummy "$2" "$work/memory.kvshow" >/dev/null 2>&1 &
  pid=$!
  sleep $((count * per + per + 4))
  peak=$(awk '/^VmHWM:/ {print $2}' "/proc/$pid/status")
  now=$(awk '/^VmRSS:/ {print $2}' "/proc/$pid/status")
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  awk -v n="$1" -v p="$peak" -v r="$now" 'BEGIN { printf "%-7s peak %6.1f MB  at the end %6.1f MB  (goal: peak < 250 MB)\n", n, p / 1024, r / 1024 }'
}

[ -n "${KAV_PLAYER_BASE:-}" ] && measure base "$(realpath "$KAV_PLAYER_BASE")"
measure player "$player"
