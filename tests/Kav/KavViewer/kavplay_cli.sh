#!/bin/bash
# What a user sees on the terminal: "--help" and "-h" print the usage and end
# with 0; no show, or a folder without a project, is said in plain words with
# exit 2 (before any window opens); a project that cannot be loaded gives
# "Slideshow Error" with its path written the Linux way and exit 1.
# Usage: kavplay_cli.sh KAVPLAY WORKDIR
set -u
player=$1
work=$2
rm -rf "$work"
mkdir -p "$work/photos"
: >"$work/photos/a.jpg"
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
# run NAME ARGS...: output in $work/NAME.out, exit status in $rc.
run() {
  local name=$1
  shift
  timeout -s KILL 60 "$player" "$@" >"$work/$name.out" 2>&1
  rc=$?
}

for flag in --help -h; do
  run "help$flag" "$flag"
  [ "$rc" -eq 0 ] || fail "$flag: exit $rc"
  grep -q "^Usage: kavplay " "$work/help$flag.out" || fail "$flag: no usage text"
  grep -q -- "-filename PATH" "$work/help$flag.out" || fail "$flag: the options are missing"
done
# DISPLAY is dropped: these messages need no window system.
(unset DISPLAY; export SDL_VIDEODRIVER=x11; timeout -s KILL 60 "$player" -slide 2 >"$work/none.out" 2>&1)
rc=$?
[ "$rc" -eq 2 ] || fail "no show: exit $rc (want 2)"
grep -q "No show to play" "$work/none.out" || fail "no show: not said"
run folder "$work/photos"
[ "$rc" -eq 2 ] || fail "folder without a project: exit $rc (want 2)"
grep -q "The folder $work/photos holds no project" "$work/folder.out" || fail "folder without a project: not said"
run missing -filename "$work/gone/Project.kav"
[ "$rc" -eq 1 ] || fail "missing project: exit $rc (want 1)"
grep -q "Can\`t Load .kav File $work/gone/Project.kav" "$work/missing.out" || fail "missing project: no message with a Linux path"
grep -q '\\' "$work/missing.out" && fail "a message shows a backslash"
grep -q "ERROR: AddressSanitizer\|runtime error:" "$work"/*.out && fail "sanitizer report"
if [ "$failures" -gt 0 ]; then
  tail -n 5 "$work"/*.out
  exit 1
fi
echo "usage, no show, a folder without a project and a missing project are told plainly"
exit 0
