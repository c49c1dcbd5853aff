#!/bin/bash
# The music pauses with the show. A show of five colour slides (5 s each, a
# 2 s dissolve into every slide but the first) plays three tunes in step
# with its slides, one rising tone cut at 9 s and 19 s, through SDL's "disk"
# audio driver into a capture whose pitch tells the show time heard. Space
# pauses it on a still slide, in a transition and just before the join of
# two tunes, for 2 s and for 10 s, and resumes it; the show stops at its
# end. Each pause must fall silent within 50 ms of the time the show stood
# at, each resume must sound from that time within 40 ms and keep its
# course (music_capture.py check), and every stop must fade along the
# tone's samples. The packed show has all six pauses, the project folder the
# three of 2 s. The same tone as music that runs free of the slides is
# paused ten times for half a second: it must stay within 20 ms of the
# show's time, and its starts may not drift apart by more than 20 ms, on a
# loaded machine too (its second play there widens no bound of these). With DEMO (the demo's folder), its music, which runs free of
# the slides, must fall silent under Space and under its help dialog and
# come back after. KAV_MUSIC_BUSY=1 plays it all beside busy loops
# (KAV_BUSY_PER_CORE per core).
# Usage: kavplay_music_pause.sh KAVPLAY KAVPACK OUTDIR [DEMO]
set -u
source "$(dirname "$0")/xvfb_harness.sh"
xh_init "$3" "$1" "$2"
export SDL_VIDEODRIVER=x11 SDL_AUDIODRIVER=disk
mc() { "$XH_TOOL_PYTHON" "$XH_DIR/music_capture.py" "$@"; }

end_ms=25000
tunes="$XH_OUT/tunes"
mkdir -p "$tunes"
mc tones "$tunes" 9000 19000 26000 || xh_fail "the tones were not made"
show="$XH_OUT/music.kvshow"
xh_make_show "$show" --slides 5 --size 320x200 --slide-ms 5000 --effect-ms 2000 --full 0 --border 0 --repeat stop \
  --syncmode 1 --music "$tunes/tune1.wav" --music "$tunes/tune2.wav" --music "$tunes/tune3.wav"
free_tunes="$XH_OUT/free-tunes"
mkdir -p "$free_tunes"
mc tones "$free_tunes" 26000 || xh_fail "the free-running tone was not made"
free_show="$XH_OUT/free.kvshow"
xh_make_show "$free_show" --slides 5 --size 320x200 --slide-ms 5000 --effect-ms 2000 --full 0 --border 0 \
  --repeat stop --syncmode 0 --music "$free_tunes/tune1.wav"
xh_start_x 320x200
if [ "${KAV_MUSIC_BUSY:-0}" = 1 ]; then
  trap 'xh_stop_busy; xh_stop_x' EXIT
  xh_start_busy
fi

# A machine with more runnable threads than cores by half again.
overloaded() {
  local load
  read -r load _ </proc/loadavg
  awk -v l="$load" -v n="$(nproc)" 'BEGIN { exit !(l > 1.5 * n) }'
}

# play LABEL SHOW KIND:AT_MS:SECONDS...: plays SHOW and pauses it once the
# music heard reaches AT_MS, for SECONDS; KIND (still, transition, join)
# says what the frozen picture must be.
play() {
  local label=$1 source=$2
  shift 2
  local capture="$XH_OUT/$label.raw" point kind at secs seen n=0
  rm -f "$capture"
  SDL_DISKAUDIOFILE=$capture xh_start_player "$source" -log
  xh_wait_window 150 || xh_fail "$label: no window of the player"
  mc wait "$capture" 0 150 || xh_fail "$label: the music never began"
  for point in "$@"; do
    IFS=: read -r kind at secs <<<"$point"
    n=$((n + 1))
    mc wait "$capture" "$at" 60 || xh_fail "$label: the music never reached $at ms"
    xh_key space
    mc wait "$capture" silence 5 || xh_fail "$label: the music played on through the pause at $at ms ($kind)"
    xh_shot "$label-$n"
    seen=$(xh_slide_at "$label-$n" 40 40)
    case $kind in
      still) [[ $seen =~ ^[0-9]+$ ]] || xh_fail "$label: paused at $at ms on $seen, not on a still slide" ;;
      # A mix of two slides' colours (which may come near a colour the show does not use).
      # On an overloaded machine the key may land past the dissolve: the
      # pause is still judged, the picture only said.
      transition)
        if [[ $seen =~ ^[1-5]$ || $seen = hider ]]; then
          overloaded || xh_fail "$label: paused at $at ms on $seen, not in a transition"
          echo "$label: the key came late on an overloaded machine: paused at $at ms on $seen, past the dissolve"
        fi
        ;;
    esac
    # The pause itself: its length is what is tested, not a wait for the player.
    sleep "$secs"
    mc wait "$capture" silence 1 || xh_fail "$label: the music came back during the pause at $at ms"
    xh_key space
    mc wait "$capture" sound 60 || xh_fail "$label: no music after the resume at $at ms"
    echo "$label: paused at $at ms ($kind, picture $seen) for $secs s"
  done
  # The show stops at its end, and its music with it.
  mc wait "$capture" $((end_ms - 1000)) 60 || xh_fail "$label: the music never came near the end"
  mc wait "$capture" silence 30 || xh_fail "$label: the music played on past the end"
  xh_quit_player
  grep -q "ERROR: AddressSanitizer\|runtime error:" "$XH_LOG" && xh_fail "$label: a sanitizer report"
  mc check "$capture" "$XH_LOG" "$end_ms" $#
}

