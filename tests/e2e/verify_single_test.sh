#!/usr/bin/env bash
# Verify at an overclocked, stable clock: the three stress windows open and close
# after about 14 s, SafeFreq holds the clock and the success message appears. With a
# CPU temperature limit below the CPU's temperature, Verify (3 MHz higher) and Auto
# end as failed passes: the reason logged and shown, the clock back, SafeFreq as it
# was. Below the default the message appears too, but SafeFreq stays as it was.
source "$(dirname "$0")/app_common.sh"
source "$(dirname "$0")/verify_common.sh"
rq_start_display
rq_start_daemon
printf '[Overclock]\nNoShowOverClkMsg=1\n' >"$RQ_WORK/program/torvane.ini"
rq_start_program
rq_open_overclock_panel

# Two steps of +3 MHz from the default 133.3: 139.3 MHz, well below the board's limit.
rq_press_incr_more
sleep 1
rq_press_incr_more
rq_wait_for 50 rq_board_near 139.3 || rq_fail "board at $(rq_board_fsb) MHz, expected 139.3"
sleep 1
clock=$(rq_board_clock_text)

rq_start_verification verify
started=$(date +%s)
rq_wait_for 150 rq_stress_windows_open || rq_fail "the three stress windows did not open"
rq_wait_for 100 rq_window_shown 'Testing...' || rq_fail "the status window did not appear"
rq_wait_for 300 rq_stress_windows_gone || rq_fail "the stress windows did not close"
elapsed=$(($(date +%s) - started))
((elapsed >= 12 && elapsed <= 25)) || rq_fail "the test pass took $elapsed s, expected about 14"
rq_wait_for 100 rq_window_shown 'Result' || rq_fail "no result message"
[[ $(rq_setting SafeFreq) == "$clock" ]] || rq_fail "SafeFreq is '$(rq_setting SafeFreq)', expected $clock"
rq_no_stress_processes || rq_fail "stress programs still running"
rq_focus_and_key Result Return
rq_wait_for 50 rq_window_gone Result || rq_fail "result message did not close"

rq_press_incr_more
rq_wait_for 50 rq_board_near 142.3 || rq_fail "board at $(rq_board_fsb) MHz, expected 142.3"
sed -i '/^TempSensor2Label=/a TempSensor2High=1' "$RQ_WORK/program/torvane.ini"
for button in verify auto; do
  stops=$((${stops:-0} + 1))
  rq_start_verification $button
  rq_wait_for 100 rq_window_shown 'Result' || rq_fail "no result message after the alarm ($button)"
  [[ $(grep -c 'alarm: verification stopped: CPU Temp .* above its limit of 1 C' "$RQ_WORK/gui.log") -eq $stops &&
    $(rq_setting SafeFreq) == "$clock" ]] && rq_board_near 139.3 && rq_no_stress_processes ||
    rq_fail "after the alarm ($button): SafeFreq $(rq_setting SafeFreq), board at $(rq_board_fsb) MHz"
  rq_focus_and_key Result Return
  rq_wait_for 50 rq_window_gone Result || rq_fail "result message did not close"
done
sed -i '/^TempSensor2High=/d' "$RQ_WORK/program/torvane.ini"

# Three steps of -3 MHz: 130.3, below the default.
for _ in 1 2 3; do
  rq_press_decr_more
  sleep 1
done
rq_wait_for 50 rq_board_near 130.3 || rq_fail "board at $(rq_board_fsb) MHz, expected 130.3"
rq_start_verification verify
rq_wait_for 400 rq_window_shown 'Result' || rq_fail "no result message below the default"
[[ $(rq_setting SafeFreq) == "$clock" ]] || rq_fail "SafeFreq changed to '$(rq_setting SafeFreq)' below the default"
echo "PASS"
