#!/usr/bin/env bash
# A start-up recovery whose clock hangs the board too: the default board survives
# up to 148 MHz, the settings say the last run hung with SafeFreq=152. The first
# start tries 149 MHz, records it before the chip sees it, and hangs; the watchdog
# resets the board and ends the program. The next start must step further down,
# to 146 MHz, and the board must survive its watch there: one reset, no loop.
source "$(dirname "$0")/app_common.sh"
source "$(dirname "$0")/verify_common.sh"
rq_start_display
rq_start_daemon

printf '[Overclock]\nNoShowOverClkMsg=1\nRecoverToDef=0\nHWDefCPUClk=133.3\nSafeFreq=152\nInWatch=1\n' \
  >"$RQ_WORK/program/torvane.ini"

# The program hangs with the board before its window appears.
(cd "$RQ_WORK/program" && exec ./rhomboquest >"$RQ_WORK/gui.log" 2>&1) &
RQ_GUI=$!
RQ_PIDS+=("$RQ_GUI")
hung() { rq_inspect | grep -q '"hung": true'; }
rq_wait_for 300 hung || rq_fail "the recovery clock did not hang the board (at $(rq_board_fsb) MHz)"
[[ $(rq_setting SafeFreq) == 149 ]] || rq_fail "the attempt was not recorded before it was made"
[[ $(rq_setting InWatch) == 1 ]] || rq_fail "InWatch is not set while the board hangs"

resets() { rq_inspect | grep -oE '"resetCount": [0-9]+' | grep -oE '[0-9]+$'; }
reset_once() { [[ $(resets) == 1 ]]; }
rq_wait_for 600 reset_once || rq_fail "the watchdog did not reset the board"
rq_wait_for 100 bash -c "! kill -0 $RQ_GUI" || rq_fail "the program survived the reset"

# Started again: below the clock that failed, and the board lives through the watch.
rq_start_program
rq_wait_for 100 rq_board_near 146 || rq_fail "board at $(rq_board_fsb) MHz, expected 146"
disarmed() { [[ $(rq_setting InWatch) == 0 ]]; }
rq_wait_for 200 disarmed || rq_fail "the watch at the recovered clock did not end"
hung && rq_fail "the board hangs at $(rq_board_fsb) MHz"
[[ $(resets) == 1 ]] || rq_fail "$(resets) watchdog resets, expected 1"
rq_board_near 146 || rq_fail "board at $(rq_board_fsb) MHz after the watch, expected 146"
echo "PASS"
