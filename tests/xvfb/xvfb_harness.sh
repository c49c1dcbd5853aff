# Harness for tests of the real player in an X server (bash; source it).
#
# It starts Xvfb at a given screen size, makes a colour show (every slide
# one solid colour with its number drawn big in the middle, see
# make_colour_show.py), runs kavplay on it, drives it with xdotool and reads
# screenshots (ImageMagick `import`) pixel by pixel, so "which slide is on
# screen" and "where is the show's rectangle" are a few sampled pixels.
#
#   source tests/xvfb/xvfb_harness.sh
#   xh_init OUTDIR KAVPLAY KAVPACK      # exits 77 (skip) without the tools
#   xh_make_show "$XH_OUT/a.kvshow" --slides 3 --full 0 --window 800x500
#   xh_start_x 1280x800                 # its own server; DISPLAY is set
#   xh_start_player "$XH_OUT/a.kvshow"  # kavplay SHOW [args...]; XH_PID
#   xh_wait_window || xh_fail "no window"
#   xh_wait_slide 1 640 400 60 || xh_fail "slide 1 never showed"
#   xh_shot s1; xh_pixel s1 10 10       # -> RRGGBB of that screen pixel
#   xh_key Right; xh_quit_player; xh_stop_x
#   xh_pass "what was checked"
#
# Functions (all names start with xh_; failures end the test with exit 1
# through xh_fail, which also prints the player's log):
#   xh_init OUT KAVPLAY KAVPACK  output folder (emptied), the programs;
#                           exits 77 when Xvfb, xdotool, xprop, xwininfo,
#                           ImageMagick or Python's Pillow is missing
#   xh_make_show OUT.kvshow [make_colour_show.py options]
#   xh_colour N             the colour of slide N (1-based) as RRGGBB
#   xh_start_x WxH          a new Xvfb (24 bits) on a free display; stops the
#                           previous one
#   xh_stop_x               stops the player and the server
#   xh_start_player SHOW [args]   kavplay in the background (XH_PID); its
#                           output goes to $XH_OUT/kavplay-N.out
#   xh_alive                the player still runs (a zombie has ended)
#   xh_running PID          the process PID runs: it exists and is not a
#                           zombie (kill -0 counts an ended, unreaped process
#                           as running); usable without the rest
#   xh_exit_time [--own-time] PID SIG SECS [SINCE_NS]  sends SIG (0: none) and waits up
#                           to SECS for the end as the kernel sees it; see
#                           below (usable without the rest)
#   xh_wait_window [SECS]   waits for a visible window of the player that
#                           stays; sets XH_WIN
#   xh_key KEYS...          focuses the player's window and sends the keys
#   xh_shot NAME            screenshot of the whole screen: $XH_OUT/NAME.png
#   xh_pixel NAME X Y       RRGGBB of a pixel of a screenshot
#   xh_near A B [TOL]       colours A and B (RRGGBB) differ by at most TOL
#                           (default 24) in each channel
#   xh_slide_at NAME X Y    the number of the slide whose colour the pixel
#                           has, or "hider" (the hider colour, XH_HIDER),
#                           or the pixel's RRGGBB
#   xh_wait_slide N X Y SECS  screenshots (named wait-N) until slide N shows
#                           at (X, Y); false after SECS seconds
#   xh_wait_exit SECS       waits for the player to end; false when it runs on
#                           (XH_EXIT_MS: how long it took)
#   xh_quit_player          Escape, then waits for the end and checks exit 0
#   xh_fit W H SW SH        the rectangle "L T R B" a W x H show takes when
#                           fitted into SW x SH, centred, keeping its aspect
#   xh_fail TEXT / xh_pass TEXT
#   xh_count_failures       for a test that goes on after a failure: sets
#                           failures=0 and defines fail TEXT, which prints
#                           "FAIL: TEXT" and counts it in $failures (usable
#                           without the rest)
#   xh_search_title REGEX   ids of the viewable windows whose title matches
#                           (usable without the rest; see below)
#   xh_wait_title REGEX SECS  the first such id, once there is one; false
#                           after SECS seconds
#   xh_title ID             the window's title as UTF-8
#   xh_prop ID PROP         the property's type, then its text as UTF-8
#   xh_toplevel ID          the root's child that holds window ID (a window
#                           manager's frame, else the window itself), in
#                           decimal (usable without the rest)
#   xh_until SECS CMD...    runs CMD every 0.2 s until it succeeds; false
#                           after SECS seconds (usable without the rest)
#   xh_wait_still PREFIX SECS [MAX]  screenshots PREFIX.png about a second
#                           apart until two in a row differ in at most MAX
#                           pixels (500): the screen stands still; false
#                           after SECS seconds (usable without the rest)
#
# Timings are generous: every wait is for the event itself (a window, a
# slide, an exit) with a time-out, since the tests run under ASan on loaded
# machines. Slide times of a few seconds leave room for that.

