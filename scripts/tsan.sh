#!/usr/bin/env bash
# Builds the project and its tests with ThreadSanitizer (in build/tsan) and
# runs every test program whole, in one process each, as a plain run does:
# data races, lock-order inversions and tests that depend on the order they
# run in all show up. Not part of CI; meant for the threaded layers.
#   scripts/tsan.sh [test program ...]   (default: every test program)
# KAV_TSAN_BUILD_DIR and KAV_JOBS override the folder and the build jobs;
# TSAN_OPTIONS replaces the default options (halt on the first report); the
# suppressions in scripts/tsan.supp (races inside uninstrumented libraries'
# own threads, the media library's and the Mesa driver's, each with its
# reason) are always passed.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${KAV_TSAN_BUILD_DIR:-build/tsan}
jobs=${KAV_JOBS:-3}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKAV_SANITIZE=OFF -DKAV_TESTS=ON \
  -DCMAKE_CXX_FLAGS="-fsanitize=thread -fno-omit-frame-pointer" \
  -DCMAKE_C_FLAGS="-fsanitize=thread -fno-omit-frame-pointer" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread" >/dev/null

programs=("$@")
if [ ${#programs[@]} -eq 0 ]; then
  mapfile -t programs < <(cmake --build "$build" --target help | sed -n 's/^\([a-z0-9_]*_tests\)\[1\]_tests.cmake:.*/\1/p' | sort -u)
fi
cmake --build "$build" -j "$jobs" --target "${programs[@]}"

export TSAN_OPTIONS="suppressions=$PWD/scripts/tsan.supp:${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}"
export SDL_VIDEODRIVER=${SDL_VIDEODRIVER:-dummy}
export SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy}
# Kernels with high mmap randomisation break older ThreadSanitizer runtimes;
# running without address randomisation avoids that where setarch can.
run=()
if setarch "$(uname -m)" -R true 2>/dev/null; then run=(setarch "$(uname -m)" -R); fi

failed=()
for p in "${programs[@]}"; do
  echo "== $p"
  if ! (cd "$build" && "${run[@]}" "./$p"); then failed+=("$p"); fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "failed: ${failed[*]}" >&2
  exit 1
fi
echo "no race reported"