# play_free LABEL SHOW PAUSES: plays SHOW, whose music runs free of its
# slides, and pauses it PAUSES times for half a second each, with about
# 0.6 s of music between; a last pause ends it.
play_free() {
  local label=$1 source=$2 pauses=$3 capture="$XH_OUT/$1.raw" n
  rm -f "$capture"
  SDL_DISKAUDIOFILE=$capture xh_start_player "$source" -log
  xh_wait_window 150 || xh_fail "$label: no window of the player"
  mc wait "$capture" 1000 150 || xh_fail "$label: the music never began"
  for n in $(seq "$pauses") last; do
    sleep 0.6
    xh_key space
    mc wait "$capture" silence 5 || xh_fail "$label: the music played on through pause $n"
    [ "$n" = last ] && break
    sleep 0.5
    xh_key space
    mc wait "$capture" sound 60 || xh_fail "$label: no music after pause $n"
  done
  xh_quit_player
  grep -q "ERROR: AddressSanitizer\|runtime error:" "$XH_LOG" && xh_fail "$label: a sanitizer report"
  mc check "$capture" "$XH_LOG" "$end_ms" "$pauses" free
}

# Plays with PLAY (play or play_free); a stretch of sound just out of its
# bounds on an overloaded machine (a thread of the player held up for tens
# of ms between the show's stop and its music's) is played once more: the
# music going on through a pause is never excused, nor is free-running
# music that drifts off the show's time (music_capture.py).
slack_ms=250
play_judged() {
  local how=$1 label=$2 rc
  shift 2
  "$how" "$label" "$@"
  rc=$?
  if [ "$rc" -eq 1 ] && overloaded; then
    echo "$label: out of bounds on an overloaded machine ($(cut -d' ' -f1-3 /proc/loadavg)): played once more, each bound ${slack_ms} ms wider"
    KAV_MUSIC_SLACK_MS=$slack_ms "$how" "$label-again" "$@"
    rc=$?
  fi
  [ "$rc" -eq 0 ] || xh_fail "$label: the music was not in step with the pauses"
}

play_judged play package "$show" still:2500:2 transition:5400:2 join:8900:2 still:12500:10 transition:15400:10 join:18900:10
play_judged play folder "${show%.kvshow}.d" still:2500:2 transition:5400:2 join:8900:2
play_judged play_free free "$free_show" 10
# The demo's music runs free of its slides: Space holds it too, and so does
# its help dialog (F1, closed by Esc).
demo=${4:-}
if [ -n "$demo" ] && [ ! -f "$demo/Music/tune.mp3" ]; then
  echo "demo: its media were not made (see demo/kav.cmake): not played"
  demo=
elif [ -n "$demo" ]; then
  capture="$XH_OUT/demo.raw"
  rm -f "$capture"
  SDL_DISKAUDIOFILE=$capture xh_start_player "$demo" -log
  xh_wait_window 150 || xh_fail "demo: no window of the player"
  mc wait "$capture" sound 150 || xh_fail "demo: no music"
  for keys in "space space" "F1 Escape"; do
    set -- $keys
    xh_key "$1"
    mc wait "$capture" silence 5 || xh_fail "demo: the music played on after $1"
    sleep 2
    mc wait "$capture" silence 1 || xh_fail "demo: the music came back while held by $1"
    xh_key "$2"
    mc wait "$capture" sound 30 || xh_fail "demo: no music after $2"
    echo "demo: $1 held the music, $2 let it go on"
  done
  xh_quit_player
fi
xh_pass "the music faded at every pause and came back in step, from the package and from the folder, and free-running music kept to the slides through ten pauses${demo:+; the demo music held too}"
