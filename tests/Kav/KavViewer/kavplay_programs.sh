#!/bin/bash
# Programs a show starts, in the real player in an X server (run under
# xvfb-run). A named program that would hand the show a shell or a file
# (setpriv, bwrap, xvfb-run, env, nice, ffmpeg) starts nothing, and the
# player says which and why, at start and when the show asks; "show" starts
# a program inside a show played from its folder, but neither one lying
# beside a packed show nor one packed inside it; a program named by its path
# starts when the show asks for it by that path.
# Usage: kavplay_programs.sh KAVPLAY KAVPACK OUTDIR
set -u
player=$1
kavpack=$2
out=$3
rm -rf "$out"
mkdir -p "$out"
failures=0
pid=

fail() {
  echo "FAIL [$case_name]: $*"
  tail -n 20 "$out/$case_name.out"
  failures=$((failures + 1))
}

# project FOLDER COMMAND: a show of one long slide that asks, as it starts,
# for COMMAND.
project() {
  mkdir -p "$1"
  printf '\xef\xbb\xbf[Main]\r\nKavVersion=8.0.1\r\nopt_scr_width=320\r\nopt_scr_height=240\r\nopt_scr_full=0\r\nopt_repeat=repeat\r\nopt_allowrunapp=1\r\n[Times]\r\nopt_slidescount=1\r\nopt_synchpos1=60000\r\n[Slide1]\r\nPers_RunApp=1\r\nRunAppFN=%s\r\n' "$2" >"$1/Project.kav"
}

# marker_program FILE MARKER: a program that leaves the file MARKER.
marker_program() {
  printf '#!/bin/sh\n: > "%s"\n' "$2" >"$1"
  chmod +x "$1"
}

# run NAME SHOW PATTERN MARKER ARGS...: the player on SHOW with the log on
# its standard error; waits up to 60 s until its output matches PATTERN
# (grep -E) or the file MARKER appears, then a moment more, and ends it.
run() {
  case_name=$1
  local show=$2 pattern=$3 marker=$4
  shift 4
  "$player" -log "$@" "$show" >"$out/$case_name.out" 2>&1 &
  pid=$!
  local end=$((SECONDS + 60))
  while [ "$SECONDS" -le "$end" ]; do
    [ -e "$marker" ] && break
    grep -Eq "$pattern" "$out/$case_name.out" && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.2
  done
  # A program started a moment after the refusal would still be seen.
  sleep 1
  kill -TERM "$pid" 2>/dev/null
  local i
  for i in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -KILL "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
}

# 1. Named wrappers and ffmpeg: each is refused at start, with the reason,
# and when the show asks for it; no marker appears.
mkdir -p "$out/bin"
for w in setpriv bwrap xvfb-run env nice ffmpeg; do
  command -v "$w" >/dev/null || { echo "no $w: case skipped"; continue; }
  bad="$out/$w.bad"
  case $w in
    bwrap) cmd="bwrap --dev-bind / / sh -c \"touch $bad\"" ;;
    xvfb-run) cmd="xvfb-run -a sh -c \"touch $bad\"" ;;
    ffmpeg) cmd="ffmpeg -nostdin -y -f lavfi -i color=c=red:s=16x16:d=0.1 -frames:v 1 -f image2 $bad" ;;
    *) cmd="$w sh -c \"touch $bad\"" ;;
  esac
  project "$out/$w" "$cmd"
  run "wrapper_$w" "$out/$w" "refused: \"$w\" " "$bad" "--allow-programs=$w"
  sleep 1
  if [ -e "$bad" ]; then
    fail "the show ran \"$cmd\" through the named $w"
  elif ! grep -q "^kavplay: --allow-programs: \"$w\" is refused even when named: \"$w\" [a-z]" "$out/wrapper_$w.out"; then
    fail "no line at start that says $w is refused and why"
  elif ! grep -Eq "$w.* refused: \"$w\" (runs|writes|is)" "$out/wrapper_$w.out"; then
    fail "no log line that says why the show's $w was refused"
  else
    echo "ok [wrapper_$w]"
  fi
done

# 2. "show": a program inside the folder of a show played from its folder
# starts.
project "$out/folder" "tool"
marker_program "$out/folder/tool" "$out/folder.started"
run show_folder "$out/folder" "refused" "$out/folder.started" --allow-programs=show
if [ -e "$out/folder.started" ]; then echo "ok [show_folder]"; else fail "the show's own program never started"; fi

# 3. "show" for a packed show lying in a downloads folder: neither the
# program beside it nor the one packed inside it starts.
project "$out/packed" "tool"
marker_program "$out/packed/tool" "$out/packed.inside.bad"
mkdir -p "$out/downloads"
if ! "$kavpack" "$out/downloads/show.kvshow" "$out/packed" >"$out/kavpack.out" 2>&1; then
  case_name=kavpack
  fail "kavpack: $(cat "$out/kavpack.out")"
else
  marker_program "$out/downloads/tool" "$out/packed.beside.bad"
  run show_packed "$out/downloads/show.kvshow" "tool refused" "$out/packed.beside.bad" --allow-programs=show
  if [ -e "$out/packed.beside.bad" ] || [ -e "$out/packed.inside.bad" ]; then
    fail "\"show\" started a program that the packed show does not carry"
  elif ! grep -q "^kavplay: --allow-programs: show: a packed show carries no program" "$out/show_packed.out"; then
    fail "no line at start that says \"show\" allows nothing for a packed show"
  else
    echo "ok [show_packed]"
  fi
fi

# 4. A program named by its path starts when the show asks for it by that
# path.
marker_program "$out/bin/mark" "$out/path.started"
project "$out/path" "$out/bin/mark"
run named_path "$out/path" "cannot open|refused" "$out/path.started" "--allow-programs=$out/bin/mark"
if [ -e "$out/path.started" ]; then echo "ok [named_path]"; else fail "the program named by its path never started"; fi

[ "$failures" -eq 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "all passed"
