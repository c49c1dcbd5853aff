#!/bin/bash
# Installs the build into a temporary DESTDIR and checks what a user gets:
# the player (and the packer when the build has one) in bin, a valid desktop
# entry that opens ".kvshow" files with the installed player, the MIME type,
# the icons both name, and the demo show, which the installed player plays
# headless (SDL's dummy drivers) from another folder until SIGTERM, then
# ends with 0; the uninstall script then takes all of it out again.
# Usage: kavplay_install.sh CMAKE BUILD_DIR HAS_KAVPACK WORKDIR
set -u
source "$(dirname "$0")/../../xvfb/xvfb_harness.sh"
cmake=$1
build=$2
has_kavpack=$3
work=$4
prefix=/opt/kav
rm -rf "$work"
mkdir -p "$work/home"
root=$work/root
xh_count_failures

if [ ! -f "$build/demo/demo.kvshow" ]; then
  echo "no demo show in $build (kav_demo was not built): skipped"
  exit 77
fi
DESTDIR=$root "$cmake" --install "$build" --prefix "$prefix" >"$work/install.out" 2>&1 || {
  cat "$work/install.out"
  echo "FAIL: cmake --install"
  exit 1
}
inst=$root$prefix
[ -x "$inst/bin/kavplay" ] || fail "no bin/kavplay"
if [ "$has_kavpack" = 1 ]; then
  [ -x "$inst/bin/kavpack" ] || fail "no bin/kavpack"
fi
[ -f "$inst/share/kavplay/demo.kvshow" ] || fail "no share/kavplay/demo.kvshow"

desktop=$inst/share/applications/kavplay.desktop
if [ -f "$desktop" ]; then
  desktop-file-validate "$desktop" || fail "desktop-file-validate rejects the desktop entry"
  grep -qx "Exec=$prefix/bin/kavplay %f" "$desktop" || fail "the desktop entry does not start $prefix/bin/kavplay"
  grep -q "^MimeType=.*application/x-kav-show;" "$desktop" || fail "the desktop entry names no show type"
  grep -qx "Icon=kavplay" "$desktop" || fail "the desktop entry names no icon kavplay"
else
  fail "no share/applications/kavplay.desktop"
fi
# The icons the entry and the type name, as SVG pictures.
for icon in apps/kavplay mimetypes/application-x-kav-show; do
  file=$inst/share/icons/hicolor/scalable/$icon.svg
  if [ -f "$file" ]; then
    grep -q "<svg" "$file" || fail "$icon.svg is no SVG picture"
  else
    fail "no share/icons/hicolor/scalable/$icon.svg"
  fi
done
grep -q '<icon name="application-x-kav-show"/>' "$inst/share/mime/packages/kavplay.xml" 2>/dev/null ||
  fail "the MIME type names no icon application-x-kav-show"
# The MIME package compiles and maps *.kvshow to the type.
if [ -f "$inst/share/mime/packages/kavplay.xml" ]; then
  mkdir -p "$work/mime/packages"
  cp "$inst/share/mime/packages/kavplay.xml" "$work/mime/packages/"
  update-mime-database "$work/mime" || fail "update-mime-database rejects the MIME package"
  grep -q "application/x-kav-show:\*\.kvshow" "$work/mime/globs2" 2>/dev/null || fail "*.kvshow is not mapped to the show type"
else
  fail "no share/mime/packages/kavplay.xml"
fi

# The installed player plays the installed demo, far from the build tree.
out=$work/play.out
(cd / && HOME=$work/home XDG_CONFIG_HOME=$work/home/config XDG_STATE_HOME=$work/home/state \
  exec "$inst/bin/kavplay" "$inst/share/kavplay/demo.kvshow" -log) >"$out" 2>&1 &
pid=$!
# Until the engine runs and the music plays (generous: a loaded machine).
for _ in $(seq 600); do
  kill -0 "$pid" 2>/dev/null || break
  grep -q "SetActive(True)" "$out" && grep -q "Play Channel" "$out" && break
  sleep 0.1
done
sleep 3
if kill -0 "$pid" 2>/dev/null; then
  grep -q "SetActive(True)" "$out" || fail "the engine did not start"
  grep -q "Play Channel" "$out" || fail "the music did not start"
  kill -TERM "$pid"
  xh_wait_end "$pid" 30 || fail "the installed player did not end on SIGTERM"
  [ "$XH_RC" -eq 0 ] || fail "the installed player exited with $XH_RC after SIGTERM"
  grep -q "^Program stoped" "$out" || fail "no end banner: the player did not shut down in order"
else
  wait "$pid"
  fail "the installed player ended by itself with $?"
fi
grep -q "Slideshow Error" "$out" && fail "the installed player reported an error"
grep -q "ERROR: AddressSanitizer\|runtime error:" "$out" && fail "sanitizer report"

# The uninstall target's script takes out every file the install put down
# (and the player's data folder), nothing else.
touch "$inst/share/applications/other.desktop"
DESTDIR=$root "$cmake" -DKAV_MANIFEST="$build/install_manifest.txt" \
  -P "$(dirname "$0")/../../../scripts/uninstall.cmake" >"$work/uninstall.out" 2>&1 || fail "uninstall: $(cat "$work/uninstall.out")"
left=$(find "$inst" -type f ! -name other.desktop)
[ -z "$left" ] || fail "left after uninstall: $left"
[ -e "$inst/share/kavplay" ] && fail "share/kavplay left after uninstall"
[ -f "$inst/share/applications/other.desktop" ] || fail "uninstall took a file it did not install"
if [ "$failures" -gt 0 ]; then
  tail -n 40 "$out"
  exit 1
fi
echo "installed into $root$prefix, the entry and type are valid, the demo played and ended with 0"
exit 0
