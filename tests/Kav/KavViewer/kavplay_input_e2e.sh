#!/bin/bash
# The player driven as a person drives it, in an X server: the demo show's
# project folder (with its own help dialog) and the cursor hidden at open.
# Checks that the cursor is hidden from the start and comes back on the
# first movement, that the hidden navigation panel stays hidden on a first
# movement of 5 pixels and shows on one of 6, that with the help dialog open
# the next-slide key does nothing and Esc closes the dialog (not the
# program), and that the media next-track key moves on. Run under xvfb-run.
# Usage: kavplay_input_e2e.sh KAVPLAY DEMO_PROJECT_FOLDER OUTDIR
set -u
player=$1
demo=$2
out=$3
if [ ! -f "$demo/Project.kav" ]; then
  echo "no demo project at $demo (kav_demo was not built): skipped"
  exit 77
fi
command -v python3 >/dev/null || { echo "no python3: skipped"; exit 77; }
rm -rf "$out"
mkdir -p "$out"
cp -r "$demo" "$out/show"
# Cursor hidden at open; F1 shows the demo's own help dialog. The panel,
# once a movement shows it, stays for a minute instead of the demo's 2 s:
# on a loaded machine a screenshot can come later than 2 s after the
# movement, and the panel would have faded out again before it.
sed -i 's/^opt_fcp=1/opt_hidecursor=1\r\nopt_fcp=1/; s/^opt_nav_hideinterval=[0-9]*/opt_nav_hideinterval=60/' "$out/show/Project.kav"
grep -q "^opt_nav_hideinterval=60" "$out/show/Project.kav" || { echo "FAIL: the demo's panel hide interval was not set"; exit 1; }

# Whether the X cursor shows an opaque pixel (XFixes cursor image).
cursor_state() {
  python3 - <<'EOF'
import ctypes, sys
try:
    x11 = ctypes.CDLL("libX11.so.6")
    xf = ctypes.CDLL("libXfixes.so.3")
except OSError:
    print("unknown"); sys.exit(0)
class Image(ctypes.Structure):
    _fields_ = [("x", ctypes.c_short), ("y", ctypes.c_short), ("width", ctypes.c_ushort),
                ("height", ctypes.c_ushort), ("xhot", ctypes.c_ushort), ("yhot", ctypes.c_ushort),
                ("serial", ctypes.c_ulong), ("pixels", ctypes.POINTER(ctypes.c_ulong)),
                ("atom", ctypes.c_ulong), ("name", ctypes.c_char_p)]
x11.XOpenDisplay.restype = ctypes.c_void_p
xf.XFixesGetCursorImage.restype = ctypes.POINTER(Image)
xf.XFixesGetCursorImage.argtypes = [ctypes.c_void_p]
d = x11.XOpenDisplay(None)
img = xf.XFixesGetCursorImage(d) if d else None
if not img:
    print("unknown"); sys.exit(0)
c = img.contents
opaque = any((c.pixels[i] >> 24) & 0xFF for i in range(c.width * c.height))
print("visible" if opaque else "hidden")
EOF
}

# With its log on stderr: the engine says there when it takes the pause key.
"$player" "$out/show" -log >"$out/kavplay.out" 2>&1 &
pid=$!
fail() {
  echo "FAIL: $*"
  kill -KILL "$pid" 2>/dev/null
  tail -n 40 "$out/kavplay.out"
  exit 1
}
alive() { kill -0 "$pid" 2>/dev/null; }
shot() { import -window root "$out/$1.png" || fail "no screenshot $1"; }
# Differing pixels of two screenshots, in the window's bottom strip or all.
differ() { compare -metric AE -fuzz 10% "$out/$1.png" "$out/$2.png" null: 2>&1 | cut -d' ' -f1; }
differ_strip() {
  convert "$out/$1.png" -crop "$strip" +repage "$out/$1.strip.png"
  convert "$out/$2.png" -crop "$strip" +repage "$out/$2.strip.png"
  compare -metric AE -fuzz 10% "$out/$1.strip.png" "$out/$2.strip.png" null: 2>&1 | cut -d' ' -f1
}
cursor_is() { [ "$(cursor_state)" = "$1" ]; }
wait_cursor() { xh_until 30 cursor_is "$1"; }
# Screenshots NAME until it differs from REF in more than MIN pixels (the
# whole screen, or the panel's strip with "strip"); false after 30 s.
changed=
until_differ() {
  local end=$((SECONDS + 30))
  while :; do
    alive || fail "the player ended"
    shot "$1"
    if [ "${4:-}" = strip ]; then changed=$(differ_strip "$2" "$1"); else changed=$(differ "$2" "$1"); fi
    [ "${changed:-0}" -gt "$3" ] 2>/dev/null && return 0
    [ "$SECONDS" -le "$end" ] || return 1
    sleep 0.3
  done
}

