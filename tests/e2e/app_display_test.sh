#!/usr/bin/env bash
# Without a usable X display the program ends with exit code 2 and one line on
# standard error (no Qt abort); on a Wayland session with QT_QPA_PLATFORM unset it
# starts through XWayland (here: the virtual X display stands in for XWayland).
source "$(dirname "$0")/app_common.sh"

expect_no_display() { # what, then the environment changes
  local what=$1 code
  shift
  set +e
  (cd "$RQ_WORK/program" && exec env -u QT_QPA_PLATFORM "$@" ./rhomboquest >"$RQ_WORK/out.log" 2>"$RQ_WORK/err.log")
  code=$?
  set -e
  [[ $code -eq 2 ]] || rq_fail "$what: exit code $code, expected 2: $(cat "$RQ_WORK/err.log")"
  [[ $(wc -l <"$RQ_WORK/err.log") -eq 1 ]] || rq_fail "$what: not one line: $(cat "$RQ_WORK/err.log")"
  grep -q '^rhomboquest: ' "$RQ_WORK/err.log" || rq_fail "$what: $(cat "$RQ_WORK/err.log")"
}
expect_no_display "no DISPLAY" -u DISPLAY -u WAYLAND_DISPLAY
expect_no_display "Wayland without XWayland" -u DISPLAY WAYLAND_DISPLAY=wayland-0 XDG_SESSION_TYPE=wayland
grep -q XWayland "$RQ_WORK/err.log" || rq_fail "the Wayland case does not name XWayland"
expect_no_display "a display nobody serves" DISPLAY=:"$((RANDOM % 1000 + 5000))"
expect_no_display "a malformed display name" DISPLAY=not:a:display

rq_start_display
rq_start_daemon
export WAYLAND_DISPLAY=wayland-rq-absent XDG_SESSION_TYPE=wayland
unset QT_QPA_PLATFORM
rq_start_program
"$RQ_BIN/rhomboquest-exit"
rq_expect_program_closed "rhomboquest-exit on a Wayland session"
echo PASS
