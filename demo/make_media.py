#!/usr/bin/env python3
"""Writes the pictures, sounds and the clip of the demo show into a folder.

    make_media.py [--sox PATH] [--lame PATH] [--ffmpeg PATH] [--espeak PATH] OUT

Everything is drawn or synthesised here (Pillow, sox, lame, ffmpeg and,
when present, espeak-ng), so the show carries nothing made elsewhere. The
output is the same for every run: fixed seeds, no clock. Tools run as plain
argument lists, never through a shell.
"""
import argparse
import math
import os
import random
import shutil
import subprocess
import sys
import tempfile

from PIL import Image, ImageDraw, ImageFilter

PHOTO_SIZE = (1920, 1080)


# ---------------------------------------------------------------- pictures

def lerp(a, b, t):
    return tuple(int(round(x + (y - x) * t)) for x, y in zip(a, b))


def vertical_gradient(size, stops):
    """A top-to-bottom gradient through `stops` [(position 0..1, (r, g, b))]."""
    w, h = size
    column = Image.new("RGB", (1, h))
    px = column.load()
    for y in range(h):
        t = y / max(h - 1, 1)
        for (p0, c0), (p1, c1) in zip(stops, stops[1:]):
            if p0 <= t <= p1:
                px[0, y] = lerp(c0, c1, (t - p0) / max(p1 - p0, 1e-9))
                break
    return column.resize(size, Image.BILINEAR)


def radial_glow(size, centre, radius, colour, strength):
    """An RGBA layer: `colour` fading out from `centre` over `radius`."""
    # 256 x 256, the distance from the middle (128 at the edge of the circle).
    mask = Image.radial_gradient("L").point(lambda v: int(max(0, 255 - 2 * v) * strength))
    d = int(radius * 2)
    mask = mask.resize((d, d), Image.BILINEAR)
    layer = Image.new("RGBA", size, colour + (0,))
    alpha = Image.new("L", size, 0)
    alpha.paste(mask, (int(centre[0] - radius), int(centre[1] - radius)))
    layer.putalpha(alpha)
    return layer


def soft_shapes(size, shapes, blur):
    """An RGBA layer of filled shapes [(kind, box or points, rgba)], blurred."""
    layer = Image.new("RGBA", size, (0, 0, 0, 0))
    draw = ImageDraw.Draw(layer)
    for kind, geometry, rgba in shapes:
        if kind == "ellipse":
            draw.ellipse(geometry, fill=rgba)
        else:
            draw.polygon(geometry, fill=rgba)
    return layer.filter(ImageFilter.GaussianBlur(blur)) if blur else layer


def hills(w, h, base, amplitude, waves, phase):
    points = [(0, h)]
    for x in range(0, w + 1, 16):
        y = base
        for k, (length, share) in enumerate(waves):
            y += amplitude * share * math.sin(2 * math.pi * x / length + phase * (k + 1))
        points.append((x, y))
    points.append((w, h))
    return points


def photo_sunset(rng):
    w, h = PHOTO_SIZE
    img = vertical_gradient(PHOTO_SIZE, [(0, (38, 24, 82)), (0.45, (232, 98, 84)), (0.62, (253, 196, 120)),
                                         (1, (80, 40, 60))]).convert("RGBA")
    img.alpha_composite(radial_glow(PHOTO_SIZE, (w * 0.62, h * 0.56), 420, (255, 230, 170), 0.9))
    img.alpha_composite(soft_shapes(PHOTO_SIZE, [("ellipse", (w * 0.62 - 110, h * 0.56 - 110, w * 0.62 + 110,
                                                               h * 0.56 + 110), (255, 244, 210, 255))], 3))
    for i, (base, colour) in enumerate([(700, (120, 50, 90, 255)), (790, (80, 30, 70, 255)),
                                        (900, (45, 18, 45, 255))]):
        img.alpha_composite(soft_shapes(PHOTO_SIZE, [("polygon", hills(w, h, base, 70 - i * 15,
                                                                         [(900, 0.7), (350, 0.3)],
                                                                         rng.uniform(0, 6)), colour)], 1))
    return img.convert("RGB")


