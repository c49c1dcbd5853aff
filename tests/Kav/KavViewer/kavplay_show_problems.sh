#!/bin/bash
# A show with an author's mistakes plays, and the player says each thing it
# cannot use once on stderr, with the line of the project text where it is
# known: a misspelt key, a value it cannot read, a missing music file, and a
# picture that is no picture (said when its slide loads). SIGTERM ends it
# with 0.
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

out="$work/kavplay.err"
SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy "$player" "$work/show" 2>"$out" &
pid=$!
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
# The picture is said when the second slide is prepared.
for _ in $(seq 600); do
  grep -q "mountains.jpg" "$out" && break
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
expect_once "kavplay: Photos\\mountains.jpg: not a picture: no decoder accepts its data"
if grep -q "ERROR: AddressSanitizer\|runtime error:" "$out"; then fail "sanitizer report"; fi
if [ "$failures" -ne 0 ]; then
  cat "$out"
  exit 1
fi
echo "each problem of the show was said once"
