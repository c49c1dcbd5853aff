#!/usr/bin/env bash
# Builds the libFuzzer programs with clang and runs each for a while.
#   scripts/fuzz.sh [seconds per target, default 300] [target ...]
# New inputs go to build/fuzz/work/<target>; a crash is written to the
# current folder by libFuzzer. Keep each crash as a small named file under
# tests/fuzz/regressions/<target>/ (the corpus test runs it from then on).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-300}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(inflate container)
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKAV_FUZZ=ON -DKAV_SANITIZE=ON -DKAV_TESTS=OFF >/dev/null
for t in "${targets[@]}"; do
  cmake --build build/fuzz -j4 --target "fuzz_$t"
  mkdir -p "build/fuzz/work/$t"
  "build/fuzz/fuzz/fuzz_$t" -max_total_time="$seconds" -rss_limit_mb=4096 \
    "build/fuzz/work/$t" "tests/fuzz/corpus/$t"
done