def photo_sea(rng):
    w, h = PHOTO_SIZE
    img = vertical_gradient(PHOTO_SIZE, [(0, (120, 190, 235)), (0.5, (210, 236, 250)), (0.52, (30, 120, 170)),
                                         (1, (10, 50, 90))]).convert("RGBA")
    img.alpha_composite(radial_glow(PHOTO_SIZE, (w * 0.25, h * 0.22), 300, (255, 255, 240), 0.8))
    clouds = []
    for _ in range(14):
        cx, cy = rng.uniform(0, w), rng.uniform(60, h * 0.35)
        rx, ry = rng.uniform(90, 220), rng.uniform(30, 60)
        clouds.append(("ellipse", (cx - rx, cy - ry, cx + rx, cy + ry), (255, 255, 255, 150)))
    img.alpha_composite(soft_shapes(PHOTO_SIZE, clouds, 18))
    waves = []
    for row in range(12):
        y = h * 0.55 + row * row * 3.4
        for _ in range(10):
            x = rng.uniform(0, w)
            waves.append(("ellipse", (x - 60 - row * 8, y - 2, x + 60 + row * 8, y + 2 + row * 0.6),
                          (220, 240, 255, 90)))
    img.alpha_composite(soft_shapes(PHOTO_SIZE, waves, 2))
    return img.convert("RGB")


def photo_mountains(rng):
    w, h = PHOTO_SIZE
    img = vertical_gradient(PHOTO_SIZE, [(0, (20, 40, 90)), (0.6, (150, 180, 220)), (1, (235, 240, 245))]
                            ).convert("RGBA")
    for i, colour in enumerate([(110, 130, 170, 255), (70, 90, 130, 255), (40, 60, 90, 255)]):
        peaks = [(0, h)]
        x = -200
        while x < w + 200:
            peaks.append((x, h * (0.35 + 0.13 * i) + rng.uniform(-60, 60)))
            x += rng.uniform(180, 320)
            peaks.append((x, h * (0.62 + 0.1 * i)))
            x += rng.uniform(120, 260)
        peaks.append((w, h))
        img.alpha_composite(soft_shapes(PHOTO_SIZE, [("polygon", peaks, colour)], 2))
        if i == 0:
            snow = [("polygon", [(px, py), (px - 40, py + 70), (px + 40, py + 70)], (250, 250, 255, 200))
                    for px, py in peaks[1:-1:2]]
            img.alpha_composite(soft_shapes(PHOTO_SIZE, snow, 4))
    img.alpha_composite(radial_glow(PHOTO_SIZE, (w * 0.8, h * 0.2), 260, (255, 250, 230), 0.7))
    return img.convert("RGB")


def photo_aurora(rng):
    w, h = PHOTO_SIZE
    img = vertical_gradient(PHOTO_SIZE, [(0, (4, 8, 30)), (0.7, (10, 30, 60)), (1, (5, 15, 25))]).convert("RGBA")
    stars = Image.new("RGBA", PHOTO_SIZE, (0, 0, 0, 0))
    draw = ImageDraw.Draw(stars)
    for _ in range(500):
        x, y, r = rng.uniform(0, w), rng.uniform(0, h * 0.8), rng.uniform(0.6, 2.2)
        draw.ellipse((x - r, y - r, x + r, y + r), fill=(255, 255, 255, rng.randint(120, 255)))
    img.alpha_composite(stars)
    for colour, base, amp in [((60, 255, 160, 120), 0.35, 90), ((120, 120, 255, 90), 0.28, 70),
                              ((255, 90, 200, 60), 0.42, 60)]:
        band = []
        phase = rng.uniform(0, 6)
        for x in range(0, w + 1, 24):
            band.append((x, h * base + amp * math.sin(x / 260 + phase)))
        band += [(x, y + 160) for x, y in reversed(band)]
        img.alpha_composite(soft_shapes(PHOTO_SIZE, [("polygon", band, colour)], 40))
    img.alpha_composite(soft_shapes(PHOTO_SIZE, [("polygon", hills(w, h, 930, 40, [(700, 1.0)], 1.0),
                                                  (2, 4, 10, 255))], 0))
    return img.convert("RGB")


def photo_bubbles(rng):
    w, h = PHOTO_SIZE
    img = vertical_gradient(PHOTO_SIZE, [(0, (255, 200, 120)), (1, (220, 80, 140))]).convert("RGBA")
    palette = [(255, 255, 255), (255, 240, 150), (120, 220, 255), (200, 140, 255)]
    for blur, count, rmax in [(30, 14, 260), (8, 20, 140), (0, 26, 60)]:
        shapes = []
        for _ in range(count):
            x, y, r = rng.uniform(0, w), rng.uniform(0, h), rng.uniform(rmax / 3, rmax)
            shapes.append(("ellipse", (x - r, y - r, x + r, y + r), rng.choice(palette) + (rng.randint(50, 120),)))
        img.alpha_composite(soft_shapes(PHOTO_SIZE, shapes, blur))
    return img.convert("RGB")


