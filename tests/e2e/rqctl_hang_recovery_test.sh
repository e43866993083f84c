#!/usr/bin/env bash
# rqctl's clock change under the watchdog: `rqctl fsb set` above the default board's
# stable limit (148 MHz) hangs it; the clock generator's watchdog resets the board
# and the daemon ends the rqctl that was waiting on it. The next `rqctl status`
# finds InWatch set, restores 3 MHz below the recorded safe clock as the program
# does at start, waits out that watch and reports the restored clock.
source "$(dirname "$0")/app_common.sh"
source "$(dirname "$0")/verify_common.sh"
rq_start_daemon
cp "$RQ_BIN/rqctl" "$RQ_WORK/program/"
printf '[Overclock]\nHWDefCPUClk=133.3\nSafeFreq=146\n' >"$RQ_WORK/program/torvane.ini"

(cd "$RQ_WORK/program" && exec ./rqctl fsb set 155 >"$RQ_WORK/rqctl-set.log" 2>&1) &
RQ_SET=$!
RQ_PIDS+=("$RQ_SET")
hung() { rq_inspect | grep -q '"hung": true'; }
rq_wait_for 100 hung || rq_fail "155 MHz did not hang the board (at $(rq_board_fsb) MHz): $(cat "$RQ_WORK/rqctl-set.log")"
[[ $(rq_setting InWatch) == 1 ]] || rq_fail "InWatch is not set while the board hangs"

resets() { rq_inspect | grep -oE '"resetCount": [0-9]+' | grep -oE '[0-9]+$'; }
reset_once() { [[ $(resets) == 1 ]]; }
rq_wait_for 600 reset_once || rq_fail "the watchdog did not reset the board"
rq_wait_for 100 bash -c "! kill -0 $RQ_SET" || rq_fail "rqctl survived the reset"
rq_board_near 133 || rq_fail "board at $(rq_board_fsb) MHz after the reset, expected its power-on 133"

status=$(cd "$RQ_WORK/program" && ./rqctl status --json 2>"$RQ_WORK/rqctl-status.log") ||
  rq_fail "status failed: $(cat "$RQ_WORK/rqctl-status.log")"
grep -q "restoring a safe clock" "$RQ_WORK/rqctl-status.log" || rq_fail "status did not say it recovers"
fsb=$(printf '%s\n' "$status" | grep -oE '"fsbMhz": [0-9.]+' | grep -oE '[0-9.]+$')
awk -v f="$fsb" 'BEGIN { exit !(f > 142.5 && f < 143.5) }' || rq_fail "status reports $fsb MHz, expected 143"
rq_board_near 143 || rq_fail "board at $(rq_board_fsb) MHz, expected 143"
[[ $(rq_setting InWatch) == 0 ]] || rq_fail "InWatch still set after the watch of the restored clock"
hung && rq_fail "the board hangs at the restored clock"
[[ $(resets) == 1 ]] || rq_fail "$(resets) watchdog resets, expected 1"
echo "PASS"
