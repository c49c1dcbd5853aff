#!/bin/bash
# Programs a show starts, in the real player in an X server (run under
# xvfb-run). A named program that would hand the show a shell or a file
# (setpriv, bwrap, xvfb-run, env, nice, ffmpeg) starts nothing, and the
# player says which and why, at start and when the show asks; "show" starts
# a program inside a show played from its folder, but neither one lying
# beside a packed show nor one packed inside it; a program named by its path
# starts when the show asks for it by that path; a packed show's document
# comes from the package through a private folder, never from beside it;
# arguments that only resemble an interpreter's name pass, a shell's path
# does not, and the person is told why.
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
  local log_option=(-log)
  [ -n "${quiet:-}" ] && log_option=()
  "$player" "${log_option[@]}" "$@" "$show" >"$out/$case_name.out" 2>&1 &
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

# 5. A packed show in a downloads folder asks for its notes and for a
# launcher it does not hold; other notes and that launcher lie beside it.
# The desktop's opener (a stand-in first on PATH) gets the package's notes
# from a private folder, which is gone when the player has ended; the
# launcher is refused, and the person is told.
mkdir -p "$out/docs" "$out/opener" "$out/downloads2"
project "$out/docs" "notes.txt,launcher.desktop"
echo "inside the package" >"$out/docs/notes.txt"
echo "beside the package" >"$out/downloads2/notes.txt"
printf '[Desktop Entry]\nType=Application\nExec=touch %s\n' "$out/launcher.bad" >"$out/downloads2/launcher.desktop"
printf '#!/bin/sh\necho "$1" >>"%s"\ncp "$1" "%s"\nstat -c %%a "$(dirname "$1")" >"%s"\n' \
  "$out/opened.list" "$out/opened.copy" "$out/opened.mode" >"$out/opener/xdg-open"
chmod +x "$out/opener/xdg-open"
if ! "$kavpack" "$out/downloads2/show.kvshow" "$out/docs" >"$out/kavpack2.out" 2>&1; then
  case_name=kavpack2
  fail "kavpack: $(cat "$out/kavpack2.out")"
else
  # Ended once the opener has copied the notes (the launcher's refusal is
  # said right after the opener is started).
  PATH="$out/opener:$PATH" quiet=1 run packed_documents "$out/downloads2/show.kvshow" "a^" "$out/opened.mode" \
    --allow-programs=show
  opened=$(head -n 1 "$out/opened.list" 2>/dev/null)
  if [ "$(wc -l <"$out/opened.list" 2>/dev/null)" != 1 ]; then
    fail "the opener was called $(wc -l <"$out/opened.list" 2>/dev/null || echo 0) times (once for the notes)"
  elif [ "$(cat "$out/opened.copy")" != "inside the package" ]; then
    fail "the opener got \"$(cat "$out/opened.copy")\" from $opened, not the package's notes"
  elif [ "$(cat "$out/opened.mode")" != 700 ]; then
    fail "the notes were written into a folder of mode $(cat "$out/opened.mode"), not 700"
  elif [ -e "$(dirname "$opened")" ]; then
    fail "the private folder $(dirname "$opened") is still there after the player ended"
  elif ! grep -q '^kavplay: launcher.desktop: refused: the packed show holds no file "launcher.desktop"' \
      "$out/packed_documents.out"; then
    fail "no line that says the launcher beside the package was refused"
  else
    echo "ok [packed_documents]"
  fi
fi

# 6. Arguments: words that only resemble an interpreter's name pass; a
# shell's path is refused and the person is told why.
printf '#!/bin/sh\nprintf "%%s\\n" "$@" >>"%s"\n' "$out/args.list" >"$out/bin/mywrap"
chmod +x "$out/bin/mywrap"
mkdir -p "$out/args/photos/wish"
project "$out/args" "$out/bin/mywrap --title=Wish Ruby Fish Perl photos/wish,$out/bin/mywrap -wrapper \"/bin/sh,-c,touch $out/args.bad\""
quiet=1 run arguments "$out/args" "a^" "$out/args.list" "--allow-programs=$out/bin/mywrap"
if [ -e "$out/args.bad" ] || grep -q "/bin/sh" "$out/args.list" 2>/dev/null; then
  fail "the named program was handed the shell"
elif [ "$(tr '\n' ' ' <"$out/args.list" 2>/dev/null)" != "--title=Wish Ruby Fish Perl photos/wish " ]; then
  fail "the harmless arguments did not reach the program: $(cat "$out/args.list" 2>/dev/null)"
elif ! grep -q '^kavplay: .*mywrap: refused: its argument "/bin/sh,-c,touch .*" names a shell or an interpreter' \
    "$out/arguments.out"; then
  fail "no line that tells the person why the shell's path was refused"
else
  echo "ok [arguments]"
fi

[ "$failures" -eq 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "all passed"
