#!/usr/bin/env bash
# Builds the libFuzzer drivers with clang and runs each over a scratch copy of
# its seed corpus. Crashes land in build/fuzz/crashes/; keep each one as a
# small named file beside the seeds, with a test.
#   scripts/fuzz.sh [seconds per driver, default 300] [driver name ...]
# Extra libFuzzer flags come from KAV_FUZZ_FLAGS (e.g. "-jobs=2 -workers=2").
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
)
drivers=("$@")
[ ${#drivers[@]} -gt 0 ] || drivers=("${!corpus[@]}")

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKAV_SANITIZE=ON -DKAV_FUZZ=ON -DKAV_TESTS=OFF >/dev/null
cmake --build "$build" -j "${KAV_FUZZ_BUILD_JOBS:-4}" --target "${drivers[@]}"

mkdir -p "$build/crashes"
for d in "${drivers[@]}"; do
  work="$build/corpus/$d"
  mkdir -p "$work"
  cp -n "${corpus[$d]}"/* "$work"/ 2>/dev/null || true
  # The kept crash inputs of the same kind start the run too.
  kept=tests/fuzz/regressions/$(basename "${corpus[$d]}")
  [ -d "$kept" ] && cp -n "$kept"/* "$work"/ 2>/dev/null || true
  # shellcheck disable=SC2086
  "$build/$d" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=1024 -max_len=65536 \
    -artifact_prefix="$build/crashes/$d-" ${KAV_FUZZ_FLAGS:-} "$work"
done
