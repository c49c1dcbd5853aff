#!/usr/bin/env bash
# Runs the tests that wait on a window, an X event, a clock, a sound device,
# a child process or a file another process writes while every core is kept
# busy by other work: two busy loops per core at normal priority. Three
# rounds on all cores, then three rounds pinned to two cores (taskset -c 0,1,
# ctest -j 2), as on a busy two-core machine. Run it before every stop; a
# test that fails here waits for a time instead of for its condition.
#   scripts/test-under-load.sh [extra ctest arguments]
# The build must exist (scripts/test.sh makes it). Environment:
#   KAV_BUILD_DIR   the build folder (build/test)
#   KAV_ROUNDS      rounds on all cores (3)
#   KAV_PINNED_ROUNDS  rounds on two pinned cores (3)
#   KAV_LOAD_PER_CORE  busy loops per core (2)
#   KAV_LOAD_REGEX  the tests to run (a ctest -R expression; default below)
# It prints one line per round (wall time, load average, tests run, failed)
# and exits 1 when any round failed. The rounds run in the "C" locale (LANG,
# LANGUAGE and every LC_* variable unset), CI (.ci/run) in a UTF-8 one, so
# both are checked before every stop.
set -uo pipefail
cd "$(dirname "$0")/.."

build=${KAV_BUILD_DIR:-build/test}
rounds=${KAV_ROUNDS:-3}
pinned_rounds=${KAV_PINNED_ROUNDS:-3}
per_core=${KAV_LOAD_PER_CORE:-2}
# The real player and the tools in X servers, the player's scripts that
# start children, and the GoogleTest cases on real windows, clocks, sound,
# threads and child processes.
regex=${KAV_LOAD_REGEX:-'xvfb|^kavplay_|^kavpack_example_plays$|^readme_snippets_play$|^platform_window_x11_clipboard$|^platform_window_x11_backend$|^platform_window_x11_box_|^(WinTerminate|DrawerLock|CupsSpoolerSilentScheduler|CupsSpoolerDeadline|SaveDialogApp|ExampleShowTest|ChooserTest|SaveDialog|SaveDialogSignalTest|Timing|Monitors|ActiveMonitor|Thread|LoadCallBack|PriorityClass|FontThread|TextElement|TimerChannel|ChannelLoop|MusicPassRelease|WaveOutBuffer|MusicPlayer|KavMusicPlayer|MusicLoop|MusicOpenFailure|ShowSync|ShowMusic|ShowWithoutSound|SndSdlDisk|ApplicationTest|WindowTest|SwSdlSink|SaveChooser[A-Za-z]*|PrinterCupsTest|PrintDialogTest|QueuedShadows|ImageTasks|KavVideoExtractor|EngineOverlay|SlideLoader|ShowViewer|ShowEngineTest|KavEngine|KavEngineTest|KavThread|Instance|ScreenSaver|TempFolders|MainForm[A-Za-z]*|ShowPlaybackTest|ShowSlides|KavPack)\.'}

[ -f "$build/CTestTestfile.cmake" ] || { echo "no build in $build: run scripts/test.sh first" >&2; exit 2; }
cores=$(nproc)
[ "$cores" -ge 2 ] || { echo "needs at least two cores" >&2; exit 2; }

unset LANG LANGUAGE $(env | sed -n 's/^\(LC_[A-Z_]*\)=.*/\1/p')
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export SDL_VIDEODRIVER=${SDL_VIDEODRIVER:-dummy}
export SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy}

# The busy loops: a pure computing loop each (Python when there is one,
# else yes writing to /dev/null), stopped on every way out.
loops=()
stop_loops() {
  local p
  for p in "${loops[@]}"; do kill "$p" 2>/dev/null; done
  for p in "${loops[@]}"; do wait "$p" 2>/dev/null; done
  loops=()
}
trap stop_loops EXIT
trap 'exit 130' INT TERM
python=$(command -v python3 || true)
for _ in $(seq $((cores * per_core))); do
  if [ -n "$python" ]; then
    "$python" -c 'while True: pass' &
  else
    yes >/dev/null &
  fi
  loops+=($!)
done
echo "$((cores * per_core)) busy loops on $cores cores; tests matching: $regex"

log_dir="$build/test-under-load"
mkdir -p "$log_dir"
summary=()
failed_rounds=0
run_round() {  # NAME [taskset prefix...]
  local name=$1
  shift
  local log="$log_dir/$name.log" start end jobs=$cores rc
  [ $# -gt 0 ] && jobs=2
  start=$SECONDS
  "$@" ctest --test-dir "$build" -R "$regex" -j "$jobs" --output-on-failure "${extra[@]}" >"$log" 2>&1
  rc=$?
  end=$SECONDS
  local counts run failed load
  counts=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  run=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$counts")
  failed=$(sed -E 's/.* ([0-9]+) tests? failed.*/\1/' <<<"$counts")
  load=$(cut -d' ' -f1-3 /proc/loadavg)
  [ -n "$counts" ] || { run=0; failed=?; }
  local line
  line=$(printf '%-10s %5ds  load %s  tests %s  failed %s' "$name" $((end - start)) "$load" "${run:-0}" "${failed:-?}")
  if [ "$rc" -ne 0 ]; then
    failed_rounds=$((failed_rounds + 1))
    line="$line  FAILED: $(sed -n '/^The following tests FAILED:/,$p' "$log" | sed -n -E 's/^[[:space:]]*[0-9]+ - ([^ ]+).*/\1/p' | tr '\n' ' ')"
  fi
  echo "$line"
  summary+=("$line")
}

extra=("$@")
for r in $(seq "$rounds"); do run_round "all-$r"; done
if command -v taskset >/dev/null; then
  for r in $(seq "$pinned_rounds"); do run_round "pinned-$r" taskset -c 0,1; done
else
  echo "no taskset: the pinned rounds are left out" >&2
  failed_rounds=$((failed_rounds + 1))
fi
stop_loops
echo "== summary (logs in $log_dir)"
printf '%s\n' "${summary[@]}"
[ "$failed_rounds" -eq 0 ]
