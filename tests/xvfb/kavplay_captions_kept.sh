#!/bin/bash
# A show without a slide count (its one slide stands at time 0: the engine
# lays it out again only when something changed) with a photo, four
# pictures that cast shadows and a caption, played again and again, from its
# folder and from its package by turns, while busy loops (KAV_BUSY_PER_CORE
# per core, two by default) load every core. The image-task worker makes the
# caption's picture and the shadows, the shadows' blur keeping it busy while
# the caption waits behind them, and much of it arrives after the slide's
# first layout: every play must show the caption and the four shadows, not
# the photos alone. KAV_CAPTION_PLAYS sets the number of plays (default 6).
# Usage: kavplay_captions_kept.sh KAVPLAY KAVPACK OUTDIR
set -u
source "$(dirname "$0")/xvfb_harness.sh"
xh_init "$3" "$1" "$2"
export SDL_VIDEODRIVER=x11 SDL_AUDIODRIVER=dummy
plays=${KAV_CAPTION_PLAYS:-6}
examples="$XH_DIR/../../examples/myshow"

# 1280 x 720 in a window without a frame; [Times] without opt_slidescount.
# The pictures (18 % of the slide, centres at x = -60, -20, 20, 60 % of the
# half width and y = -45 %) cast their shadows down to the right onto the
# sky; the caption is magenta, which nothing else on the slide is.
folder="$XH_OUT/show"
rm -rf "$folder"
mkdir -p "$folder/Photos"
cp "$examples/Photos/sea.jpg" "$folder/Photos/sea.jpg"
{
  printf '[Main]\nopt_scr_width=1280\nopt_scr_height=720\nopt_scr_full=0\nopt_withoutborder=1\n'
  printf 'opt_repeat=repeat\n[Times]\n[Slide1]\n'
  printf 'object Photo:Image\nGUID={photo}\nImageName=Photos\\sea.jpg\nFitMode=Cover\n'
  printf 'object k:KeyPoint\nTime=0\nScaleX=100\nScaleY=100\nend\nend\n'
  for x in -60 -20 20 60; do
    printf 'object Picture%s:Image\nGUID={picture%s}\nImageName=Photos\\sea.jpg\n' "$x" "$x"
    printf 'ShadowEnable=1\nShadowSize=60\nShadowDistance=6\nShadowOpacity=100\nShadowColor=0,0,0\n'
    printf 'object k:KeyPoint\nTime=0\nPosition=%s,-45\nScaleX=18\nScaleY=18\nend\nend\n' "$x"
  done
  printf 'object Caption:Text\nGUID={caption}\nText="Cafe by the sea"\nTextColor=255,0,255\n'
  printf 'FontName=DejaVu Sans\nobject k:KeyPoint\nTime=0\nPosition=0,75\nScaleX=14\nScaleY=14\nend\nend\n'
} >"$folder/Project.kav"
package="$XH_OUT/show.kvshow"
"$XH_PACKER" "$package" "$folder" >"$XH_OUT/kavpack.out" 2>&1 || { cat "$XH_OUT/kavpack.out"; xh_fail "the show was not packed"; }

# What a screenshot shows of the slide at (X, Y): the caption's magenta
# pixels in its band (about 8,000 when drawn), and how many of the four
# pictures have a shadow below them (a strip under the picture's bottom edge
# darker than the sky: about 120 of brightness with its shadow, 200 without).
judge() {
  "$XH_PYTHON" - "$1" "$X" "$Y" <<'EOF'
import sys
from PIL import Image
im = Image.open(sys.argv[1]).convert("RGB")
x0, y0 = int(sys.argv[2]), int(sys.argv[3])
px = im.load()
caption = 0
for y in range(y0 + 580, y0 + 690):
    for x in range(x0, x0 + 1280):
        r, g, b = px[x, y]
        if r > 180 and g < 90 and b > 180:
            caption += 1
shadows = 0
bottom = y0 + 360 - 162 + 65
for cx in (256, 512, 768, 1024):
    values = [sum(px[x0 + x, y]) / 3 for x in range(cx - 60, cx + 60, 3) for y in range(bottom + 6, bottom + 14)]
    if sum(values) / len(values) < 160:
        shadows += 1
print(caption, shadows)
EOF
}
kept() {
  xh_shot "play-$n"
  read -r caption shadows < <(judge "$XH_OUT/play-$n.png")
  [ "${caption:-0}" -ge 3000 ] && [ "${shadows:-0}" -eq 4 ]
}
# The photo's sea, below the pictures and above the caption: the slide is
# on screen.
sea_shown() {
  xh_shot "sea-$n"
  local p
  p=$(xh_pixel "sea-$n" $((X + 100)) $((Y + 490)))
  [ -n "$p" ] && [ $((16#${p:4:2})) -gt $((16#${p:0:2} + 40)) ]
}

trap 'xh_stop_busy; xh_stop_x' EXIT
xh_start_busy
xh_start_x 1280x720
for n in $(seq "$plays"); do
  if [ $((n % 2)) -eq 1 ]; then show=$folder; from="folder"; else show=$package; from="package"; fi
  xh_start_player "$show"
  # A start on busy cores under the sanitizers can take a minute.
  xh_wait_window 150 || xh_fail "play $n (from the $from): no window of the player"
  eval "$(xdotool getwindowgeometry --shell "$XH_WIN")"
  xh_until 60 sea_shown || xh_fail "play $n (from the $from): the photo never came"
  # A caption or a shadow that came at all comes within seconds of the
  # photo; one that was lost stays away.
  caption=0 shadows=0
  xh_until 60 kept || xh_fail "play $n (from the $from): the slide stands without what the worker made after its \
first layout: $caption magenta pixels of the caption (3,000 wanted) and $shadows of 4 shadows; see $XH_OUT/play-$n.png"
  echo "play $n (from the $from): the caption ($caption pixels) and 4 shadows shown"
  xh_quit_player
  grep -q "ERROR: AddressSanitizer\|runtime error:" "$XH_LOG" && xh_fail "play $n: a sanitizer report"
done
xh_stop_busy
xh_pass "$plays plays of a show without a slide count on busy cores, each with its caption and its shadows"
