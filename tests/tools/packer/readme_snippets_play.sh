#!/bin/bash
# The README's project text snippets, as a reader would use them: each block
# marked "<!-- snippet: NAME [PLACE] -->" is taken out of README.md; the one
# named "show" is a whole project, the others go into it (PLACE "main": at
# the start of [Main]; "slide": at the end of [Slide1]; "end": at the end).
# Each project gets small media made here with ffmpeg (the photos, the tune
# and the clip the snippets name), is packed by kavpack without a word of
# warning and played headless (SDL's dummy drivers) by kavplay for the show's
# length: the engine must start, the music play, and the player end with 0
# on SIGTERM, its log without a word of a missing file or a bad key, and no
# sanitizer report.
# Usage: readme_snippets_play.sh KAVPACK KAVPLAY README WORKDIR
set -u
source "$(dirname "$0")/../../xvfb/xvfb_harness.sh"
kavpack=$1
kavplay=$2
readme=$3
work=$4
ffmpeg=$(command -v ffmpeg) || { echo "no ffmpeg: skipped"; exit 77; }
rm -rf "$work"
mkdir -p "$work/media/Photos" "$work/media/Music" "$work/media/Video" "$work/snippets"
xh_count_failures

# The snippets: NAME.PLACE files ("show" has the place "whole").
awk -v out="$work/snippets" '
  match($0, /^<!-- snippet: [a-z0-9-]+( [a-z]+)? -->$/) {
    n = split($0, w, " "); name = w[3]; place = (n == 5) ? w[4] : "whole"; want = 1; next
  }
  want && /^```ini$/ { file = out "/" name "." place; printf "" > file; inside = 1; want = 0; next }
  inside && /^```$/ { close(file); inside = 0; next }
  inside { print > file }
  { want = 0 }
' "$readme"
count=$(ls "$work/snippets" | wc -l)
[ -f "$work/snippets/show.whole" ] || { echo "FAIL: no snippet \"show\" in $readme"; exit 1; }
[ "$count" -ge 4 ] || fail "only $count snippets in $readme"

quiet() { "$@" -hide_banner -loglevel error -y; }
quiet "$ffmpeg" -f lavfi -i "testsrc2=size=960x540:rate=1" -frames:v 1 "$work/media/Photos/sea.jpg" &&
  quiet "$ffmpeg" -f lavfi -i "smptebars=size=960x540:rate=1" -frames:v 1 "$work/media/Photos/mountains.jpg" &&
  quiet "$ffmpeg" -f lavfi -i "sine=frequency=440:duration=12" -c:a libmp3lame -b:a 64k "$work/media/Music/tune.mp3" &&
  quiet "$ffmpeg" -f lavfi -i "testsrc=size=320x240:rate=25:duration=3" -c:v mpeg4 -pix_fmt yuv420p \
    "$work/media/Video/clip.mp4" || { echo "ffmpeg could not make the media: skipped"; exit 77; }

# The project of one snippet: the whole show with the snippet put in place.
project() {
  local snippet=$1 place=${1##*.}
  case $place in
    whole) cat "$snippet" ;;
    main) awk -v s="$snippet" '{ print } /^\[Main\]$/ { while ((getline l < s) > 0) print l }' "$work/snippets/show.whole" ;;
    slide) awk -v s="$snippet" '/^\[Slide2\]$/ { while ((getline l < s) > 0) print l; print "" } { print }' "$work/snippets/show.whole" ;;
    end) cat "$work/snippets/show.whole" - <<<"" "$snippet" ;;
    *) return 1 ;;
  esac
}

for snippet in "$work"/snippets/*; do
  name=$(basename "$snippet")
  dir=$work/$name
  cp -r "$work/media" "$dir"
  project "$snippet" >"$dir/Project.kav" || { fail "$name: no place ${name##*.} for a snippet"; continue; }
  "$kavpack" "$dir.kvshow" "$dir" >/dev/null 2>"$dir.pack.err" || { fail "$name: kavpack: $(cat "$dir.pack.err")"; continue; }
  [ -s "$dir.pack.err" ] && fail "$name: kavpack warned: $(cat "$dir.pack.err")"
  # The show's length: the last slide's end.
  length=$(grep -o '^opt_synchpos[0-9]*=[0-9]*' "$dir/Project.kav" | cut -d= -f2 | sort -n | tail -n 1)
  log=$dir.play.out
  "$kavplay" "$dir.kvshow" -log >"$log" 2>&1 &
  pid=$!
  started=0
  for _ in $(seq 600); do  # generous: a loaded machine
    kill -0 "$pid" 2>/dev/null || break
    grep -q "SetActive(True)" "$log" && { started=1; break; }
    sleep 0.1
  done
  [ "$started" = 1 ] || fail "$name: the engine did not start"
  sleep "$(((length + 999) / 1000))"
  if kill -0 "$pid" 2>/dev/null; then
    # The music's lines, waited for: on a loaded machine the music may start
    # later than the show's length after the engine.
    music_said() {
      grep -q "Play Channel" "$log" && grep -q '^Sound device: ' "$log" &&
        grep -qF 'Music: playing "Music\tune.mp3"' "$log"
    }
    xh_until 60 music_said
    grep -q "Play Channel" "$log" || fail "$name: the music did not play"
    # The lines the README names for telling that the music plays.
    grep -q '^Sound device: ' "$log" || fail "$name: no \"Sound device:\" line in the log"
    grep -qF 'Music: playing "Music\tune.mp3"' "$log" || fail "$name: no \"Music: playing\" line in the log"
    kill -TERM "$pid"
    xh_wait_end "$pid" 30 || fail "$name: no end after SIGTERM"
    [ "$XH_RC" -eq 0 ] || fail "$name: exit $XH_RC after SIGTERM"
  else
    wait "$pid"
    fail "$name: the player ended by itself with $?"
  fi
  grep -q "ERROR: AddressSanitizer\|runtime error:\|ERROR: LeakSanitizer\|Slideshow Error" "$log" &&
    fail "$name: $(grep -m 5 "ERROR\|runtime error\|Slideshow Error" "$log")"
  # What the player says of a file it cannot use or a key it cannot read.
  problems="not found\|placeholder\|cannot\|could not\|unknown\|error\|invalid\|damaged\|missing\|ignored"
  grep -qi "$problems" "$log" && fail "$name: $(grep -i -m 5 "$problems" "$log")"
done

[ "$failures" -eq 0 ] || exit 1
echo "packed and played the README's $count snippets"
