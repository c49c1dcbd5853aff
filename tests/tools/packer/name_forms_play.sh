#!/bin/bash
# The README's example show with its file names written in each form a
# folder reads: "Photos/sea.jpg", ".\Photos\sea.jpg" and "Photos\\sea.jpg"
# (the pictures and the music alike). kavpack packs each without a word, and
# the show file draws the same pixels and plays the same sound as the folder:
# played in an X server until the screen stands still on slide 1, the sound
# going through SDL's "disk" driver into a file. The picture must be the
# photo (not the grey placeholder) and the sound the tune (a 440 Hz tone),
# from the folder and from the show file alike, and the player must say
# nothing of a missing file.
# Usage: name_forms_play.sh KAVPLAY KAVPACK README OUTDIR
set -u
source "$(dirname "$0")/../../xvfb/xvfb_harness.sh"
xh_init "$4" "$1" "$2"
readme=$3
ffmpeg=$(command -v ffmpeg) || { echo "no ffmpeg: skipped"; exit 77; }
export SDL_VIDEODRIVER=x11
work=$XH_OUT/work
rm -rf "$work"
mkdir -p "$work/media/Photos" "$work/media/Music"

quiet() { "$@" -hide_banner -loglevel error -y; }
quiet "$ffmpeg" -f lavfi -i "testsrc2=size=960x540:rate=1" -frames:v 1 "$work/media/Photos/sea.jpg" &&
  quiet "$ffmpeg" -f lavfi -i "smptebars=size=960x540:rate=1" -frames:v 1 "$work/media/Photos/mountains.jpg" &&
  quiet "$ffmpeg" -f lavfi -i "sine=frequency=440:duration=30" -c:a libmp3lame -b:a 64k "$work/media/Music/tune.mp3" ||
  { echo "ffmpeg could not make the media: skipped"; exit 77; }

# The README's whole show; its first slide stays a minute, the music plays
# as long as the test looks and listens.
awk '/^<!-- snippet: show -->$/ { want = 1; next }
     want && /^```ini$/ { inside = 1; next }
     inside && /^```$/ { exit }
     inside { print }' "$readme" >"$work/readme.kav"
grep -q '^ImageName=Photos\\sea.jpg$' "$work/readme.kav" || xh_fail "no example show with Photos\\sea.jpg in $readme"
sed -i -e 's/^opt_synchpos1=.*/opt_synchpos1=60000/' -e 's/^opt_synchpos2=.*/opt_synchpos2=120000/' \
  -e 's/^Duration=12000$/Duration=30000/' "$work/readme.kav"

