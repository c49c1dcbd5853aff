#!/usr/bin/env bash
# Installs whatever is missing on a Debian 12 machine, builds the player and
# the bundled demo show in a release build, and plays the show in a window
# with sound. Extra arguments go to the player.
set -euo pipefail
cd "$(dirname "$0")/.."

"$(dirname "$0")/install-deps.sh"

build=${KAV_RELEASE_DIR:-build/release}
jobs=${KAV_JOBS:-$(nproc)}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKAV_TESTS=OFF

if ! cmake --build "$build" --target help | grep -q '^kavplay:'; then
  echo "play-demo: this build has no player program (kavplay) yet; only the demo show can be built:" >&2
  echo "  cmake --build $build --target kav_demo" >&2
  exit 1
fi
cmake --build "$build" -j "$jobs" --target kavplay kav_demo

player=$(find "$build" -name kavplay -type f -perm -u+x -print -quit)
if [ -z "$player" ]; then
  echo "play-demo: kavplay was built but cannot be found under $build" >&2
  exit 1
fi
exec "$player" "$build/demo/demo.kvshow" "$@"