XH_OUT=
XH_PLAYER=
XH_PACKER=
XH_PID=
XH_XPID=
XH_WIN=
XH_HIDER=500050
XH_RUNS=0
XH_PYTHON=
XH_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

xh_init() {
  XH_OUT=$1
  XH_PLAYER=$2
  XH_PACKER=$3
  local tool
  for tool in Xvfb xdotool xprop xwininfo import convert; do
    if ! command -v "$tool" >/dev/null; then
      echo "no $tool: skipped"
      exit 77
    fi
  done
  # Debian's interpreter carries Pillow (python3-pil).
  for XH_PYTHON in /usr/bin/python3 python3 ""; do
    [ -n "$XH_PYTHON" ] && "$XH_PYTHON" -c "import PIL" 2>/dev/null && break
  done
  if [ -z "$XH_PYTHON" ]; then
    echo "no Python with Pillow: skipped"
    exit 77
  fi
  mkdir -p "$XH_OUT"
  rm -f "$XH_OUT"/*.png "$XH_OUT"/*.out
  trap xh_stop_x EXIT
}

xh_make_show() {
  local out=$1
  shift
  "$XH_PYTHON" "$XH_DIR/make_colour_show.py" --packer "$XH_PACKER" --hider "$XH_HIDER" "$@" "$out" \
    >"$XH_OUT/make_show.out" 2>&1 || { cat "$XH_OUT/make_show.out"; xh_fail "the colour show was not made"; }
}

xh_colour() {
  "$XH_PYTHON" "$XH_DIR/make_colour_show.py" --print-colours | sed -n "${1}p"
}

xh_start_x() {
  xh_stop_x
  local fdfile="$XH_OUT/display.$$"
  rm -f "$fdfile"
  # -displayfd: the server picks a free display and writes its number;
  # -noreset: a player started while the server resets after the last
  # client left could not connect.
  # Servers starting side by side can race for a display's lock and one
  # then waits or gives up: it is started again, up to three times.
  local attempt n
  for attempt in 1 2 3; do
    Xvfb -displayfd 3 -screen 0 "${1}x24" -nolisten tcp -noreset 3>"$fdfile" 2>>"$XH_OUT/xvfb.out" &
    XH_XPID=$!
    for n in $(seq 200); do
      [ -s "$fdfile" ] && break 2
      kill -0 "$XH_XPID" 2>/dev/null || break
      sleep 0.1
    done
    echo "Xvfb gave no display number (attempt $attempt)" >>"$XH_OUT/xvfb.out"
    kill -KILL "$XH_XPID" 2>/dev/null
    wait "$XH_XPID" 2>/dev/null
    XH_XPID=
    rm -f "$fdfile"
  done
  [ -s "$fdfile" ] || xh_fail "Xvfb gave no display number (size $1)"
  export DISPLAY=":$(head -n 1 "$fdfile" | tr -dc 0-9)"
  rm -f "$fdfile"
  for n in $(seq 100); do
    xdotool getdisplaygeometry >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  xh_fail "the X server at $DISPLAY does not answer"
}

xh_stop_x() {
  if [ -n "$XH_PID" ]; then
    kill -KILL "$XH_PID" 2>/dev/null
    wait "$XH_PID" 2>/dev/null
    XH_PID=
  fi
  if [ -n "$XH_XPID" ]; then
    kill "$XH_XPID" 2>/dev/null
    wait "$XH_XPID" 2>/dev/null
    XH_XPID=
  fi
}

# Busy loops, KAV_BUSY_PER_CORE (2) per core, that load every core while a
# test runs; xh_stop_busy ends them (call it from the script's EXIT trap).
XH_BUSY=()
xh_start_busy() {
  local _
  for _ in $(seq $(( $(nproc) * ${KAV_BUSY_PER_CORE:-2} ))); do
    (while :; do :; done) &
    XH_BUSY+=($!)
  done
}
xh_stop_busy() {
  local b
  for b in "${XH_BUSY[@]}"; do kill "$b" 2>/dev/null; done
  for b in "${XH_BUSY[@]}"; do wait "$b" 2>/dev/null; done
  XH_BUSY=()
}

xh_start_player() {
  XH_RUNS=$((XH_RUNS + 1))
  XH_LOG="$XH_OUT/kavplay-$XH_RUNS.out"
  "$XH_PLAYER" "$@" >"$XH_LOG" 2>&1 &
  XH_PID=$!
  XH_WIN=
}

xh_alive() { [ -n "$XH_PID" ] && xh_running "$XH_PID"; }

xh_running() {
  local stat
  case $1 in "" | *[!0-9]*) return 1 ;; esac
  read -r stat 2>/dev/null <"/proc/$1/stat" || return 1
  # The state follows the command name, which is in parentheses.
  stat=${stat##*) }
  case ${stat:0:1} in Z | X | "") return 1 ;; esac
  return 0
}

# The end of a process as the kernel sees it, timed by a process that does
# nothing but wait (exit_time.py: a pidfd, readable the moment the process
# exits, zombie or not): a test's own polling steps, screenshots and stack
# dumps are not in the time, and SIG is sent by the timing process itself.
# Sets XH_EXIT_MS (ms from the signal, or from SINCE_NS, to the end, or to
# the give-up), XH_EXIT_STARVED_MS (the longest a thread of the process
# waited for a CPU meanwhile: XH_EXIT_MS minus it is what the process
# itself took, however loaded the machine) and XH_EXIT_T0 (the signal's
# CLOCK_MONOTONIC ns, for a later call's SINCE_NS). With --own-time first,
# SECS counts the process's own time. False when the process still runs
# after SECS; true with XH_EXIT_MS empty when there was no such process
# (ended and reaped).
xh_exit_time() {
  local out rc
  out=$("$XH_TOOL_PYTHON" "$XH_DIR/exit_time.py" "$@")
  rc=$?
  XH_EXIT_MS=
  XH_EXIT_STARVED_MS=
  XH_EXIT_T0=
  set -- $out
  case ${1:-} in
    ended) XH_EXIT_MS=$2 XH_EXIT_STARVED_MS=$3 ;;
    running) XH_EXIT_MS=$2 XH_EXIT_STARVED_MS=$3 XH_EXIT_T0=$4 ;;
  esac
  [ "$rc" -ne 1 ]
}

xh_fail() {
  echo "FAIL: $*"
  if [ -n "${XH_LOG:-}" ] && [ -f "$XH_LOG" ]; then
    echo "--- player output ($XH_LOG):"
    tail -n 40 "$XH_LOG"
  fi
  xh_stop_x
  exit 1
}

xh_pass() {
  echo "PASS: $*"
  exit 0
}

xh_count_failures() {
  failures=0
  fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
  }
}

# Prints the player's window (process PID) once the same visible window is
# found twice, 0.5 s apart: the player may replace its first window (a new
# border style makes a new one). False after SECS seconds or when the
# process ends. Usable without the rest of the harness.
xh_find_window() {
  local pid=$1 end=$((SECONDS + ${2:-60})) id prev=
  while [ "$SECONDS" -le "$end" ]; do
    xh_running "$pid" || return 1
    id=$(xdotool search --onlyvisible --pid "$pid" 2>/dev/null | head -n 1)
    if [ -n "$id" ] && xdotool getwindowgeometry "$id" >/dev/null 2>&1; then
      if [ "$id" = "$prev" ]; then
        echo "$id"
        return 0
      fi
      prev=$id
    else
      prev=
    fi
    sleep 0.5
  done
  return 1
}

# Window titles are read as bytes by xwin_title.py, the same whatever
# locale the run has: xdotool search --name reads WM_NAME through the
# caller's locale and misses a title of another encoding, and xprop escapes
# bytes beyond ASCII in the "C" locale. Every test finds windows by title
# through these. A REGEX is a Python regular expression on the title's
# UTF-8 bytes (the title is _NET_WM_NAME, else WM_NAME). Usable without the
# rest of the harness (plain python3 suffices: Debian's, as one on the path
# may be a per-user shim).
XH_TOOL_PYTHON=/usr/bin/python3
[ -x "$XH_TOOL_PYTHON" ] || XH_TOOL_PYTHON=python3
xh_search_title() { "$XH_TOOL_PYTHON" "$XH_DIR/xwin_title.py" find "$1" 2>/dev/null; }
xh_wait_title() {
  local end=$((SECONDS + $2)) w
  while :; do
    w=$(xh_search_title "$1" | head -n 1)
    [ -n "$w" ] && { echo "$w"; return 0; }
    [ "$SECONDS" -le "$end" ] || return 1
    sleep 0.2
  done
}
xh_title() { "$XH_TOOL_PYTHON" "$XH_DIR/xwin_title.py" title "$1"; }
xh_prop() { "$XH_TOOL_PYTHON" "$XH_DIR/xwin_title.py" prop "$1" "$2"; }

# The root's child that holds window $1 (a window manager's frame, or the
# window itself without one), in decimal.
xh_toplevel() {
  local id=$1 parent root _
  root=$(xwininfo -root | sed -n 's/.*Window id: \(0x[0-9a-fA-F]*\).*/\1/p')
  for _ in 1 2 3 4 5 6; do
    parent=$(xwininfo -id "$id" -tree 2>/dev/null | sed -n 's/.*Parent window id: \(0x[0-9a-fA-F]*\).*/\1/p')
    [ -z "$parent" ] || [ $((parent)) -eq $((root)) ] && break
    id=$parent
  done
  echo $((id))
}

