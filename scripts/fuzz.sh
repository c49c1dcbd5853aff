#!/usr/bin/env bash
# Builds the libFuzzer drivers with clang and runs each over a scratch copy of
# its seed corpus. Crashes land in build/fuzz/crashes/; keep each one as a
# small named file beside the seeds, with a test.
#   scripts/fuzz.sh [seconds per driver, default 300] [driver name ...]
# Extra libFuzzer flags come from KAV_FUZZ_FLAGS (e.g. "-jobs=2 -workers=2").
# KAV_FUZZ_PARALLEL runs that many drivers side by side (default 1); each
# driver's log is then build/fuzz/logs/<driver>.log.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-300}
shift || true
build=${KAV_FUZZ_BUILD_DIR:-build/fuzz}

# driver name -> seed corpus folder
declare -A corpus=(
  [IniParserFuzzer]=tests/data/ini
  [ContainerFuzzer]=tests/fuzz/corpus/container
  [InflateFuzzer]=tests/fuzz/corpus/inflate
  [BmpFuzzer]=tests/fuzz/corpus/bmp
  [GifFuzzer]=tests/fuzz/corpus/gif
  [VxgfFuzzer]=tests/fuzz/corpus/vxgf
  [JpegFuzzer]=tests/fuzz/corpus/jpeg
  [ExifFuzzer]=tests/KavLib2/Zel.Exif/corpus/exif
  [JpegSegmentsFuzzer]=tests/KavLib2/Zel.Exif/corpus/jpeg
  [IptcFuzzer]=tests/KavLib2/Zel.Exif/corpus/iptc
  [PngFuzzer]=tests/fuzz/corpus/png
  [CalculatorFuzzer]=tests/fuzz/corpus/calc
  [ObjectActionFuzzer]=tests/fuzz/corpus/actions
  [ValueParsersFuzzer]=tests/fuzz/corpus/values
  [TextMacrosFuzzer]=tests/fuzz/corpus/macros
  [EffManagerFuzzer]=tests/fuzz/corpus/project
  [KavSourceFuzzer]=tests/fuzz/corpus/project
  [RiffInfoFuzzer]=tests/fuzz/corpus/riff
  [MpegInfoFuzzer]=tests/fuzz/corpus/mpeg
  [CompositeFuzzer]=tests/fuzz/corpus/composite
  [ButtonDescriptionFuzzer]=tests/fuzz/corpus/buttons
  [ContourRecordFuzzer]=tests/fuzz/corpus/contour
  [GifVideoFuzzer]=tests/fuzz/corpus/gif
  [GlyphCacheFuzzer]=tests/fuzz/corpus/glyphcache
  [RegistryStoreFuzzer]=tests/fuzz/corpus/registry
  [ShadowKeyFuzzer]=tests/fuzz/corpus/shadowkey
  [SvgPathFuzzer]=tests/fuzz/corpus/svgpath
  [TextReaderFuzzer]=tests/fuzz/corpus/textreader
  [VideoClipFuzzer]=
)
drivers=("$@")
[ ${#drivers[@]} -gt 0 ] || drivers=("${!corpus[@]}")

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKAV_SANITIZE=ON -DKAV_FUZZ=ON -DKAV_TESTS=OFF >/dev/null
cmake --build "$build" -j "${KAV_FUZZ_BUILD_JOBS:-4}" --target "${drivers[@]}"

mkdir -p "$build/crashes" "$build/logs"
run_driver() {
  local d=$1 work="$build/corpus/$1"
  mkdir -p "$work"
  if [ -n "${corpus[$d]}" ]; then
    cp -n "${corpus[$d]}"/* "$work"/ 2>/dev/null || true
    # The kept crash inputs of the same kind start the run too.
    local kept=tests/fuzz/regressions/$(basename "${corpus[$d]}")
    [ -d "$kept" ] && cp -n "$kept"/* "$work"/ 2>/dev/null || true
  else
    # Clips are not kept in the tree: a few tiny ones are made here.
    for ext in mp4 mkv ts; do
      [ -e "$work/seed.$ext" ] || ffmpeg -v error -nostdin -f lavfi -i testsrc=size=32x24:rate=5 -frames:v 6 \
        -c:v libx264 -preset ultrafast -g 3 -pix_fmt yuv420p "$work/seed.$ext" || true
    done
  fi
  # shellcheck disable=SC2086
  "$build/$d" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=1024 -max_len=65536 \
    -artifact_prefix="$build/crashes/$d-" ${KAV_FUZZ_FLAGS:-} "$work"
}

parallel=${KAV_FUZZ_PARALLEL:-1}
if [ "$parallel" -le 1 ]; then
  for d in "${drivers[@]}"; do run_driver "$d"; done
  exit 0
fi
status=0
running=0
for d in "${drivers[@]}"; do
  if [ "$running" -ge "$parallel" ]; then
    wait -n || status=1
    running=$((running - 1))
  fi
  echo "$(date +%T) start $d"
  run_driver "$d" >"$build/logs/$d.log" 2>&1 &
  running=$((running + 1))
done
while [ "$running" -gt 0 ]; do
  wait -n || status=1
  running=$((running - 1))
done
exit "$status"
