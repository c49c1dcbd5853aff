#!/usr/bin/env bash
# Installs whatever is missing on a Debian 12 machine, builds the player and
# the bundled demo show in a release build, and plays the show in a window
# with sound. Extra arguments go to the player.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

build=${KAV_RELEASE_DIR:-build/release}
jobs=${KAV_JOBS:-$(nproc)}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKAV_TESTS=OFF
cmake --build "$build" -j "$jobs" --target kavplay kav_demo
# KAV_BUILD_ONLY=1 stops here (scripts/test.sh builds ahead this way).
[ "${KAV_BUILD_ONLY:-0}" = 1 ] && exit 0

# The player takes this script's process, so whoever started the script can
# signal the player directly.
exec "$build/kavplay" "$build/demo/demo.kvshow" "$@"
