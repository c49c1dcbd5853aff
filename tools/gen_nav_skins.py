#!/usr/bin/python3
"""Draws the player's own navigation skins: a button bar and a video bar.

Writes KavLib2/NavPanel/Skins/Buttons and KavLib2/NavPanel/Skins/Video (the
skin files and their pictures). Run from the repository root; the output is
committed.
"""
import os
from PIL import Image, ImageDraw

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "KavLib2", "NavPanel", "Skins")
B = 24  # button size

def icon(d, kind, ox, oy, colour):
    """One 24 x 24 icon at (ox, oy): play, pause, sound, muted, backward,
    forward, exit, home, help, print."""
    c = colour
    if kind == "play":
        d.polygon([(ox + 8, oy + 5), (ox + 19, oy + 12), (ox + 8, oy + 19)], fill=c)
    elif kind == "pause":
        d.rectangle([ox + 7, oy + 6, ox + 10, oy + 18], fill=c)
        d.rectangle([ox + 14, oy + 6, ox + 17, oy + 18], fill=c)
    elif kind in ("sound", "muted"):
        d.polygon([(ox + 4, oy + 9), (ox + 8, oy + 9), (ox + 13, oy + 5), (ox + 13, oy + 19), (ox + 8, oy + 15),
                   (ox + 4, oy + 15)], fill=c)
        if kind == "sound":
            d.arc([ox + 12, oy + 7, ox + 19, oy + 17], -60, 60, fill=c, width=2)
        else:
            d.line([ox + 15, oy + 9, ox + 21, oy + 15], fill=c, width=2)
            d.line([ox + 21, oy + 9, ox + 15, oy + 15], fill=c, width=2)
    elif kind == "backward":
        d.polygon([(ox + 17, oy + 5), (ox + 8, oy + 12), (ox + 17, oy + 19)], fill=c)
        d.rectangle([ox + 5, oy + 5, ox + 7, oy + 19], fill=c)
    elif kind == "forward":
        d.polygon([(ox + 7, oy + 5), (ox + 16, oy + 12), (ox + 7, oy + 19)], fill=c)
        d.rectangle([ox + 17, oy + 5, ox + 19, oy + 19], fill=c)
    elif kind == "exit":
        d.line([ox + 6, oy + 6, ox + 18, oy + 18], fill=c, width=3)
        d.line([ox + 18, oy + 6, ox + 6, oy + 18], fill=c, width=3)
    elif kind == "home":
        d.polygon([(ox + 12, oy + 4), (ox + 20, oy + 12), (ox + 4, oy + 12)], fill=c)
        d.rectangle([ox + 7, oy + 12, ox + 17, oy + 19], fill=c)
    elif kind == "help":
        d.ellipse([ox + 5, oy + 4, ox + 19, oy + 18], outline=c, width=2)
        d.rectangle([ox + 11, oy + 19, ox + 13, oy + 21], fill=c)
    elif kind == "print":
        d.rectangle([ox + 5, oy + 9, ox + 19, oy + 17], fill=c)
        d.rectangle([ox + 8, oy + 4, ox + 16, oy + 9], outline=c)

