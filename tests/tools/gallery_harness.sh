# Shared by the gallery's X server tests (sourced, inside xvfb-run):
#   gallery_start BIN OUT [ARGS...]   starts kavcontrols in the background,
#                                     its output in $LOG ($OUT/log.txt);
#   wait_for PATTERN [N]              waits up to 60 s for N (1) output
#                                     lines matching PATTERN;
#   fail TEXT                         reports, shows the output, kills, exits 1.
# Windows are found by title through the X harness's xh_wait_title.
source "$(dirname "${BASH_SOURCE[0]}")/../xvfb/xvfb_harness.sh"
gallery_start() {
  local bin=$1
  OUT=$2
  shift 2
  rm -rf "$OUT"
  mkdir -p "$OUT"
  LOG=$OUT/log.txt
  "$bin" "$@" >"$LOG" 2>"$OUT/stderr.txt" &
  PID=$!
}
fail() {
  echo "FAIL: $*"
  echo "--- log"; cat "$LOG"; echo "--- stderr"; tail -20 "$OUT/stderr.txt"
  kill -9 $PID 2>/dev/null
  exit 1
}
wait_for() {
  local want=${2:-1}
  for _ in $(seq 1 600); do
    [ "$(grep -c "$1" "$LOG")" -ge "$want" ] && return 0
    kill -0 $PID 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}
