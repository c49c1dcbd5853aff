#!/bin/bash
# What an author leaves out without the player failing (an object's GUID,
# a picture's ImageName, the music's FileName or Duration, the [Times]
# section or its opt_slidescount, a transition kind in [Main]'s effect list),
# values written in another form (a decimal comma, seconds for milliseconds),
# a slide's header written twice, a music start past the end of its file,
# a picture in a format no decoder reads (a WebP, from the folder and from
# the packed show), a sound that is a text (a web page, from both) and an
# empty sound in a packed show: for each the player says one line on stderr with
# the project line and what to write, the line kavpack prints. One run of
# the player per case, ended by SIGTERM once the line is there.
# Usage: kavplay_left_out.sh KAVPLAY KAVPACK EXAMPLE_FOLDER WORKDIR
set -u
source "$(dirname "$0")/../../xvfb/xvfb_harness.sh"
player=$1
packer=$2
example=$3
work=$4
rm -rf "$work"
mkdir -p "$work"
xh_count_failures
webp() { printf 'RIFF\x24\0\0\0WEBPVP8 \x18\0\0\0xxxxxxxxxxxxxxxxxxxxxxxx' >"$1"; }
# The page a failed download saves under the sound's name.
notfound() { printf '<!DOCTYPE html>\n<html><body><h1>404 Not Found</h1></body></html>\n' >"$1"; }
# The line number of the first line of the project that is exactly $1.
line_of() { grep -nxF -m1 -- "$1" "$project" | cut -d: -f1; }

