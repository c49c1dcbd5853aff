"""Resizes raw RGB pictures with Pillow's bilinear filter, for the scaler tests.

Usage: pil_resize.py <in.raw> <out.raw>; the input starts with width,
height, new width and new height as 32-bit little-endian numbers followed by
the RGB samples; the output holds the resized RGB samples.
"""
import struct
import sys

from PIL import Image


def main():
    data = open(sys.argv[1], "rb").read()
    w, h, nw, nh = struct.unpack("<4I", data[:16])
    img = Image.frombytes("RGB", (w, h), data[16:16 + w * h * 3])
    open(sys.argv[2], "wb").write(img.resize((nw, nh), Image.BILINEAR).tobytes())


if __name__ == "__main__":
    main()
