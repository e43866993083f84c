#!/usr/bin/env bash
# The automatic search cancelled in its third pass returns the board to the last
# good clock and keeps the clocks stored before; closing the program during a
# search ends it, disarms the watchdog and does not deadlock.
source "$(dirname "$0")/app_common.sh"
source "$(dirname "$0")/verify_common.sh"
rq_start_display
rq_start_daemon
printf '[Overclock]\nNoShowOverClkMsg=1\n' >"$RQ_WORK/program/torvane.ini"
rq_start_program
rq_open_overclock_panel
rq_start_verification auto

status_shown() { rq_window_shown 'Testing...'; }
# Passes are counted by their windows closing: one close missed or seen twice would
# read the clock stored by the wrong pass.
status_gone() { rq_window_closed 'Testing...'; }
for pass in 1 2; do
  rq_wait_for 300 status_shown || rq_fail "pass $pass: no status window"
  rq_wait_for 300 status_gone || rq_fail "pass $pass: the status window stayed"
done
rq_wait_for 300 status_shown || rq_fail "pass 3: no status window"
# Pass 2 stores its clock after its status window has gone; by the time pass 3
# shows its own, the store is on disk.
stored=$(rq_setting SafeFreq)
[[ -n $stored ]] || rq_fail "nothing stored after two passes"
rq_cancel_test
rq_wait_for 100 status_gone || rq_fail "the status window stayed after Cancel"
rq_wait_for 100 rq_stress_windows_gone || rq_fail "the stress windows stayed after Cancel"
[[ $(rq_setting SafeFreq) == "$stored" ]] || rq_fail "SafeFreq changed from $stored to $(rq_setting SafeFreq)"
rq_wait_for 50 rq_board_near "$stored" || rq_fail "board at $(rq_board_fsb) MHz, not back at $stored"

# A new search, and the program closed while its first pass runs.
rq_start_verification auto
rq_wait_for 300 status_shown || rq_fail "second search: no status window"
"$RQ_BIN/rhomboquest-exit" || rq_fail "rhomboquest-exit failed"
for _ in $(seq 1 300); do kill -0 "$RQ_GUI" 2>/dev/null || break; sleep 0.1; done
kill -0 "$RQ_GUI" 2>/dev/null && rq_fail "program still running 30 s after the exit event (deadlock?)"
rq_wait_for 100 rq_no_stress_processes ||
  rq_fail "stress programs survived the program"
[[ $(rq_setting InWatch) == 0 ]] || rq_fail "InWatch is '$(rq_setting InWatch)' after closing"
rq_watchdog_armed && rq_fail "watchdog still armed after closing"
echo "PASS"
