#!/usr/bin/env python3
"""Writes a packed colour show for the X server tests.

    make_colour_show.py --packer KAVPACK [options] OUT.kvshow

Every slide is one solid colour (the table below, in order) with its number
drawn big in the middle, so "which slide is on screen" is one sampled pixel
away from the middle (see xvfb_harness.sh, which reads the same table through
--print-colours). The project folder is written next to OUT (OUT without its
extension, plus ".d") and packed with the test packer.

Options:
  --slides N          number of slides (default 4)
  --size WxH          the show's size and the pictures' size (default 1280x800)
  --slide-ms MS       time of each slide (default 4000)
  --effect-ms MS      transition between slides, 0 for a cut (default 0)
  --effect KIND       the transition's kind (default dissolve)
  --effect-param K=V  a parameter of the transition (repeatable), e.g.
                      cols=256 for a mosaic
  --full 0|1          opt_scr_full (default 1)
  --window WxH        opt_scr_width x opt_scr_height for a windowed show
                      (default: the show's size)
  --border 0|1        a windowed show with a border (opt_withoutborder 0);
                      default 1
  --hider RRGGBB      opt_scr_hidercolor as six hex digits (default 500050)
  --repeat MODE       opt_repeat: repeat, close or stop (default repeat)
  --title TEXT        projectname and opt_scr_caption (default "Colour show")
  --music WAV         a tune of the show's music, played after the ones
                      before it (repeatable); copied into the project
  --syncmode 0|1      opt_syncmode: the music in step with the slides (1)
                      or free of them (0, the default)
  --print-colours     print the slide colours as "RRGGBB" lines and exit

Pillow draws the pictures (Debian's python3-pil); the packer runs as a plain
argument list, never through a shell.
"""
import argparse
import os
import shutil
import subprocess
import sys

# Slide colours: far from each other, from black, white and the hider colour.
COLOURS = [
    (220, 30, 30), (30, 170, 40), (30, 60, 220), (230, 200, 20),
    (20, 200, 210), (240, 120, 10), (130, 60, 20), (150, 150, 150),
]

FONTS = [
    "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf",
    "/usr/share/fonts/truetype/noto/NotoSans-Bold.ttf",
]


def size_arg(text):
    w, _, h = text.lower().partition("x")
    return int(w), int(h)


def draw_slide(path, size, colour, number):
    from PIL import Image, ImageDraw, ImageFont
    img = Image.new("RGB", size, colour)
    d = ImageDraw.Draw(img)
    font = None
    for name in FONTS:
        if os.path.exists(name):
            font = ImageFont.truetype(name, size[1] // 3)
            break
    if font is None:
        font = ImageFont.load_default()
    text = str(number)
    box = d.textbbox((0, 0), text, font=font)
    x = (size[0] - (box[2] - box[0])) // 2 - box[0]
    y = (size[1] - (box[3] - box[1])) // 2 - box[1]
    ink = (0, 0, 0) if sum(colour) > 380 else (255, 255, 255)
    d.text((x, y), text, fill=ink, font=font)
    img.save(path, "BMP")


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--packer")
    p.add_argument("--slides", type=int, default=4)
    p.add_argument("--size", type=size_arg, default=(1280, 800))
    p.add_argument("--slide-ms", type=int, default=4000)
    p.add_argument("--effect-ms", type=int, default=0)
    p.add_argument("--effect", default="dissolve")
    p.add_argument("--effect-param", action="append", default=[])
    p.add_argument("--full", type=int, default=1)
    p.add_argument("--window", type=size_arg)
    p.add_argument("--border", type=int, default=1)
    p.add_argument("--hider", default="500050")
    p.add_argument("--repeat", default="repeat")
    p.add_argument("--title", default="Colour show")
    p.add_argument("--music", action="append", default=[])
    p.add_argument("--syncmode", type=int, default=0)
    p.add_argument("--print-colours", action="store_true")
    p.add_argument("out", nargs="?")
    a = p.parse_args()
    if a.print_colours:
        for c in COLOURS:
            print("%02X%02X%02X" % c)
        return 0
    if not a.out or not a.packer:
        p.error("OUT and --packer are needed")
    if not 1 <= a.slides <= len(COLOURS):
        p.error("1 to %d slides" % len(COLOURS))
    folder = os.path.splitext(a.out)[0] + ".d"
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(os.path.join(folder, "Slides"))
    w, h = a.size
    win = a.window or a.size
    lines = [
        "[Main]", "KavVersion=8.0.1", "projectname=%s" % a.title,
        "opt_scr_width=%d" % win[0], "opt_scr_height=%d" % win[1],
        "opt_scr_full=%d" % a.full, "opt_withoutborder=%d" % (0 if a.border else 1),
        "opt_scr_caption=%s" % a.title, "opt_repeat=%s" % a.repeat,
        "opt_pausewheninactive=0", "opt_manualshow=0",
        "opt_scr_hidercolor=%d" % int(a.hider, 16), "opt_hidecursor=0", "opt_syncmode=%d" % a.syncmode,
        "object TheEffect:AnEffect", "time=%d" % a.effect_ms,
        "object %s:Effect" % a.effect, "checked=1", *a.effect_param, "end", "end",
    ]
    if a.music:
        import wave
        os.makedirs(os.path.join(folder, "Music"))
        lines += ["object Music:TMusic", "object Track1:TMusicTrack"]
        for i, path in enumerate(a.music):
            name = os.path.basename(path)
            shutil.copyfile(path, os.path.join(folder, "Music", name))
            with wave.open(path, "rb") as tune:
                ms = tune.getnframes() * 1000 // tune.getframerate()
            lines += ["object Tune%d:TMusicItem" % (i + 1), "FileName=Music\\%s" % name, "Duration=%d" % ms, "end"]
        lines += ["end", "end"]
    lines += ["[Times]", "opt_slidescount=%d" % a.slides]
    for i in range(a.slides):
        lines.append("opt_synchpos%d=%d" % (i + 1, (i + 1) * a.slide_ms))
    for i in range(a.slides):
        name = "Slides\\slide%d.bmp" % (i + 1)
        draw_slide(os.path.join(folder, "Slides", "slide%d.bmp" % (i + 1)), (w, h), COLOURS[i], i + 1)
        lines += [
            "[Slide%d]" % (i + 1), "slideid=colour%d" % (i + 1), "Picture=%s" % name,
            "object TheEffect:AnEffect", "ref=%s" % a.effect, "time=%d" % a.effect_ms, "end",
            "object Picture:Image", "GUID={colour-%d}" % (i + 1), "ImageName=%s" % name,
            "FitMode=Cover", "object k:KeyPoint", "Time=0", "end", "end",
        ]
    with open(os.path.join(folder, "Project.kav"), "w", encoding="utf-8-sig", newline="\r\n") as f:
        f.write("\n".join(lines) + "\n")
    subprocess.run([a.packer, a.out, folder], check=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
