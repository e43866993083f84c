#!/usr/bin/env bash
# Started from a folder other than its own with no daemon running: without a daemon
# anywhere the program says so in one message and still opens its window; with the
# daemon shipped beside it, it installs and starts that one. rqctl does the same.
source "$(dirname "$0")/app_common.sh"
elsewhere=$RQ_WORK/elsewhere
mkdir -p "$elsewhere"

# Daemons the service starts run detached; ours are those run from our system folder.
service_daemons() {
  local pid
  for pid in $(pgrep -x ZQ_I2cIo); do
    [[ $(readlink "/proc/$pid/exe" 2>/dev/null) == "$RQ_SYSTEM_DIR/"* ]] && echo "$pid"
  done
  return 0
}
stop_service_daemons() {
  local pid
  for pid in $(service_daemons); do kill "$pid" 2>/dev/null || true; done
}
trap 'stop_service_daemons; rq_cleanup' EXIT

start_from_elsewhere() {
  (cd "$elsewhere" && exec "$RQ_WORK/program/rhomboquest" >"$RQ_WORK/gui.log" 2>&1) &
  RQ_GUI=$!
  RQ_PIDS+=("$RQ_GUI")
}

rq_start_display

# No daemon anywhere: one message titled exactly "Error", then the window.
start_from_elsewhere
rq_wait_for 150 rq_window_shown Error || rq_fail "no message about the missing driver"
sleep 0.5
[[ $(rq_windows_titled Error | wc -l) -eq 1 ]] || rq_fail "more than one message"
xdotool windowfocus "$(rq_window Error)" 2>/dev/null || true
sleep 0.3
xdotool key --clearmodifiers Return
rq_wait_for 150 rq_window_shown Rhomboquest || rq_fail "no main window after the message"
rq_window_shown Error && rq_fail "the message came back"
"$RQ_BIN/rhomboquest-exit"
rq_expect_program_closed "rhomboquest-exit without a driver"

# rqctl in the same plight: no daemon (exit 3), and why on standard error.
cp "$RQ_BIN/rqctl" "$RQ_WORK/program/"
code=0
(cd "$elsewhere" && exec "$RQ_WORK/program/rqctl" status >/dev/null 2>"$RQ_WORK/rqctl.err") || code=$?
[[ $code == 3 ]] || rq_fail "rqctl without any daemon exits $code, not 3"
grep -q "ZQ_I2cIo is missing" "$RQ_WORK/rqctl.err" || rq_fail "rqctl did not say what is missing: $(cat "$RQ_WORK/rqctl.err")"

# The daemon beside the program is installed and started; no message.
cp "$RQ_BIN/ZQ_I2cIo" "$RQ_WORK/program/"
start_from_elsewhere
rq_wait_for 150 rq_window_shown Rhomboquest || rq_fail "main window did not appear"
rq_window_shown Error && rq_fail "a driver message although the daemon lies beside the program"
[[ -n $(service_daemons) ]] || rq_fail "the daemon beside the program was not started"
rq_inspect | grep -q '"fsbMhz"' || rq_fail "the started daemon does not answer"
"$RQ_BIN/rhomboquest-exit"
rq_expect_program_closed "rhomboquest-exit"

# With the daemon stopped, rqctl starts it again as the program would.
stop_service_daemons
no_service_daemons() { [[ -z $(service_daemons) ]]; }
rq_wait_for 50 no_service_daemons || rq_fail "the daemon did not stop"
(cd "$elsewhere" && exec "$RQ_WORK/program/rqctl" sensors >/dev/null 2>"$RQ_WORK/rqctl.err") ||
  rq_fail "rqctl did not start the daemon: $(cat "$RQ_WORK/rqctl.err")"
[[ -n $(service_daemons) ]] || rq_fail "rqctl answered without starting the daemon"
echo PASS