# Each case: a name, then the edit of the folder (run with $project and
# $show set), then the line kavplay is to say (evaluated after the edit).
cases=(
  guid "sed -i '/^GUID={myshow-2-photo}\$/d' \"\$project\""
  'L=$(($(line_of "ImageName=Photos\mountains.jpg") - 1)); echo "Project.kav:$L: object Photo:Image: no GUID line: the object is not shown; add a line GUID= with a text no other object has, such as GUID={Photo-$L}"'
  duration "sed -i '/^Duration=12000\$/d' \"\$project\""
  'echo "Project.kav:$(line_of "object Tune:TMusicItem"): object Tune:TMusicItem: no Duration line: it plays for 0 ms and is not heard; add Duration= with the milliseconds it plays, such as Duration=12000 (the length of the show)"'
  filename "sed -i '/^FileName=Music.tune.mp3\$/d' \"\$project\""
  'echo "Project.kav:$(line_of "object Tune:TMusicItem"): object Tune:TMusicItem: no FileName line: nothing plays; add FileName= with the music'"'"'s path below the project folder, such as FileName=Music\tune.mp3"'
  imagename "sed -i '0,/^ImageName=Photos.mountains.jpg\$/{/^ImageName=Photos.mountains.jpg\$/d}' \"\$project\""
  'L=$(($(line_of "GUID={myshow-2-photo}") - 1)); echo "Project.kav:$L: object Photo:Image: no ImageName line: the image shows nothing; add ImageName= with the picture'"'"'s path below the project folder, such as ImageName=Photos\sea.jpg"'
  times "sed -i '/^\\[Times\\]\$/,/^\$/d' \"\$project\""
  'echo "Project.kav:$(line_of "[Slide1]"): [Times]: no such section: no slide has a time, so the show does not go from slide to slide; add a section [Times] with opt_slidescount=4 and opt_synchpos1 to opt_synchpos4, the time each slide ends in milliseconds"'
  slidescount "sed -i '/^opt_slidescount=4\$/d' \"\$project\""
  'echo "Project.kav:$(line_of "[Times]"): opt_slidescount: missing from [Times]: the show has no slides; add opt_slidescount=4 (the number of [SlideN] sections)"'
  effect "sed -i '/^object flip:Effect\$/,/^end\$/d' \"\$project\""
  'echo "Project.kav:$(line_of "ref=flip"): ref=flip: flip is not in the effect list of [Main] (object TheEffect:AnEffect, line $(line_of "object TheEffect:AnEffect")): slide 4 comes in as a cut; add an object flip:Effect with checked=1 and its settings to that list"'
  duration-form "sed -i 's/^Duration=12000\$/Duration=18.5/' \"\$project\""
  'echo "Project.kav:$(line_of "Duration=18.5"): Duration=18.5: not a whole number of milliseconds: it reads as 0, no length: alone the piece is not heard, and before other pieces it plays on under them to the end of its file; Duration counts milliseconds: for 18.5 seconds write Duration=18500"'
  effect-value "sed -i 's/^object flip:Effect\$/&\n3dvolume=0,5/' \"\$project\""
  'echo "Project.kav:$(line_of "3dvolume=0,5"): 3dvolume=0,5: not a number: the transition takes its own default for it; the decimal mark is a point: write 3dvolume=0.5"'
  scale-form "sed -i '0,/^ScaleX=14\$/s//ScaleX=9,5/' \"\$project\""
  'echo "Project.kav:$(line_of "ScaleX=9,5"): ScaleX=9,5: not a number: it reads as 100, the default: as wide as what holds it; the decimal mark is a point: write ScaleX=9.5"'
  slide-twice "sed -i 's/^\\[Slide3\\]\$/[Slide2]/' \"\$project\""
  'L=$(grep -nxF "[Slide2]" "$project" | sed -n 2p | cut -d: -f1); echo "Project.kav:$L: [Slide2]: appears twice, lines $(line_of "[Slide2]") and $L: the lines under the second header join the first'"'"'s, so slide 2 shows the objects of both and slide 3 has no section of its own (rename the second [Slide3]?)"'
  start-past-end "sed -i 's/^StartTime=0\$/StartTime=600000/' \"\$project\""
  'echo "Project.kav:$(line_of "StartTime=600000"): StartTime=600000: past the end of Music\tune.mp3, which is 12068 ms long: the piece is silent; write a StartTime below 12068"'
  start-past-end-packed "sed -i 's/^StartTime=0\$/StartTime=600000/' \"\$project\"; \"\$packer\" \"\$work/\$name.kvshow\" \"\$show\" 2>/dev/null; show=\"\$work/\$name.kvshow\""
  'echo "Project.kav:$(line_of "StartTime=600000"): StartTime=600000: past the end of Music\tune.mp3, which is 12068 ms long: the piece is silent; write a StartTime below 12068"'
  webp-folder "webp \"\$show/Photos/mountains.jpg\""
  'echo "Project.kav:$(line_of "ImageName=Photos\mountains.jpg"): Photos\mountains.jpg: a WebP picture, which the player does not read (it shows JPEG, PNG, GIF and BMP pictures): convert it to JPEG or PNG"'
  webp-packed "webp \"\$show/Photos/mountains.jpg\"; \"\$packer\" \"\$work/\$name.kvshow\" \"\$show\" 2>/dev/null; show=\"\$work/\$name.kvshow\""
  'echo "Project.kav:$(line_of "ImageName=Photos\mountains.jpg"): Photos\mountains.jpg: a WebP picture, which the player does not read (it shows JPEG, PNG, GIF and BMP pictures): convert it to JPEG or PNG"'
  text-folder "notfound \"\$show/Music/tune.mp3\""
  'echo "Project.kav:$(line_of "FileName=Music\tune.mp3"): Music\tune.mp3: a text file, not a sound (a download that failed?): download or export the sound again"'
  text-packed "notfound \"\$show/Music/tune.mp3\"; \"\$packer\" \"\$work/\$name.kvshow\" \"\$show\" 2>/dev/null; show=\"\$work/\$name.kvshow\""
  'echo "Project.kav:$(line_of "FileName=Music\tune.mp3"): Music\tune.mp3: a text file, not a sound (a download that failed?): download or export the sound again"'
  empty-packed ": >\"\$show/Music/tune.mp3\"; \"\$packer\" \"\$work/\$name.kvshow\" \"\$show\" 2>/dev/null; show=\"\$work/\$name.kvshow\""
  'echo "Project.kav:$(line_of "FileName=Music\tune.mp3"): Music\tune.mp3: the file is empty (0 bytes): copy it into the project folder again"'
)

for ((i = 0; i < ${#cases[@]}; i += 3)); do
  name=${cases[i]}
  show="$work/$name"
  cp -r "$example" "$show" || exit 1
  project="$show/Project.kav"
  eval "${cases[i + 1]}"
  want="kavplay: $(eval "${cases[i + 2]}")"
  out="$work/$name.err"
  SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy "$player" "$show" 2>"$out" &
  pid=$!
  # The picture is said when its slide is prepared.
  for _ in $(seq 900); do
    grep -qxF -- "$want" "$out" && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -TERM "$pid" 2>/dev/null
  xh_wait_end "$pid" 60 || fail "$name: did not end on SIGTERM"
  n=$(grep -cxF -- "$want" "$out")
  [ "$n" -eq 1 ] || fail "$name: said $n times (want 1): $want"
  # Nothing else is said: the one mistake, one line.
  others=$(grep '^kavplay: ' "$out" | grep -vxF -- "$want")
  [ -z "$others" ] || fail "$name: more was said: $others"
  if grep -q "ERROR: AddressSanitizer\|runtime error:" "$out"; then fail "$name: sanitizer report"; fi
  [ "$failures" -eq 0 ] || { cat "$out"; break; }
done
[ "$failures" -eq 0 ] || exit 1
echo "each thing left out was said once, with its line"
