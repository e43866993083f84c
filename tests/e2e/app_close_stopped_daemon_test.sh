#!/usr/bin/env bash
# Closing with the daemon stopped (SIGSTOP) right after a clock step: the program
# ends within 3 s instead of waiting out the 60 s reply bound, says on standard
# error that it abandoned the daemon, and leaves InWatch = 1, since the disarm
# never reached the chip.
source "$(dirname "$0")/app_common.sh"
rq_start_display
rq_start_daemon
daemon=${RQ_PIDS[-1]}
printf '[Overclock]\nNoShowOverClkMsg=1\n' >"$RQ_WORK/program/torvane.ini"
rq_start_program

rq_click_main 58 359  # overclock panel out, one step up
sleep 1
rq_click_screen $((RQ_MAIN_X - 245 + 150)) $((RQ_MAIN_Y + 25 + 133))
board_at_134() { rq_inspect | grep -q '"fsbMhz": 134'; }
rq_wait_for 30 board_at_134 || rq_fail "clock did not move to 134 MHz"
[[ $(rq_setting InWatch) == 1 ]] || rq_fail "InWatch is '$(rq_setting InWatch)' after the step"

kill -STOP "$daemon"
start=$(date +%s%N)
"$RQ_BIN/rhomboquest-exit" || rq_fail "rhomboquest-exit failed"
rq_expect_program_closed "the exit event with the daemon stopped"
elapsed_ms=$((($(date +%s%N) - start) / 1000000))
echo "closed in $elapsed_ms ms"
((elapsed_ms <= 3000)) || rq_fail "closing took $elapsed_ms ms with the daemon stopped"
grep -q "abandoned" "$RQ_WORK/gui.log" || rq_fail "standard error does not say the daemon was abandoned"
[[ $(rq_setting InWatch) == 1 ]] || rq_fail "InWatch is '$(rq_setting InWatch)' after closing, expected 1"
kill -CONT "$daemon"
echo "PASS"