xh_until() {
  local end=$((SECONDS + $1))
  shift
  while :; do
    "$@" && return 0
    [ "$SECONDS" -le "$end" ] || return 1
    sleep 0.2
  done
}

xh_wait_still() {
  local prefix=$1 end=$((SECONDS + $2)) max=${3:-500} moved
  import -window root "$prefix.png" 2>/dev/null || return 1
  while [ "$SECONDS" -le "$end" ]; do
    sleep 1
    mv -f "$prefix.png" "$prefix.prev.png"
    import -window root "$prefix.png" 2>/dev/null || return 1
    moved=$(compare -metric AE "$prefix.prev.png" "$prefix.png" null: 2>&1 | cut -d' ' -f1)
    [ "${moved:-$((max + 1))}" -le "$max" ] 2>/dev/null && return 0
  done
  echo "the screen did not stand still within $2 s (last $moved pixels moved)"
  return 1
}

xh_wait_window() {
  XH_WIN=$(xh_find_window "$XH_PID" "${1:-60}")
  [ -n "$XH_WIN" ]
}

xh_key() {
  [ -n "$XH_WIN" ] && { xdotool windowfocus --sync "$XH_WIN" 2>/dev/null || xdotool windowfocus "$XH_WIN" 2>/dev/null; }
  xdotool key "$@"
}

