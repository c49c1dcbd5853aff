#!/bin/bash
# kavcontrols --dump writes a PNG of the whole form once every fade is over:
# the gallery at 100% and at 150% (both looks side by side), each the same
# picture as its golden in tests/tools/golden (made by this program and
# looked at; KAV_UPDATE_GOLDENS=1 writes them again).
set -eu
BIN=$1
OUT=$2
GOLDEN=$(cd "$(dirname "$0")" && pwd)/golden
rm -rf "$OUT"
mkdir -p "$OUT"
"$BIN" --dump "$OUT/gallery_100.png"
"$BIN" --dump "$OUT/gallery_150.png" --scale 1.5 --width 700
for s in 100 150; do
  [ -s "$OUT/gallery_$s.png" ] || { echo "FAIL: no PNG at $s%"; exit 1; }
done
if ! command -v identify >/dev/null || ! command -v compare >/dev/null; then
  echo "1 passed, 0 failed (no ImageMagick: pictures not compared)"
  exit 0
fi
SIZE=$(identify -format '%w %h' "$OUT/gallery_100.png")
[ "${SIZE%% *}" = 520 ] || { echo "FAIL: width of $SIZE"; exit 1; }
for s in 100 150; do
  if [ "${KAV_UPDATE_GOLDENS:-0}" = 1 ]; then
    cp "$OUT/gallery_$s.png" "$GOLDEN/kavcontrols_$s.png"
    continue
  fi
  # A few pixels of text edges may round differently; nothing more.
  DIFF=$(compare -metric AE -fuzz 3% "$GOLDEN/kavcontrols_$s.png" "$OUT/gallery_$s.png" "$OUT/diff_$s.png" 2>&1 || true)
  case "$DIFF" in
    ''|*[!0-9]*) echo "FAIL: $s% cannot be compared ($DIFF)"; exit 1 ;;
  esac
  [ "$DIFF" -le 40 ] || { echo "FAIL: $s% differs from its golden in $DIFF pixels (see $OUT/diff_$s.png)"; exit 1; }
done
echo "1 passed, 0 failed"