def button_bar():
    out = os.path.join(ROOT, "Buttons")
    os.makedirs(out, exist_ok=True)
    # Three cells in one row: left cap, the object cell, right cap.
    cells = Image.new("RGBA", (24, 36), (0, 0, 0, 0))
    d = ImageDraw.Draw(cells)
    d.rounded_rectangle([0, 0, 15, 35], 8, fill=(40, 44, 52, 220))
    d.rectangle([8, 0, 15, 35], fill=(40, 44, 52, 220))
    d.rectangle([16, 0, 23, 35], fill=(40, 44, 52, 220))
    cells.save(os.path.join(out, "cells.png"))
    right = cells.transpose(Image.FLIP_LEFT_RIGHT)
    right.save(os.path.join(out, "cells_right.png"))
    kinds = ["home", "backward", "pause", "forward", "help", "print", "exit"]
    states = [(200, 200, 200, 255), (255, 255, 255, 255), (120, 190, 255, 255), (200, 200, 200, 255)]
    buttons = Image.new("RGBA", (B * len(kinds), B * 4), (0, 0, 0, 0))
    # The pictures the pause button shows while the show is paused: the same
    # layout, with a play sign where the pause sign is.
    play = Image.new("RGBA", (B * len(kinds), B * 4), (0, 0, 0, 0))
    d = ImageDraw.Draw(buttons)
    d2 = ImageDraw.Draw(play)
    for s, colour in enumerate(states):
        for i, k in enumerate(kinds):
            icon(d, k, i * B, s * B, colour)
            icon(d2, "play" if k == "pause" else k, i * B, s * B, colour)
    buttons.save(os.path.join(out, "buttons.png"))
    play.save(os.path.join(out, "play.png"))
    bg = Image.new("RGBA", (28, 28 * 4), (0, 0, 0, 0))
    d = ImageDraw.Draw(bg)
    d.rounded_rectangle([1, 28 + 1, 26, 28 + 26], 5, fill=(255, 255, 255, 40))
    d.rounded_rectangle([1, 56 + 1, 26, 56 + 26], 5, fill=(120, 190, 255, 70))
    bg.save(os.path.join(out, "button_bg.png"))
    lines = [
        "[Common]", "ColsCount=3", "RowsCount=1", "",
        "[CellWithObjects]", "Cell=2,1", "LeftOffset=2", "TopOffset=4", "RightOffset=2", "BottomOffset=4", "",
        "[Cell(1:1)]", "Bounds=0,0,16,36", "flnm_Texture=cells.png", "",
        "[Cell(2:1)]", "Bounds=16,0,8,36", "flnm_Texture=cells.png", "",
        "[Cell(3:1)]", "Bounds=8,0,16,36", "flnm_Texture=cells_right.png", "",
        "[Objects]", "Count=7", "",
    ]
    for i in range(7):
        lines += ["[Object%d]" % (i + 1), "Space=2", "ShiftPressed=1", "GrayDisabled=1", ""]
    for i, k in enumerate(kinds):
        lines += ["[Action-%s]" % k]
        for s, name in enumerate(["Normal", "Hover", "Pressed", "Disabled"]):
            lines += ["BtnTexture%sBounds=%d,%d,%d,%d" % (name, i * B, s * B, B, B)]
            lines += ["BgTexture%sBounds=0,%d,28,28" % (name, s * 28)]
        lines += ["flnm_BtnTextureNormal=buttons.png", "flnm_BgTextureNormal=button_bg.png"]
        if k == "pause":
            lines += ["flnm_BtnTextureNormalPlay=play.png"]
        lines += [""]
    text = "\r\n".join(lines)
    with open(os.path.join(out, "skin.ini"), "w", newline="") as f:
        f.write(text + "\r\n")

def video_bar():
    out = os.path.join(ROOT, "Video")
    os.makedirs(out, exist_ok=True)
    bg = Image.new("RGBA", (32, 40), (0, 0, 0, 0))
    d = ImageDraw.Draw(bg)
    for y in range(40):
        v = 30 + y
        d.line([0, y, 31, y], fill=(v, v + 4, v + 10, 210))
    d.line([0, 0, 31, 0], fill=(110, 110, 120, 230))
    bg.save(os.path.join(out, "back.png"))
    line = Image.new("RGBA", (16, 6), (0, 0, 0, 0))
    d = ImageDraw.Draw(line)
    d.rounded_rectangle([0, 0, 15, 5], 3, fill=(150, 150, 160, 255))
    line.save(os.path.join(out, "line.png"))
    thumb = Image.new("RGBA", (12, 16), (0, 0, 0, 0))
    d = ImageDraw.Draw(thumb)
    d.rounded_rectangle([0, 0, 11, 15], 4, fill=(235, 235, 240, 255), outline=(60, 60, 70, 255))
    thumb.save(os.path.join(out, "thumb.png"))
    kinds = ["play", "pause", "sound", "muted", "backward", "forward", "exit"]
    for name, colour in [("normal", (210, 210, 215, 255)), ("hover", (255, 255, 255, 255)),
                         ("click", (120, 190, 255, 255))]:
        strip = Image.new("RGBA", (B * 7, B), (0, 0, 0, 0))
        d = ImageDraw.Draw(strip)
        for i, k in enumerate(kinds):
            icon(d, k, i * B, 0, colour)
        strip.save(os.path.join(out, name + ".png"))
    lines = [
        "[Common]", "VideoStyle=1", "BgLeft=4", "BgRight=4", "TrackLineLeft=3", "TrackLineRight=3",
        "flnm_back=back.png", "",
        "[Pixel positions]", "BarSize=800,40", "BtnSize=24,24", "DigitSize=8,14", "TrackHeight=6",
        "VolumeControlLength=80", "LeftSpace=8", "ButtonsTrackSpace=10", "TrackDigitsSpace=8",
        "DigitsSoundBtnSpace=6", "SoundBtnTrackSpace=6", "RightSpace=10", "",
        "[Trackbar]", "flnm_Line=line.png", "flnm_Polzun=thumb.png", "",
        "[Buttons]", "flnm_Normal=normal.png", "flnm_Hover=hover.png", "flnm_Click=click.png", "",
    ]
    with open(os.path.join(out, "skin.ini"), "w", newline="") as f:
        f.write("\r\n".join(lines) + "\r\n")

if __name__ == "__main__":
    button_bar()
    video_bar()
