#!/bin/bash
# A show with an author's mistakes plays, and the player says each thing it
# cannot use once on stderr, with the line of the project text where it is
# known: a misspelt key, a value it cannot read, a missing music file, an
# effect of the list that names no kind, a transition longer than its slide,
# a slide count beyond the slides, a GUID used twice, an object without its
# "end", a picture that is no picture and a photo with 64 bytes changed (the
# pictures said when their slides load). SIGTERM ends it with 0.
# Usage: kavplay_show_problems.sh KAVPLAY EXAMPLE_FOLDER WORKDIR
set -u
source "$(dirname "$0")/../../xvfb/xvfb_harness.sh"
player=$1
example=$2
work=$3
rm -rf "$work"
mkdir -p "$work"
cp -r "$example" "$work/show" || exit 1
project="$work/show/Project.kav"
# The first ImageName and the first FitMode are misspelt and unreadable.
sed -i '0,/^ImageName=/s//ImageNme=/; 0,/^FitMode=Cover/s//FitMode=Banana/' "$project"
rm "$work/show/Music/tune.mp3"
echo "not a photo" >"$work/show/Photos/mountains.jpg"
key_line=$(grep -n '^ImageNme=' "$project" | cut -d: -f1)
fit_line=$(grep -n '^FitMode=Banana' "$project" | cut -d: -f1)
music_line=$(grep -n '^FileName=Music' "$project" | cut -d: -f1)
mountains_line=$(grep -n -m1 '^ImageName=Photos.mountains.jpg' "$project" | cut -d: -f1)
# The mistakes that played without a word.
sed -i 's/^object flip:Effect$/object curtling:Effect/; /^ref=push$/{n;s/^time=1000$/time=6000/}' "$project"
sed -i 's/^opt_slidescount=4$/opt_slidescount=51/; s/^GUID={myshow-2-caption}$/GUID={myshow-1-caption}/' "$project"
truncate -s -4 "$project"  # the last "end"
size=$(stat -c %s "$work/show/Photos/sea.jpg")
printf 'AB%.0s' {1..32} | dd of="$work/show/Photos/sea.jpg" bs=1 seek=$((size / 2)) conv=notrunc 2>/dev/null
effect_line=$(grep -n '^object curtling:Effect' "$project" | cut -d: -f1)
time_line=$(grep -n '^time=6000' "$project" | cut -d: -f1)
count_line=$(grep -n '^opt_slidescount=' "$project" | cut -d: -f1)
first_guid=$(grep -n '^GUID={myshow-1-caption}' "$project" | head -n 1 | cut -d: -f1)
second_guid=$(grep -n '^GUID={myshow-1-caption}' "$project" | tail -n 1 | cut -d: -f1)
open_line=$(grep -n '^object Caption:Text' "$project" | tail -n 1 | cut -d: -f1)

out="$work/kavplay.err"
SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy "$player" "$work/show" 2>"$out" &
pid=$!
xh_count_failures
# The pictures are said when the second and third slides are prepared.
for _ in $(seq 600); do
  grep -q "mountains.jpg" "$out" && grep -q "sea.jpg" "$out" && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
kill -TERM "$pid" 2>/dev/null
xh_wait_end "$pid" 30 || fail "did not end on SIGTERM"
[ "${XH_RC:-1}" -eq 0 ] || fail "exit ${XH_RC:-none} after SIGTERM"

expect_once() {
  local n
  n=$(grep -cxF "$1" "$out")
  [ "$n" -eq 1 ] || fail "said $n times (want 1): $1"
}
expect_once "kavplay: Project.kav:$key_line: ImageNme: no such key (ImageName?): it is not read"
expect_once "kavplay: Project.kav:$fit_line: FitMode=Banana: not one of None, PlaceInto, Cover: the default is used"
expect_once "kavplay: Project.kav:$music_line: Music\\tune.mp3: no such file"
expect_once "kavplay: Project.kav:$mountains_line: Photos\\mountains.jpg: not a picture: no decoder accepts its data"
expect_once "kavplay: Project.kav:$effect_line: curtling: no transition kind of that name (curling?) and no section \
[effect_curtling] with its settings: slides that use it come in as a cut"
expect_once "kavplay: Project.kav:$time_line: [Slide2] TheEffect: the transition (6000 ms) is longer than its slide \
(3000 ms): it is cut to the slide's length and the slide is never seen still; make its time shorter than the slide"
expect_once "kavplay: Project.kav:$count_line: opt_slidescount=51: the slides go up to [Slide4] only: slides 5 to 51 \
are empty (opt_slidescount=4?)"
expect_once "kavplay: Project.kav:$second_guid: GUID={myshow-1-caption}: the same GUID as the object on line \
$first_guid: give each object a GUID of its own"
expect_once "kavplay: Project.kav:$open_line: object Caption:Text: no \"end\" of its own before the end of the text: \
an \"end\" is missing inside it or after it, and the lines up to there belong to it"
n=$(grep -c "^kavplay: Project.kav:[0-9]*: Photos\\\\sea.jpg: the picture's data is damaged (libjpeg: Corrupt JPEG data" "$out")
[ "$n" -eq 1 ] || fail "the changed photo said $n times (want 1)"
if grep -q "ERROR: AddressSanitizer\|runtime error:" "$out"; then fail "sanitizer report"; fi
if [ "$failures" -ne 0 ]; then
  cat "$out"
  exit 1
fi
echo "each problem of the show was said once"