# The rms level and the frequency (from zero crossings) of the loud part of
# a capture (16-bit stereo at 44100 Hz, as the device opens); "0 0" while
# there is less than half a second of it.
tone() {
  "$XH_TOOL_PYTHON" - "$1" <<'EOF'
import array, math, sys
data = array.array("h")
with open(sys.argv[1], "rb") as f:
    raw = f.read()
data.frombytes(raw[: len(raw) // 4 * 4])
left = data[0::2]
# From the first loud sample to the last.
loud = [i for i, v in enumerate(left) if abs(v) > 1000]
part = left[loud[0] : loud[-1] + 1] if loud else []
if len(part) < 22050:
    print("0 0")
    sys.exit()
rms = math.sqrt(sum(v * v for v in part) / len(part))
crossings = sum(1 for a, b in zip(part, part[1:]) if a < 0 <= b)
print(int(rms), round(crossings * 44100 / len(part)))
EOF
}
heard() {
  xh_alive || xh_fail "$1: the player ended"
  set -- $(tone "$2")
  [ "$1" -gt 1000 ]
}

# Whether the screen shows the photo's colours rather than grey or black.
saturation=
colourful() {
  xh_alive || xh_fail "$1: the player ended"
  import -window root "$XH_OUT/$1.png" 2>/dev/null || return 1
  saturation=$(convert "$XH_OUT/$1.png" -colorspace HSL -channel G -separate -format '%[fx:mean]' info:)
  awk -v s="$saturation" 'BEGIN { exit !(s > 0.2) }'
}

# Plays SHOW, moves its window to the corner and waits for a still screen
# (NAME.png) and half a second of sound (NAME.raw).
play() {
  local name=$1 show=$2
  rm -f "$XH_OUT/$name.raw"
  SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$XH_OUT/$name.raw" xh_start_player "$show" -log
  xh_wait_window 120 || xh_fail "$name: no window of the player"
  xdotool windowmove --sync "$XH_WIN" 0 0 2>/dev/null || xdotool windowmove "$XH_WIN" 0 0
  # The photo comes in (the placeholder is grey), then the transition ends.
  xh_until 120 colourful "$name" || xh_fail "$name: no photo on screen (saturation $saturation)"
  xh_wait_still "$XH_OUT/$name" 120 0 || xh_fail "$name: the screen did not stand still"
  xh_until 120 heard "$name" "$XH_OUT/$name.raw" || xh_fail "$name: no sound in $XH_OUT/$name.raw"
  xh_quit_player
  grep -q "no such file\|placeholder\|not found\|does not play" "$XH_LOG" &&
    xh_fail "$name: $(grep -m 3 "no such file\|placeholder\|not found\|does not play" "$XH_LOG")"
  cp "$XH_LOG" "$XH_OUT/$name.log"
}

xh_start_x 1280x800
for form in slash dot double; do
  dir=$work/$form
  cp -r "$work/media" "$dir"
  case $form in
    slash) expression='s#^\(ImageName\|FileName\)=\([A-Za-z]*\)\\#\1=\2/#' ;;
    dot) expression='s#^\(ImageName\|FileName\)=\([A-Za-z]\)#\1=.\\\2#' ;;
    double) expression='s#^\(ImageName\|FileName\)=\([A-Za-z]*\)\\#\1=\2\\\\#' ;;
  esac
  sed "$expression" "$work/readme.kav" >"$dir/Project.kav"
  echo "$form: $(grep '^\(ImageName\|FileName\)=' "$dir/Project.kav" | tr '\n' ' ')"
  [ "$(grep -c '^\(ImageName\|FileName\)=Photos\\[a-z]*\.jpg$\|^FileName=Music\\tune.mp3$' "$dir/Project.kav")" = 0 ] ||
    xh_fail "$form: a name kept its first form"
  "$XH_PACKER" "$dir.kvshow" "$dir" >"$XH_OUT/$form.pack.out" 2>&1 || xh_fail "$form: kavpack: $(cat "$XH_OUT/$form.pack.out")"
  [ -s "$XH_OUT/$form.pack.out" ] && xh_fail "$form: kavpack said: $(cat "$XH_OUT/$form.pack.out")"

  play "$form-folder" "$dir"
  play "$form-packed" "$dir.kvshow"
  # The same pixels.
  moved=$(compare -metric AE "$XH_OUT/$form-folder.png" "$XH_OUT/$form-packed.png" null: 2>&1 | cut -d' ' -f1)
  [ "${moved:-1}" -le 0 ] 2>/dev/null || xh_fail "$form: the show file draws $moved pixels otherwise than the folder"
  # The same sound: the tune's tone, at its level, from both.
  read -r folder_rms folder_hz <<<"$(tone "$XH_OUT/$form-folder.raw")"
  read -r packed_rms packed_hz <<<"$(tone "$XH_OUT/$form-packed.raw")"
  echo "$form: folder $folder_rms rms $folder_hz Hz, show file $packed_rms rms $packed_hz Hz"
  for hz in "$folder_hz" "$packed_hz"; do
    [ "$hz" -ge 400 ] && [ "$hz" -le 480 ] || xh_fail "$form: a tone of $hz Hz where the tune is 440 Hz"
  done
  awk -v a="$folder_rms" -v b="$packed_rms" 'BEGIN { exit !(b > a * 0.8 && b < a * 1.25) }' ||
    xh_fail "$form: the show file plays at $packed_rms rms, the folder at $folder_rms"
done
xh_pass "each name form plays the same pixels and sound from the folder and from the show file"
