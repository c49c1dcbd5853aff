#!/bin/bash
# The music pauses with the show. A show of five colour slides (5 s each, a
# 2 s dissolve into every slide but the first) plays three tunes in step
# with its slides, one rising tone cut at 9 s and 19 s, through SDL's "disk"
# audio driver into a capture whose pitch tells the show time heard. Space
# pauses it on a still slide, in a transition and just before the join of
# two tunes, for 2 s and for 10 s, and resumes it; the show stops at its
# end. Each pause must fall silent within 50 ms of the time the show stood
# at, each resume must sound from that time within 40 ms and keep its
# course (music_capture.py check). The packed show has all six pauses, the
# project folder the three of 2 s. With DEMO (the demo's folder), its music,
# which runs free of the slides, must fall silent under Space and under its
# help dialog and come back after.
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
xh_start_x 320x200

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


# Plays as `play` does; a stretch of sound just out of its bounds on an
# overloaded machine (a thread of the player held up for tens of ms between
# the show's stop and its music's) is played once more: the music going on
# through a pause is never excused.
slack_ms=250
play_judged() {
  local label=$1 rc
  shift
  play "$label" "$@"
  rc=$?
  if [ "$rc" -eq 1 ] && overloaded; then
    echo "$label: out of bounds on an overloaded machine ($(cut -d' ' -f1-3 /proc/loadavg)): played once more, each bound ${slack_ms} ms wider"
    KAV_MUSIC_SLACK_MS=$slack_ms play "$label-again" "$@"
    rc=$?
  fi
  [ "$rc" -eq 0 ] || xh_fail "$label: the music was not in step with the pauses"
}

play_judged package "$show" still:2500:2 transition:5400:2 join:8900:2 still:12500:10 transition:15400:10 join:18900:10
play_judged folder "${show%.kvshow}.d" still:2500:2 transition:5400:2 join:8900:2
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
xh_pass "the music fell silent at every pause and came back in step, from the package and from the folder${demo:+; the demo music held too}"
