#!/usr/bin/env bash
# Cancel three seconds after the status window appears ends the waiting at once:
# the stress programs close, nothing is stored and no message appears.
source "$(dirname "$0")/app_common.sh"
source "$(dirname "$0")/verify_common.sh"
rq_start_display
rq_start_daemon
printf '[Overclock]\nNoShowOverClkMsg=1\n' >"$RQ_WORK/program/torvane.ini"
rq_start_program
rq_open_overclock_panel
rq_press_incr_more
rq_wait_for 50 rq_board_near 136.3 || rq_fail "board at $(rq_board_fsb) MHz, expected 136.3"

rq_start_verification verify
rq_wait_for 150 rq_window_shown 'Testing...' || rq_fail "the status window did not appear"
sleep 3
# The status window during a pass, for docs/screenshots/.
if [[ -n ${RQ_SCREENSHOT_DIR:-} ]]; then
  mkdir -p "$RQ_SCREENSHOT_DIR"
  xdotool windowraise "$(rq_window 'Testing...')" 2>/dev/null || true
  sleep 0.3
  import -window root "$RQ_SCREENSHOT_DIR/status-during-verification.png"
fi
rq_cancel_test
cancelled=$(date +%s)
rq_wait_for 100 rq_stress_windows_gone || rq_fail "the stress windows stayed after Cancel"
rq_wait_for 50 rq_window_gone 'Testing...' || rq_fail "status window stayed"
elapsed=$(($(date +%s) - cancelled))
((elapsed <= 6)) || rq_fail "the pass ended $elapsed s after Cancel"
sleep 2
rq_window_shown 'Result' && rq_fail "a result message appeared after Cancel"
[[ -z $(rq_setting SafeFreq) ]] || rq_fail "SafeFreq was stored after Cancel: $(rq_setting SafeFreq)"
rq_no_stress_processes || rq_fail "stress programs still running"
echo "PASS"
