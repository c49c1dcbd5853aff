#!/usr/bin/env bash
# Installs whatever is missing on a Debian 12 machine, builds the project with
# AddressSanitizer and UndefinedBehaviorSanitizer, and runs every test; then
# runs the README's play command (scripts/play-demo.sh) in a virtual X
# server and checks that the demo show plays (scripts/check-play-demo.sh;
# KAV_SKIP_PLAY_CHECK=1 leaves that out). The release build for that check
# is made beside the tests, at the lowest priority.
set -euo pipefail
cd "$(dirname "$0")/.."

"$(dirname "$0")/install-deps.sh"

build=${KAV_BUILD_DIR:-build/test}
jobs=${KAV_JOBS:-$(nproc)}
# -O1 with line tables only: the sanitizer build compiles about a third
# faster than at -O2 with full debug information, and stack traces keep
# their file and line.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKAV_SANITIZE=ON -DKAV_TESTS=ON \
  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG" "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG"
cmake --build "$build" -j "$jobs"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export SDL_VIDEODRIVER=${SDL_VIDEODRIVER:-dummy}
export SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy}

# The play check's release build starts beside the tests at the lowest
# priority: it takes the time they leave idle (the player tests wait on X a
# good deal), and the check then runs the play command on a finished build.
# It runs in a process group of its own, stopped once the tests are done or
# if this script ends early; a failure there shows again, with its output,
# when the check builds.
prebuild=
stop_prebuild() { if [ -n "$prebuild" ]; then kill -- "-$prebuild" 2>/dev/null || true; fi; }
if [ "${KAV_SKIP_PLAY_CHECK:-0}" != 1 ]; then
  set -m
  KAV_BUILD_ONLY=1 nice -n 19 scripts/play-demo.sh >"$build/release-ahead.log" 2>&1 &
  prebuild=$!
  set +m
  trap stop_prebuild EXIT
fi

ctest --test-dir "$build" -j "$jobs" --output-on-failure

if [ "${KAV_SKIP_PLAY_CHECK:-0}" != 1 ]; then
  # What the prebuild has not finished is built by the check at the normal
  # priority: beside other busy work the lowest priority gets next to no
  # time, and nothing of ours needs the cores any more. Objects it finished
  # stay built; ninja removes the ones it was stopped in.
  stop_prebuild
  wait "$prebuild" || true
  prebuild=
  scripts/check-play-demo.sh
fi