xh_shot() {
  import -window root "$XH_OUT/$1.png" 2>/dev/null || xh_fail "no screenshot $1"
}

xh_pixel() {
  convert "$XH_OUT/$1.png" -format "%[hex:p{$2,$3}]" info: 2>/dev/null | cut -c1-6
}

xh_near() {
  local a=$1 b=$2 tol=${3:-24} i
  for i in 0 2 4; do
    local d=$((16#${a:$i:2} - 16#${b:$i:2}))
    [ "${d#-}" -le "$tol" ] || return 1
  done
  return 0
}

xh_slide_at() {
  local p n c
  p=$(xh_pixel "$1" "$2" "$3")
  [ -n "$p" ] || { echo "none"; return; }
  if xh_near "$p" "$XH_HIDER"; then
    echo hider
    return
  fi
  n=0
  while read -r c; do
    n=$((n + 1))
    if xh_near "$p" "$c"; then
      echo "$n"
      return
    fi
  done < <("$XH_PYTHON" "$XH_DIR/make_colour_show.py" --print-colours)
  echo "$p"
}

xh_wait_slide() {
  local n=$1 x=$2 y=$3 secs=$4 end seen
  end=$((SECONDS + secs))
  while [ "$SECONDS" -le "$end" ]; do
    xh_alive || xh_fail "the player ended while waiting for slide $n"
    xh_shot "wait-$n"
    seen=$(xh_slide_at "wait-$n" "$x" "$y")
    [ "$seen" = "$n" ] && return 0
    sleep 0.3
  done
  echo "slide $n not seen at ($x, $y): last $seen"
  return 1
}

xh_wait_exit() { [ -n "$XH_PID" ] && xh_exit_time "$XH_PID" 0 "$1"; }

xh_quit_player() {
  xh_key Escape
  xh_wait_exit 60 || xh_fail "the player did not end on Escape"
  wait "$XH_PID"
  local rc=$?
  XH_PID=
  [ "$rc" -eq 0 ] || xh_fail "the player exited with $rc"
}

# Waits up to SECS seconds for the process PID (a child of this shell) to
# end, then puts its exit code in XH_RC; when it runs on, kills it and is
# false. Usable without the rest of the harness (and without a display).
xh_wait_end() {
  local pid=$1
  XH_RC=
  if ! xh_exit_time "$pid" 0 "${2:-15}"; then
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    return 1
  fi
  wait "$pid"
  XH_RC=$?
}

# Escape to the focused player, then as xh_wait_end (60 s: ending under
# ASan on a loaded machine takes a while).
xh_escape_and_wait() {
  xdotool key Escape
  xh_wait_end "$1" 60
}

xh_fit() {
  local w=$1 h=$2 sw=$3 sh=$4 fw fh
  # The show keeps its aspect: the limiting side fills the screen.
  if [ $((w * sh)) -ge $((h * sw)) ]; then
    fw=$sw
    fh=$(( (h * sw + w / 2) / w ))
  else
    fh=$sh
    fw=$(( (w * sh + h / 2) / h ))
  fi
  local l=$(( (sw - fw) / 2 )) t=$(( (sh - fh) / 2 ))
  echo "$l $t $((l + fw)) $((t + fh))"
}
