#!/bin/bash
# A small package whose music inflates to gigabytes (kavbigentry: a few MB
# on the disk): the first slide comes at once and the player ends on SIGTERM
# or SIGINT at any moment of loading. Two packages of two tunes, each tune
# 15 GiB: zeros under a WAV's name (no sound: refused with its name), and a
# WAV header claiming hours of silence followed by the zeros (it plays).
# Nothing may read such an entry through before the first slide: the
# player's own CPU time when slide 1 is on the screen is held to a few
# seconds beyond what the same show with a small tune takes (reading 15 GiB
# through takes several), and after a signal sent at several moments of the
# start the player ends within a few seconds of its own time (xh_exit_time
# --own-time: what a loaded machine's waits add is not counted).
# Usage: kavplay_large_entry.sh KAVPLAY KAVPACK KAVBIGENTRY OUTDIR
set -u
source "$(dirname "$0")/xvfb_harness.sh"
xh_init "$4" "$1" "$2"
bigentry=$3
export SDL_VIDEODRIVER=x11 SDL_AUDIODRIVER=dummy
giant=$((15 << 30))
# The player's own CPU time (user and system) in ms.
cpu_ms() {
  local stat
  read -r stat <"/proc/$1/stat" || return 1
  set -- ${stat##*) }
  echo $(( (${12} + ${13}) * 1000 / $(getconf CLK_TCK) ))
}

# Two short tunes (one second of a tone each, 44.1 kHz stereo).
for n in 1 2; do
  "$XH_PYTHON" - "$XH_OUT/tune$n.wav" <<'EOF'
import math, struct, sys, wave
w = wave.open(sys.argv[1], "wb")
w.setnchannels(2); w.setsampwidth(2); w.setframerate(44100)
w.writeframes(b"".join(struct.pack("<hh", s, s) for s in
                       (int(6000 * math.sin(i * 2 * math.pi * 440 / 44100)) for i in range(44100))))
w.close()
EOF
done
base="$XH_OUT/base.kvshow"
xh_make_show "$base" --slides 3 --size 640x400 --slide-ms 4000 --full 0 --window 640x400 \
  --music "$XH_OUT/tune1.wav" --music "$XH_OUT/tune2.wav"
# Each large package from a copy of the show's folder: both tunes' entries
# are their file's bytes (none, or a WAV header) followed by zeros.
make_large() {
  local name=$1 head=$2 folder="$XH_OUT/$1.d" n
  rm -rf "$folder"
  cp -r "${base%.kvshow}.d" "$folder"
  for n in 1 2; do
    if [ "$head" = wav ]; then
      # 16-bit stereo at 44.1 kHz whose data chunk claims 4 GiB less 4 KiB.
      "$XH_PYTHON" -c "
import struct, sys
n = (4 << 30) - 4096
sys.stdout.buffer.write(b'RIFF' + struct.pack('<I', n + 36) + b'WAVEfmt ' +
                        struct.pack('<IHHIIHH', 16, 1, 2, 44100, 176400, 4, 16) + b'data' + struct.pack('<I', n))" \
        >"$folder/Music/tune$n.wav"
    else
      : >"$folder/Music/tune$n.wav"
    fi
  done
  "$bigentry" "$XH_OUT/$name.kvshow" "$folder" 'Music\tune1.wav' "$giant" 'Music\tune2.wav' "$giant" ||
    xh_fail "kavbigentry did not pack $name"
}
make_large zeros none
make_large silence wav
ls -l "$XH_OUT"/*.kvshow
xh_start_x 1024x768

# Slide 1 on the screen: the seconds it took and the player's CPU time then.
first_slide() {
  local show=$1 t0=$SECONDS
  xh_start_player "$show"
  xh_wait_window 60 || xh_fail "$show: no window"
  xdotool windowmove --sync "$XH_WIN" 0 0 2>/dev/null || xdotool windowmove "$XH_WIN" 0 0
  xh_wait_slide 1 60 60 60 || xh_fail "$show: slide 1 not on the screen within 60 s"
  SLIDE_CPU_MS=$(cpu_ms "$XH_PID")
  SLIDE_SECS=$((SECONDS - t0))
  xh_quit_player
}
first_slide "$base"
base_cpu=$SLIDE_CPU_MS
echo "small tunes: slide 1 after ${SLIDE_SECS} s, ${base_cpu} ms of the player's CPU time"
for name in zeros silence; do
  first_slide "$XH_OUT/$name.kvshow"
  echo "$name: slide 1 after ${SLIDE_SECS} s, ${SLIDE_CPU_MS} ms of the player's CPU time"
  [ "$SLIDE_CPU_MS" -le $((base_cpu + 3000)) ] ||
    xh_fail "$name: slide 1 came after ${SLIDE_CPU_MS} ms of the player's CPU time, small tunes ${base_cpu} ms"
  if [ "$name" = zeros ]; then
    grep -q 'Music\\tune1.wav: not a sound the player plays' "$XH_LOG" ||
      xh_fail "zeros: the tune that is no sound is not refused with its name"
  fi
done

# A signal at several moments of the start ends the player within
# KAV_LARGE_ENTRY_EXIT_S seconds of its own time (default 4, generous for
# ASan on a busy machine; reading one of the tunes through takes longer).
exit_limit_s=${KAV_LARGE_ENTRY_EXIT_S:-4}
for name in zeros silence; do
  for at in 0.3 0.8 1.5 2.5 4; do
    for sig in TERM INT; do
      XH_RUNS=$((XH_RUNS + 1))
      XH_LOG="$XH_OUT/kavplay-$XH_RUNS.out"
      # SIGINT: a shell leaves it ignored for background jobs; restored here.
      env --default-signal=INT "$XH_PLAYER" "$XH_OUT/$name.kvshow" >"$XH_LOG" 2>&1 &
      XH_PID=$!
      sleep "$at"
      xh_exit_time --own-time "$XH_PID" "$sig" "$exit_limit_s" || {
        kill -KILL "$XH_PID" 2>/dev/null
        wait "$XH_PID" 2>/dev/null
        XH_PID=
        xh_fail "$name: SIG$sig ${at} s after the start did not end the player within $exit_limit_s s of its own time"
      }
      wait "$XH_PID"
      rc=$?
      XH_PID=
      # 0, or the signal's own end when it came before the player set its
      # handlers up (a loaded machine may take that long).
      [ "$rc" -eq 0 ] || [ "$rc" -eq $((128 + $(kill -l "$sig"))) ] ||
        xh_fail "$name: SIG$sig ${at} s after the start: exit $rc"
      echo "$name: SIG$sig ${at} s after the start ended the player in ${XH_EXIT_MS} ms (${XH_EXIT_STARVED_MS} ms waiting for a CPU)"
    done
  done
done
xh_stop_x
xh_pass "entries of 15 GiB hold neither the first slide nor the signals"
