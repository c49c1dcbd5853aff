#!/bin/bash
# What a viewer sees of a broken photo and of a long caption, in the real
# player: a JPEG whose header reads but whose data does not decode shows the
# grey "Image load error:" placeholder (not a black slide), and a caption of
# 2,000 characters keeps sharp letters of the height it is shown at (the
# part of the line on the slide has bright letter cores, not a smear).
# Usage: kavplay_pictures_captions.sh KAVPLAY KAVPACK OUTDIR
set -u
source "$(dirname "$0")/xvfb_harness.sh"
xh_init "$3" "$1" "$2"
export SDL_VIDEODRIVER=x11 SDL_AUDIODRIVER=dummy
examples="$XH_DIR/../../examples/myshow"

# A project of one slide (1280 x 720, in a window without a frame): a
# picture (60 % of the slide, in the middle) and/or a caption below it.
make_project() {
  local dir=$1 picture=$2 caption=$3
  mkdir -p "$dir/Photos"
  {
    printf '[Main]\nopt_scr_width=1280\nopt_scr_height=720\nopt_scr_full=0\nopt_withoutborder=1\n'
    printf 'opt_repeat=stop\n[Times]\nopt_slidescount=1\nopt_synchpos1=600000\n[Slide1]\n'
    if [ -n "$picture" ]; then
      printf 'object Photo:Image\nGUID={photo}\nImageName=Photos\\%s\n' "$picture"
      printf 'object k:KeyPoint\nTime=0\nScaleX=60\nScaleY=60\nend\nend\n'
    fi
    printf 'object Caption:Text\nGUID={caption}\nText="%s"\nTextColor=255,255,255\n' "$caption"
    printf 'FontName=DejaVu Sans\nShadowEnable=0\n'
    printf 'object k:KeyPoint\nTime=0\nPosition=0,75\nScaleX=14\nScaleY=14\nend\nend\n'
  } >"$dir/Project.kav"
}

# The example's photo up to its scan header, then seeded noise: libjpeg
# reads the header and refuses the data.
broken="$XH_OUT/broken"
rm -rf "$broken"
make_project "$broken" broken.jpg "A broken photo"
"$XH_PYTHON" - "$examples/Photos/sea.jpg" "$broken/Photos/broken.jpg" <<'EOF' || xh_fail "the broken photo was not made"
import random, sys
data = open(sys.argv[1], "rb").read()
i = 2
while data[i + 1] != 0xDA:
    i += 2 + (data[i + 2] << 8 | data[i + 3])
end = i + 2 + (data[i + 2] << 8 | data[i + 3])
random.seed(7)
open(sys.argv[2], "wb").write(data[:end] + bytes(random.randrange(256) for _ in range(20000)) + b"\xff\xd9")
EOF

xh_start_x 1280x720
xh_start_player "$broken"
xh_wait_window 120 || xh_fail "no window of the player"
eval "$(xdotool getwindowgeometry --shell "$XH_WIN")"
# The placeholder is wider than the slide's shape: it fills the 768 pixels
# across the middle; its grey shows left of its text.
grey_shown() {
  xh_shot broken
  xh_near "$(xh_pixel broken $((X + 266)) $((Y + 360)))" 646464 6
}
xh_until 90 grey_shown || xh_fail "the broken photo's slide shows no placeholder at ($((X + 266)), $((Y + 360))): \
$(xh_pixel broken $((X + 266)) $((Y + 360)))"
echo "the broken photo is the grey placeholder"
xh_quit_player

