#!/usr/bin/env python3
"""Window titles on an X server read as bytes, the same in every locale.

xdotool and xprop read WM_NAME through the caller's locale: in the "C"
locale a title beyond ASCII comes out escaped, and a WM_NAME whose type is
a charset name ("UTF-8") is not read at all. Here every property is read as
hex bytes (`xprop -f PROP 8x`), which no locale changes; only compound text
is left to xprop to decode, run with the tool's own locale set to C.UTF-8.

  xwin_title.py find REGEX       ids (decimal) of the viewable windows whose
                                 title matches REGEX (a Python regular
                                 expression on the title's UTF-8 bytes)
  xwin_title.py title ID         the window's title as UTF-8
  xwin_title.py prop ID PROP     "TYPE" on the first line, then the
                                 property's text as UTF-8; nothing when the
                                 property is missing

The title is _NET_WM_NAME when the window has one, else WM_NAME.
"""
import os
import re
import subprocess
import sys

ENV = dict(os.environ, LC_ALL="C.UTF-8")


def run(args):
    return subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=ENV).stdout


def read_prop(win, prop):
    """(type, text as UTF-8 bytes) or (None, None) when missing."""
    out = run(["xprop", "-id", str(win), "-f", prop, "8x", prop]).decode("ascii", "replace").strip()
    m = re.match(r"^%s\(([^)]*)\) = ?(.*)$" % re.escape(prop), out, re.S)
    if not m:
        return None, None
    kind, values = m.group(1), m.group(2)
    raw = bytes(int(v, 16) for v in re.findall(r"0x[0-9a-fA-F]+", values))
    if kind == "STRING":
        return kind, raw.decode("latin-1").encode("utf-8")
    if kind == "COMPOUND_TEXT":
        text = run(["xprop", "-id", str(win), "-notype", prop]).decode("utf-8", "replace").strip()
        m = re.match(r'^%s = "(.*)"$' % re.escape(prop), text, re.S)
        return kind, (m.group(1).encode("utf-8") if m else raw)
    return kind, raw


def title(win):
    kind, text = read_prop(win, "_NET_WM_NAME")
    if kind is None:
        kind, text = read_prop(win, "WM_NAME")
    return text or b""


def windows():
    out = run(["xwininfo", "-root", "-tree"]).decode("ascii", "replace")
    return [int(w, 16) for w in re.findall(r"^\s+(0x[0-9a-fA-F]+)", out, re.M)]


def viewable(win):
    return b"IsViewable" in run(["xwininfo", "-id", str(win)])


def main():
    what = sys.argv[1] if len(sys.argv) > 1 else ""
    if what == "find" and len(sys.argv) == 3:
        pattern = re.compile(os.fsencode(sys.argv[2]))
        for w in windows():
            if pattern.search(title(w)) and viewable(w):
                print(w)
        return 0
    if what == "title" and len(sys.argv) == 3:
        sys.stdout.buffer.write(title(int(sys.argv[2], 0)) + b"\n")
        return 0
    if what == "prop" and len(sys.argv) == 4:
        kind, text = read_prop(int(sys.argv[2], 0), sys.argv[3])
        if kind is not None:
            sys.stdout.buffer.write(kind.encode("ascii") + b"\n" + text + b"\n")
        return 0
    sys.stderr.write(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main())