def star_points(cx, cy, outer, inner, n, turn=0.0):
    pts = []
    for k in range(2 * n):
        r = outer if k % 2 == 0 else inner
        a = math.pi * k / n + turn - math.pi / 2
        pts.append((cx + r * math.cos(a), cy + r * math.sin(a)))
    return pts


def logo():
    """A 512 x 512 emblem on a transparent ground: ring, star, soft glow."""
    s = 512
    img = Image.new("RGBA", (s, s), (0, 0, 0, 0))
    img.alpha_composite(radial_glow((s, s), (s / 2, s / 2), 250, (255, 210, 120), 0.6))
    colour = vertical_gradient((s, s), [(0, (255, 220, 90)), (1, (230, 90, 40))]).convert("RGBA")
    mask = Image.new("L", (s, s), 0)
    draw = ImageDraw.Draw(mask)
    draw.ellipse((40, 40, s - 40, s - 40), fill=255)
    draw.ellipse((80, 80, s - 80, s - 80), fill=0)
    draw.polygon(star_points(s / 2, s / 2, 160, 70, 5), fill=255)
    colour.putalpha(mask.filter(ImageFilter.GaussianBlur(1.2)))
    img.alpha_composite(colour)
    return img


def mask_star():
    """The stencil of the masked slide: a white star, transparent around it."""
    s = 512
    img = Image.new("RGBA", (s, s), (255, 255, 255, 0))
    alpha = Image.new("L", (s, s), 0)
    ImageDraw.Draw(alpha).polygon(star_points(s / 2, s / 2 + 14, 250, 105, 5), fill=255)
    img.putalpha(alpha.filter(ImageFilter.GaussianBlur(1.0)))
    return img