source "$(dirname "$0")/../../xvfb/xvfb_harness.sh"
win=$(xh_find_window "$pid" 60)
[ -n "$win" ] || fail "no window of the player"
eval "$(xdotool getwindowgeometry --shell "$win")"
# The panel stands at the window's bottom edge.
strip="${WIDTH}x$((HEIGHT / 6))+${X}+$((Y + HEIGHT - HEIGHT / 6))"
# The pointer rests where the window appeared (the middle of the screen): a
# warp there now would already be a movement.
eval "$(xdotool getmouselocation --shell | sed 's/^/MOUSE_/')"
if [ "$MOUSE_X" -lt "$X" ] || [ "$MOUSE_X" -ge $((X + WIDTH)) ] || [ "$MOUSE_Y" -lt "$Y" ] ||
   [ "$MOUSE_Y" -ge $((Y + HEIGHT)) ]; then
  kill "$pid"
  echo "the pointer is not over the window ($MOUSE_X, $MOUSE_Y): skipped"
  exit 77
fi
# The show is drawn (more than one colour on screen), so it has opened.
drawn() {
  alive || fail "the player ended while opening"
  shot start
  awk -v s="$(convert "$out/start.png" -format '%[fx:standard_deviation]' info:)" 'BEGIN { exit !(s > 0.05) }'
}
xh_until 60 drawn || fail "the show was never drawn"
[ "$(cursor_state)" = "unknown" ] && { kill "$pid"; echo "no XFixes cursor image: skipped"; exit 77; }
wait_cursor hidden || fail "the cursor shows after the open"
xdotool windowfocus --sync "$win" 2>/dev/null || xdotool windowfocus "$win"
xdotool key space  # paused: the picture stands still
# The player opens the show before it takes any key, and takes mouse input
# from a second after the open: once the engine has the pause (its log
# says so), a movement a second later counts as the first one, however
# late the player got to its keys on a loaded machine.
paused() { grep -qE "SetPauseEvent (Direct|Async): True" "$out/kavplay.out"; }
xh_until 60 paused || fail "the pause key was not taken"
paused_us=${EPOCHREALTIME//[!0-9]/}
xh_wait_still "$out/still" 30 || fail "the picture did not stand still when paused"
cp "$out/still.prev.png" "$out/still1.png"
cp "$out/still.png" "$out/still2.png"
noise=$(differ_strip still1 still2)

now_us=${EPOCHREALTIME//[!0-9]/}
left_us=$((paused_us + 1100000 - now_us))
[ "$left_us" -gt 0 ] && sleep "$((left_us / 1000000)).$(printf %06d $((left_us % 1000000)))"
xdotool mousemove_relative 5 0
wait_cursor visible || fail "the cursor stays hidden after a movement"
# What must not happen gets a second to happen.
sleep 1
shot moved5
quiet=$(differ_strip still2 moved5)
[ "${quiet:-1}" -le $((noise + 200)) ] 2>/dev/null || fail "the panel showed on a first movement of 5 pixels ($quiet pixels)"
xdotool mousemove_relative 6 0
until_differ moved6 moved5 2000 strip || fail "the panel did not show on a movement of 6 pixels ($changed pixels)"
# The cursor stays (resting does not hide it again).
sleep 2.5
[ "$(cursor_state)" = "visible" ] || fail "the cursor hid again after it came back"

xdotool key F1
until_differ opened moved6 100000 || fail "no help dialog on F1 ($changed pixels)"
# Drawn whole and settled before the key that must change nothing.
xh_wait_still "$out/help" 30 || fail "the screen did not settle with the help dialog open"
xdotool key Right
sleep 1.5
shot help_right
under=$(differ help help_right)
[ "${under:-1}" -lt 20000 ] 2>/dev/null || fail "the next-slide key acted under the dialog ($under pixels)"
xdotool key Escape
until_differ closed help_right 100000 || fail "Esc did not close the help dialog ($changed pixels)"
alive || fail "Esc with the help dialog open ended the player"
xh_wait_still "$out/closed" 30 || fail "the screen did not settle after the dialog closed"
xdotool key XF86AudioNext
until_differ media_next closed 300000 || fail "no other slide after the media next-track key ($changed pixels)"

xh_escape_and_wait "$pid" || fail "the player did not end on Escape"
[ "$XH_RC" -eq 0 ] || fail "the player exited with $XH_RC"
echo "cursor, hidden panel, dialog keys and media key as a viewer expects; screenshots in $out"
exit 0
