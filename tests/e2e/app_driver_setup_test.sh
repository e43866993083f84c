#!/usr/bin/env bash
# Started from a folder other than its own with no daemon running: without a daemon
# anywhere the program says so in one message and still opens its window; with the
# daemon shipped beside it, it installs and starts that one.
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

# The daemon beside the program is installed and started; no message.
cp "$RQ_BIN/ZQ_I2cIo" "$RQ_WORK/program/"
start_from_elsewhere
rq_wait_for 150 rq_window_shown Rhomboquest || rq_fail "main window did not appear"
rq_window_shown Error && rq_fail "a driver message although the daemon lies beside the program"
[[ -n $(service_daemons) ]] || rq_fail "the daemon beside the program was not started"
rq_inspect | grep -q '"fsbMhz"' || rq_fail "the started daemon does not answer"
"$RQ_BIN/rhomboquest-exit"
rq_expect_program_closed "rhomboquest-exit"
echo PASS
