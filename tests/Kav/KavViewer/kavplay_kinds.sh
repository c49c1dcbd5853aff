#!/bin/bash
# Pictures and sounds are read as what their data is, not as their names
# say. The example show with a PNG named ".jpg", a JPEG named ".png" and an
# Ogg Vorbis tune named ".mp3" packs without a word from kavpack and plays
# from its folder and packed without a word on stderr (a picture that did
# not decode would be said there), its music heard in what SDL's "disk"
# audio driver records. Each run is ended by SIGTERM once 9 s are recorded.
# A text named as the tune gets its line from kavpack.
# Usage: kavplay_kinds.sh KAVPLAY KAVPACK EXAMPLE_FOLDER WORKDIR
set -u
source "$(dirname "$0")/../../xvfb/xvfb_harness.sh"
player=$1
packer=$2
example=$3
work=$4
for tool in ffmpeg oggenc convert python3; do
  command -v "$tool" >/dev/null || { echo "no $tool: skipped"; exit 77; }
done
rm -rf "$work"
mkdir -p "$work"
xh_count_failures

show="$work/show"
cp -r "$example" "$show" || exit 1
ffmpeg -nostdin -loglevel error -i "$show/Music/tune.mp3" "$work/tune.wav" &&
  oggenc -Q -o "$show/Music/tune.mp3" "$work/tune.wav" &&
  convert "$show/Photos/sea.jpg" "PNG:$work/sea.png" &&
  mv "$work/sea.png" "$show/Photos/sea.jpg" &&
  mv "$show/Photos/mountains.jpg" "$show/Photos/mountains.png" &&
  sed -i 's/^ImageName=Photos\\mountains\.jpg$/ImageName=Photos\\mountains.png/' "$show/Project.kav" || exit 1
grep -q '^ImageName=Photos\\mountains\.png' "$show/Project.kav" || { echo "the project was not changed"; exit 1; }

"$packer" "$work/show.kvshow" "$show" 2>"$work/pack.err" || fail "kavpack failed: $(cat "$work/pack.err")"
[ -s "$work/pack.err" ] && fail "kavpack said: $(cat "$work/pack.err")"

# The peak of each whole second of a capture (16-bit stereo, 44,100 Hz).
peaks() {
  python3 - "$1" <<'PY'
import array, sys
a = array.array("h")
a.frombytes(open(sys.argv[1], "rb").read()[: 20 * 176400])
print(" ".join(str(max(map(abs, a[i : i + 88200]), default=0)) for i in range(0, len(a) - 88199, 88200)))
PY
}

for source in "$show" "$work/show.kvshow"; do
  name=$(basename "$source")
  capture="$work/$name.raw"
  out="$work/$name.err"
  SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=$capture "$player" "$source" 2>"$out" &
  pid=$!
  # 9 s of show: every slide's picture is prepared by then.
  for _ in $(seq 1800); do
    [ "$(stat -c %s "$capture" 2>/dev/null || echo 0)" -ge $((9 * 176400)) ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -TERM "$pid" 2>/dev/null
  xh_wait_end "$pid" 60 || fail "$name: did not end on SIGTERM"
  said=$(grep '^kavplay: ' "$out")
  [ -z "$said" ] || fail "$name: said: $said"
  p=$(peaks "$capture")
  loud=0
  for v in $p; do [ "$v" -gt 2000 ] && loud=$((loud + 1)); done
  [ "$loud" -ge 5 ] || fail "$name: the music was not heard (peaks of each second: $p)"
  if grep -q "ERROR: AddressSanitizer\|runtime error:" "$out"; then fail "$name: sanitizer report"; fi
  [ "$failures" -eq 0 ] || { cat "$out"; break; }
done

# A text saved as the tune (a download that failed): kavpack says so with
# the line, as kavplay does (kavplay_left_out).
printf '<!DOCTYPE html>\n<html><body><h1>404 Not Found</h1></body></html>\n' >"$show/Music/tune.mp3"
"$packer" "$work/text.kvshow" "$show" 2>"$work/text-pack.err"
line=$(grep -n -m1 '^FileName=Music.tune.mp3$' "$show/Project.kav" | cut -d: -f1)
want="$show/Project.kav:$line: warning: Music\tune.mp3: a text file, not a sound (a download that failed?): download or export the sound again"
grep -qxF -- "$want" "$work/text-pack.err" || fail "kavpack did not say: $want (it said: $(cat "$work/text-pack.err"))"
[ "$failures" -eq 0 ] || exit 1
echo "a PNG named .jpg, a JPEG named .png and an Ogg named .mp3 played from the folder and the package"
