#!/bin/bash
# kavcontrols --dump writes a PNG of the whole form: the gallery's size,
# with both columns painted (not a blank surface).
set -eu
BIN=$1
OUT=$2
rm -rf "$OUT"
mkdir -p "$OUT"
"$BIN" --dump "$OUT/gallery.png"
[ -s "$OUT/gallery.png" ] || { echo "FAIL: no PNG"; exit 1; }
if command -v identify >/dev/null; then
  SIZE=$(identify -format '%w %h' "$OUT/gallery.png")
  [ "${SIZE%% *}" = 520 ] || { echo "FAIL: width of $SIZE"; exit 1; }
  COLOURS=$(identify -format '%k' "$OUT/gallery.png")
  [ "$COLOURS" -gt 8 ] || { echo "FAIL: only $COLOURS colours"; exit 1; }
fi
echo "1 passed, 0 failed"
