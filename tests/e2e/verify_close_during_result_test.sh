#!/usr/bin/env bash
# Closing while the "Result" message of a verification is open: by the exit event,
# then by SIGTERM (a logout). Each time the program ends within 10 s with code 0,
# leaves the watchdog disarmed and InWatch = 0, and lets go of its single-instance
# lock, so that the next start runs.
source "$(dirname "$0")/app_common.sh"
source "$(dirname "$0")/verify_common.sh"
rq_start_display
rq_start_daemon
printf '[Overclock]\nNoShowOverClkMsg=1\n' >"$RQ_WORK/program/torvane.ini"

# Starts the program, verifies the present clock and waits for its result message.
rq_verify_to_result() {
  rq_start_program
  rq_open_overclock_panel
  rq_start_verification verify
  rq_wait_for 400 rq_window_shown 'Result' || rq_fail "no result message"
  sleep 0.5
}

rq_check_closed_cleanly() {
  rq_wait_for 50 rq_window_gone Result || rq_fail "the result message outlived the program"
  [[ $(rq_setting InWatch) == 0 ]] || rq_fail "InWatch is '$(rq_setting InWatch)' after $1"
  rq_watchdog_armed && rq_fail "watchdog still armed after $1"
  return 0
}

rq_verify_to_result
"$RQ_BIN/rhomboquest-exit" || rq_fail "rhomboquest-exit failed"
rq_expect_program_closed "the exit event during the result message"
rq_check_closed_cleanly "the exit event"

# This start only runs if the first instance let go of the lock.
rq_verify_to_result
kill -TERM "$RQ_GUI"
rq_expect_program_closed "SIGTERM during the result message"
rq_check_closed_cleanly "SIGTERM"

rq_start_program
"$RQ_BIN/rhomboquest-exit" || rq_fail "rhomboquest-exit failed"
rq_expect_program_closed "the exit event"
echo "PASS"