long="$XH_OUT/long"
rm -rf "$long"
text=
while [ ${#text} -lt 2000 ]; do text="${text}First pictures of the sea and the mountains. "; done
make_project "$long" "" "${text:0:2000}"
xh_start_player "$long"
xh_wait_window 120 || xh_fail "no window of the player"
eval "$(xdotool getwindowgeometry --shell "$XH_WIN")"
# The caption's band (14 % of 720 pixels around y = 630): a sharp rendering
# has many nearly white pixels (letter cores); a smear has almost none.
bright() {
  "$XH_PYTHON" - "$XH_OUT/long.png" "$X" "$Y" <<'EOF'
import sys
from PIL import Image
im = Image.open(sys.argv[1]).convert("RGB")
x0, y0 = int(sys.argv[2]), int(sys.argv[3])
n = 0
for y in range(y0 + 570, y0 + 690):
    for x in range(x0, x0 + 1280):
        if min(im.getpixel((x, y))) >= 0xF0:
            n += 1
print(n)
EOF
}
sharp() {
  xh_shot long
  [ "$(bright)" -ge 6000 ]
}
xh_until 120 sharp || xh_fail "the long caption is not sharp: $(bright) nearly white pixels in its band (want 6000 or more)"
echo "the long caption's letters are sharp ($(bright) nearly white pixels in its band)"
xh_quit_player

# "First pictures" in DejaVu Sans, about 105-pixel letters in the middle:
# the letters (runs of inked columns) stand where Pillow's HarfBuzz layout
# (raqm) of the same font puts them, scaled to the same width, within 2.5
# pixels (spaced by rounded small-size advances they read "Firs t").
spacing="$XH_OUT/spacing"
rm -rf "$spacing"
make_project "$spacing" "" "First pictures"
sed -i 's/^Position=0,75$/Position=0,0/; s/^ScaleX=14$/ScaleX=17/; s/^ScaleY=14$/ScaleY=17/' "$spacing/Project.kav"
font=$(fc-match "DejaVu Sans" -f '%{file}' 2>/dev/null)
[ -f "$font" ] || xh_fail "no DejaVu Sans file (fonts-dejavu-core)"
xh_start_player "$spacing"
xh_wait_window 120 || xh_fail "no window of the player"
eval "$(xdotool getwindowgeometry --shell "$XH_WIN")"
letters() {
  "$XH_PYTHON" - "$XH_OUT/spacing.png" "$X" "$Y" "$font" <<'PY'
import sys
from PIL import Image, ImageDraw, ImageFont, features

def runs(im):
    # Columns with a pixel over half ink, as runs [left, right).
    bw = im.point(lambda v: 255 if v > 128 else 0)
    box = bw.getbbox()
    if not box:
        return []
    bw = bw.crop((0, box[1], im.width, box[3]))
    px, out, inside = bw.load(), [], False
    for x in range(bw.width):
        ink = any(px[x, y] for y in range(bw.height))
        if ink and not inside:
            out.append([x, x])
        if not ink and inside:
            out[-1][1] = x
        inside = ink
    if inside:
        out[-1][1] = bw.width
    return out

if not features.check("raqm"):
    print("skip")
    sys.exit(0)
x0, y0 = int(sys.argv[2]), int(sys.argv[3])
shown = runs(Image.open(sys.argv[1]).convert("L").crop((x0, y0, x0 + 1280, y0 + 720)))
font = ImageFont.truetype(sys.argv[4], 100, layout_engine=ImageFont.Layout.RAQM)
ref_im = Image.new("L", (1400, 200))
ImageDraw.Draw(ref_im).text((20, 20), "First pictures", font=font, fill=255)
ref = runs(ref_im)
if len(shown) != len(ref) or len(ref) < 8:
    print("runs %d %d" % (len(shown), len(ref)))
    sys.exit(0)
k = (shown[-1][1] - shown[0][0]) / (ref[-1][1] - ref[0][0])
worst = max(abs((s[i] - shown[0][0]) - (r[i] - ref[0][0]) * k) for s, r in zip(shown, ref) for i in (0, 1))
print("%.2f" % worst)
PY
}
placed() {
  xh_shot spacing
  local w
  w=$(letters)
  [ "$w" = skip ] && return 0
  case $w in runs*) return 1 ;; esac
  awk -v w="$w" 'BEGIN { exit !(w <= 2.5) }'
}
xh_until 90 placed || xh_fail "the caption's letters stand apart from HarfBuzz's places: $(letters) (pixels, want 2.5 at most)"
echo "the caption's letters stand where HarfBuzz places them: $(letters) pixels at most apart"
xh_quit_player
grep -q "ERROR: AddressSanitizer\|runtime error:" "$XH_OUT"/kavplay-*.out && xh_fail "a sanitizer report"
xh_pass "a broken photo shows its placeholder, a long caption stays sharp and a caption's letters stand where the \
shaper puts them; screenshots in $XH_OUT"
