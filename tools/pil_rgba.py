#!/usr/bin/python3
"""Dumps pictures as Pillow decodes them, for the decoder tests.

For each file named on the command line, writes to standard output a record
of little-endian u32 words: status (0 decoded, 1 refused, 2 decoded but
only the colour is comparable), width, height, followed unless refused by
width x height RGBA pixels (4 bytes each).

Pillow's own decoding gives the samples; the RGBA composition follows the PNG
rules where Pillow's conversion does not: 16-bit samples keep their high
byte, and a tRNS colour key is compared at the file's own bit depth.
"""
import struct
import sys

from PIL import Image


def high_byte_rgba(im):
    """16-bit grey ("I;16", "I") as 8-bit RGBA by the high byte."""
    raw = im.tobytes("raw", "I;16") if im.mode.startswith("I;16") else None
    w, h = im.size
    if raw is None:
        vals = list(im.getdata())
    else:
        vals = [raw[2 * i] | raw[2 * i + 1] << 8 for i in range(w * h)]
    key = im.info.get("transparency")
    out = bytearray()
    for v in vals:
        g = (v >> 8) & 0xFF
        out += bytes((g, g, g, 0 if key is not None and v == key else 255))
    return bytes(out)


def rgba_of(path):
    im = Image.open(path)
    im.load()
    if im.mode in ("I", "I;16", "I;16B"):
        return im.size, high_byte_rgba(im), 0
    key = im.info.get("transparency")
    if im.mode == "RGB" and isinstance(key, tuple) and max(key) > 255:
        # A 16-bit colour key: Pillow's 8-bit samples cannot match it, so
        # only the colour is comparable (status 2).
        return im.size, im.convert("RGBA").tobytes(), 2
    if im.mode == "L" and isinstance(key, int) and im.format == "PNG":
        # Grey below 8 bits: Pillow keeps the key in the file's units but
        # compares it with the widened samples; widen the key the same way.
        with open(path, "rb") as f:
            depth = f.read(25)[24]
        if depth < 8:
            wide = key * 255 // ((1 << depth) - 1)
            grey = im.tobytes()
            out = bytearray()
            for g in grey:
                out += bytes((g, g, g, 0 if g == wide else 255))
            return im.size, bytes(out), 0
    return im.size, im.convert("RGBA").tobytes(), 0


def main():
    out = sys.stdout.buffer
    for path in sys.argv[1:]:
        try:
            (w, h), data, status = rgba_of(path)
        except Exception:  # refused: any decoding failure
            out.write(struct.pack("<III", 1, 0, 0))
            continue
        out.write(struct.pack("<III", status, w, h))
        out.write(data)
    out.flush()


if __name__ == "__main__":
    main()
