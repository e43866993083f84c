#!/usr/bin/env bash
# The window steps the clock (IncrMore, +3 MHz) while `rqctl sensors --watch` reads the
# monitor in a terminal and the window's own monitor thread reads too. Each step leaves
# the clock generator's registers as a quiet step does (bytes from a quiet run; 64 in
# register 10 is the armed watchdog); neither process traces a host error.
source "$(dirname "$0")/app_common.sh"
source "$(dirname "$0")/verify_common.sh"
rq_start_display
rq_start_daemon
export RQ_TRACE=1
printf '[Overclock]\nNoShowOverClkMsg=1\n' >"$RQ_WORK/program/torvane.ini"
mkdir "$RQ_WORK/terminal" && cp "$RQ_BIN/rqctl" "$RQ_WORK/terminal/"
rq_start_program
(cd "$RQ_WORK/terminal" && exec ./rqctl sensors --watch 0.05 >"$RQ_WORK/sensors.out" 2>"$RQ_WORK/sensors.log") &
RQ_PIDS+=($!)
rq_open_overclock_panel
for step in 136.3:240 139.3:245 142.3:250; do # clock: register 12, all else fixed
  rq_press_incr_more
  rq_wait_for 50 rq_board_near "${step%:*}" || rq_fail "board at $(rq_board_fsb) MHz, expected ${step%:*}"
  sleep 1
  expected="0 31 0 0 0 0 0 40 23 137 64 11 ${step#*:} 0 0 0 68 4 0 0 0 0 0 0 0 0 0 0 0 0 0 0"
  [[ $(rq_clockgen_registers) == "$expected" ]] || rq_fail "after the step to ${step%:*}: $(rq_clockgen_registers)"
done
(($(grep -c '^Adapter' "$RQ_WORK/sensors.out") >= 20)) || rq_fail "rqctl sensors --watch hardly ran"
rq_expect_no_bus_faults "$RQ_WORK/gui.log" "$RQ_WORK/sensors.log"
echo "PASS"