def sprite_sheet():
    """Eight 128 x 128 frames (4 columns, 2 rows) of a turning pinwheel."""
    cell, cols, rows = 128, 4, 2
    img = Image.new("RGBA", (cell * cols, cell * rows), (0, 0, 0, 0))
    colours = [(255, 90, 90, 255), (255, 200, 60, 255), (90, 200, 120, 255), (80, 150, 255, 255)]
    for f in range(cols * rows):
        ox, oy = (f % cols) * cell, (f // cols) * cell
        draw = ImageDraw.Draw(img)
        c = cell / 2
        for k in range(4):
            a0 = f * math.pi / 16 + k * math.pi / 2
            pts = [(ox + c, oy + c)]
            for step in range(9):
                a = a0 + step * (math.pi / 2.6) / 8
                pts.append((ox + c + 56 * math.cos(a), oy + c + 56 * math.sin(a)))
            draw.polygon(pts, fill=colours[k])
        draw.ellipse((ox + c - 9, oy + c - 9, ox + c + 9, oy + c + 9), fill=(255, 255, 255, 255))
    return img


def button_skin(top, bottom, border):
    """One look of the button skin: 96 x 48, rounded, with a glossy top half.
    Drawn four times as large and scaled down, so that the rounded outline
    has smooth edges (Pillow draws shapes without antialiasing)."""
    w, h, k = 96, 48, 4
    W, H = w * k, h * k
    body = vertical_gradient((W, H), [(0, top), (1, bottom)]).convert("RGBA")
    shape = Image.new("L", (W, H), 0)
    ImageDraw.Draw(shape).rounded_rectangle((0, 0, W - 1, H - 1), radius=20 * k, fill=255)
    body.putalpha(shape)
    gloss = Image.new("RGBA", (W, H), (255, 255, 255, 0))
    ImageDraw.Draw(gloss).rounded_rectangle((4 * k, 3 * k, W - 5 * k, H // 2), radius=14 * k,
                                            fill=(255, 255, 255, 70))
    body.alpha_composite(gloss)
    ImageDraw.Draw(body).rounded_rectangle((0, 0, W - 1, H - 1), radius=20 * k, outline=border + (255,), width=2 * k)
    # Premultiplied while scaling, so that the edges keep their colour.
    return body.convert("RGBa").resize((w, h), Image.LANCZOS).convert("RGBA")


# ---------------------------------------------------------------- sounds

NOTE = {"C3": 130.81, "E3": 164.81, "F3": 174.61, "G3": 196.00, "A3": 220.00, "B3": 246.94,
        "C4": 261.63, "D4": 293.66, "E4": 329.63, "F4": 349.23, "G4": 392.00, "A4": 440.00,
        "B4": 493.88, "C5": 523.25, "D5": 587.33, "E5": 659.25, "G5": 783.99}

# Four bars of two seconds (120 beats a minute): chord tones and a melody
# of eighth notes.
PROGRESSION = [
    (["C3", "E4", "G4"], ["C5", "G4", "E4", "G4", "C5", "D5", "E5", "D5"]),
    (["A3", "C4", "E4"], ["A4", "E4", "C5", "E4", "A4", "B4", "C5", "B4"]),
    (["F3", "A3", "C4"], ["F4", "A4", "C5", "A4", "F4", "G4", "A4", "C5"]),
    (["G3", "B3", "D4"], ["G4", "B4", "D5", "B4", "G5", "D5", "B4", "G4"]),
]
RATE = "44100"


def run(args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def synth_tune(sox, lame, out_mp3, tmp):
    """About 34 s: the four bars eight times and a closing chord, with a kick
    drum on every beat and a hand clap on beats two and four."""
    parts = []
    for i, (chord, melody) in enumerate(PROGRESSION):
        pad = os.path.join(tmp, "pad%d.wav" % i)
        args = [sox, "-R", "-n", "-r", RATE, "-c", "1", pad, "synth", "2"]
        for n in chord:
            args += ["pluck", str(NOTE[n])]
        run(args + ["remix", "-", "gain", "-8"])
        notes = []
        for k, n in enumerate(melody):
            f = os.path.join(tmp, "m%d_%d.wav" % (i, k))
            run([sox, "-R", "-n", "-r", RATE, "-c", "1", f, "synth", "0.25", "triangle", str(NOTE[n]),
                 "fade", "q", "0.01", "0.25", "0.18", "gain", "-14"])
            notes.append(f)
        line = os.path.join(tmp, "line%d.wav" % i)
        run([sox, "-R"] + notes + [line])
        bar = os.path.join(tmp, "bar%d.wav" % i)
        run([sox, "-R", "-m", pad, line, bar])
        parts.append(bar)
    bars = os.path.join(tmp, "bars.wav")
    run([sox, "-R"] + parts + [bars])
    kick = os.path.join(tmp, "kick.wav")
    run([sox, "-R", "-n", "-r", RATE, "-c", "1", kick, "synth", "0.14", "sine", "150:45", "fade", "q", "0.002", "0.14",
         "0.12", "pad", "0", "0.36", "gain", "-3"])
    clap = os.path.join(tmp, "clap.wav")
    run([sox, "-R", "-n", "-r", RATE, "-c", "1", clap, "synth", "0.08", "pinknoise", "fade", "q", "0.001", "0.08",
         "0.07", "pad", "0.5", "0.42", "gain", "-12"])
    beat = os.path.join(tmp, "beat.wav")  # two beats: kick, kick with clap
    kick2 = os.path.join(tmp, "kick2.wav")
    run([sox, "-R", kick, kick, kick2])
    run([sox, "-R", "-m", kick2, clap, beat])
    drums = os.path.join(tmp, "drums.wav")
    run([sox, "-R", beat, drums, "repeat", "1"])  # one bar
    # One bar of drums under each of the four bars.
    groove = os.path.join(tmp, "groove.wav")
    drums4 = os.path.join(tmp, "drums4.wav")
    run([sox, "-R", drums, drums4, "repeat", "3"])
    run([sox, "-R", "-m", bars, drums4, groove])
    song = os.path.join(tmp, "song.wav")
    ending = os.path.join(tmp, "ending.wav")
    args = [sox, "-R", "-n", "-r", RATE, "-c", "1", ending, "synth", "2"]
    for n in ["C3", "E4", "G4", "C5"]:
        args += ["pluck", str(NOTE[n])]
    run(args + ["remix", "-", "gain", "-8"])
    looped = os.path.join(tmp, "looped.wav")
    run([sox, "-R", groove, looped, "repeat", "3"])
    run([sox, "-R", looped, ending, song, "norm", "-1", "fade", "t", "0.05", "-0", "1.5"])
    run([lame, "--quiet", "-b", "96", song, out_mp3])


def speak_comment(espeak, sox, out_wav, tmp):
    """The sound comment of the first slide: spoken when espeak-ng is there,
    else a short chime."""
    text = "Welcome to the Kav demo show. Pictures, texts, music and a video clip."
    raw = os.path.join(tmp, "voice.wav")
    if espeak:
        run([espeak, "-v", "en", "-s", "150", "-w", raw, text])
    else:
        run([sox, "-R", "-n", "-r", RATE, "-c", "1", raw, "synth", "1.2", "pluck", "C5", "pluck", "E5", "pluck", "G5",
             "remix", "-"])
    run([sox, "-R", raw, "-r", "22050", "-c", "1", "-b", "16", out_wav, "norm", "-2", "pad", "0.2", "0.3"])


def make_clip(ffmpeg, out_mp4):
    """A 3-second clip, 25 frames a second, 640 x 360: a sweeping bar and the
    frame number drawn large, so a player's frame choice can be read off."""
    w, h, frames = 640, 360, 75
    digits = {  # seven-segment digits: segments a b c d e f g
        "0": "abcdef", "1": "bc", "2": "abdeg", "3": "abcdg", "4": "bcfg",
        "5": "acdfg", "6": "acdefg", "7": "abc", "8": "abcdefg", "9": "abcdfg"}
    proc = subprocess.Popen([ffmpeg, "-y", "-loglevel", "error", "-f", "rawvideo", "-pix_fmt", "rgb24", "-s",
                             "%dx%d" % (w, h), "-r", "25", "-i", "-", "-c:v", "mpeg4", "-q:v", "5", "-pix_fmt",
                             "yuv420p", "-an", out_mp4], stdin=subprocess.PIPE)
    for f in range(frames):
        t = f / (frames - 1)
        img = vertical_gradient((w, h), [(0, lerp((30, 60, 120), (120, 40, 90), t)),
                                         (1, lerp((10, 20, 40), (40, 10, 30), t))])
        draw = ImageDraw.Draw(img)
        x = int(t * (w - 60))
        draw.rectangle((x, 0, x + 60, h), fill=(255, 200, 80))
        text = "%02d" % f
        for i, ch in enumerate(text):
            ox, oy, sw, sh, th = 200 + i * 130, 90, 100, 90, 16
            seg = {"a": (ox, oy, ox + sw, oy + th), "b": (ox + sw - th, oy, ox + sw, oy + sh),
                   "c": (ox + sw - th, oy + sh, ox + sw, oy + 2 * sh), "d": (ox, oy + 2 * sh - th, ox + sw,
                                                                             oy + 2 * sh),
                   "e": (ox, oy + sh, ox + th, oy + 2 * sh), "f": (ox, oy, ox + th, oy + sh),
                   "g": (ox, oy + sh - th // 2, ox + sw, oy + sh + th // 2)}
            for s in digits[ch]:
                draw.rectangle(seg[s], fill=(255, 255, 255))
        draw.rectangle((0, h - 12, int(w * t), h), fill=(90, 220, 140))
        proc.stdin.write(img.tobytes())
    proc.stdin.close()
    if proc.wait() != 0:
        raise RuntimeError("ffmpeg failed")


# ---------------------------------------------------------------- main

def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--sox", default=shutil.which("sox"))
    ap.add_argument("--lame", default=shutil.which("lame"))
    ap.add_argument("--ffmpeg", default=shutil.which("ffmpeg"))
    ap.add_argument("--espeak", default=shutil.which("espeak-ng"))
    ap.add_argument("out")
    a = ap.parse_args()
    for tool in ("sox", "lame", "ffmpeg"):
        if not getattr(a, tool):
            sys.exit("make_media.py: %s not found" % tool)

    def path(*parts):
        p = os.path.join(a.out, *parts)
        os.makedirs(os.path.dirname(p), exist_ok=True)
        return p

    rng = random.Random(20261207)
    photos = [photo_sunset, photo_sea, photo_mountains, photo_aurora, photo_bubbles]
    for i, make in enumerate(photos, 1):
        make(rng).save(path("Photos", "photo%d.jpg" % i), quality=86, optimize=True)
    logo().save(path("Pictures", "logo.png"), optimize=True)
    mask_star().save(path("Pictures", "star.png"), optimize=True)
    sprite_sheet().save(path("Pictures", "pinwheel.png"), optimize=True)
    # Deep enough colours for the white label to stand out on the gloss.
    looks = {"normal": ((80, 150, 240), (25, 75, 185), (15, 40, 110)),
             "hover": ((110, 180, 255), (40, 105, 220), (25, 60, 140)),
             "click": ((25, 75, 185), (80, 150, 235), (15, 40, 110))}
    for name, (top, bottom, border) in looks.items():
        button_skin(top, bottom, border).save(path("Buttons", "Glass", name + ".png"))
    with tempfile.TemporaryDirectory() as tmp:
        synth_tune(a.sox, a.lame, path("Music", "tune.mp3"), tmp)
        speak_comment(a.espeak, a.sox, path("Sound", "welcome.wav"), tmp)
    make_clip(a.ffmpeg, path("Video", "counter.mp4"))


if __name__ == "__main__":
    main()
