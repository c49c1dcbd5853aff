#!/usr/bin/python3
"""Writes sample GIFs into the folder named by the first argument, made with
Pillow from seeded noise, and beside each still sample the RGBA bytes of its
first frame as Pillow decodes them (<name>.rgba)."""
import os
import random
import sys

from PIL import Image

out = sys.argv[1]
rng = random.Random(7)


def noise(w, h, colors, palette_seed):
    im = Image.new('P', (w, h))
    prng = random.Random(palette_seed)
    im.putpalette([prng.randrange(256) for _ in range(768)])
    im.putdata([rng.randrange(colors) for _ in range(w * h)])
    return im


def still(name, im, **kw):
    path = os.path.join(out, name)
    im.save(path, **kw)
    with Image.open(path) as back:
        back.seek(0)
        data = back.convert('RGBA').tobytes()
    with open(path + '.rgba', 'wb') as f:
        f.write(data)


still('noise256.gif', noise(61, 37, 256, 1))                      # interlaced (tall enough)
still('noise16.gif', noise(23, 9, 16, 2), interlace=False)
still('tiny2.gif', noise(5, 3, 2, 3))
still('transparent.gif', noise(40, 30, 64, 4), transparency=5)

# Animations: frames of noise that change only inside a box, so that the
# writer stores sub-rectangles at offsets, with each disposal method.
base = noise(48, 32, 200, 9)
frames = []
for i in range(6):
    f = base.copy()
    x0, y0 = 3 + i * 5, 2 + i * 3
    for y in range(y0, y0 + 9):
        for x in range(x0, x0 + 13):
            f.putpixel((x, y), rng.randrange(200))
    frames.append(f)
frames[0].save(os.path.join(out, 'anim_keep.gif'), save_all=True, append_images=frames[1:],
               disposal=1, duration=[0, 30, 40, 50, 60, 70], loop=3)
frames[0].save(os.path.join(out, 'anim_mixed.gif'), save_all=True, append_images=frames[1:],
               disposal=[1, 2, 1, 3, 1, 2], duration=100, loop=0, transparency=7)
