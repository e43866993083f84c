#!/usr/bin/env bash
# One instance only; the exit event from another process closes the program like
# the exit button, and within ten seconds of a clock step that leaves the watchdog
# disarmed and InWatch = 0. With the daemon stopped (SIGSTOP) while the start's clock
# restore is still watched, the close ends within 3 s, says so, and keeps InWatch = 1.
source "$(dirname "$0")/app_common.sh"
rq_start_display
rq_start_daemon
printf '[Overclock]\nNoShowOverClkMsg=1\n' >"$RQ_WORK/program/torvane.ini"
rq_start_program

# A second start leaves at once with code 1 and the first keeps running.
set +e
(cd "$RQ_WORK/program" && timeout 30 ./rhomboquest >/dev/null 2>&1)
second=$?
set -e
[[ $second -eq 1 ]] || rq_fail "second instance exited with $second, expected 1"
kill -0 "$RQ_GUI" || rq_fail "first instance is gone after the second start"

# Overclock panel out, one step up: the watchdog is armed and marked.
rq_click_main 58 359
sleep 1
rq_click_screen $((RQ_MAIN_X - 245 + 150)) $((RQ_MAIN_Y + 25 + 133))
board_at_134() { rq_inspect | grep -q '"fsbMhz": 134'; }
rq_wait_for 30 board_at_134 || rq_fail "clock did not move to 134 MHz: $(rq_inspect | grep -m1 fsbMhz)"
rq_watchdog_armed || rq_fail "watchdog not armed after the step"
[[ $(rq_setting InWatch) == 1 ]] || rq_fail "InWatch is '$(rq_setting InWatch)' after the step"

# Another process signals the exit event, well within ten seconds of the step.
"$RQ_BIN/rhomboquest-exit" || rq_fail "rhomboquest-exit failed"
rq_expect_program_closed "the exit event"
[[ $(rq_setting InWatch) == 0 ]] || rq_fail "InWatch is '$(rq_setting InWatch)' after closing"
rq_watchdog_armed && rq_fail "watchdog still armed after closing"

rq_start_program
rq_watchdog_armed && [[ $(rq_setting InWatch) == 1 ]] || rq_fail "start-up restore not under watch"
kill -STOP "${RQ_PIDS[1]}"  # the daemon
start=$(date +%s%N)
"$RQ_BIN/rhomboquest-exit" || rq_fail "rhomboquest-exit failed"
rq_expect_program_closed "the exit event with the daemon stopped"
elapsed_ms=$((($(date +%s%N) - start) / 1000000))
kill -CONT "${RQ_PIDS[1]}"
((elapsed_ms <= 3000)) || rq_fail "closing took $elapsed_ms ms with the daemon stopped"
grep -q "abandoned" "$RQ_WORK/gui.log" || rq_fail "standard error does not say the daemon was abandoned"
[[ $(rq_setting InWatch) == 1 ]] || rq_fail "InWatch is '$(rq_setting InWatch)' after closing, expected 1"
echo "PASS"
