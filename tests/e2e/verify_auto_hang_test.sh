#!/usr/bin/env bash
# The automatic search on a board whose limit lies a few MHz above its default: it
# climbs in 2 MHz steps, stores each surviving clock and hangs the board at the
# first clock beyond the limit; the watchdog resets the board and ends the program
# and the stress programs. Started again, the program comes up at the last stored
# clock - 3 and the board really runs there.
source "$(dirname "$0")/app_common.sh"
source "$(dirname "$0")/verify_common.sh"
rq_start_display

# The default board with a CPU that gives up just above 138 MHz.
board=$RQ_WORK/edge.toml
cp "$RQ_SOURCE_DIR/sim/profiles/default.toml" "$board" || rq_fail "no default profile in $RQ_SOURCE_DIR"
sed -i -e 's/^name = .*/name = "edge"/' -e 's/^max_stable_fsb = .*/max_stable_fsb = 138.5/' "$board"
RQ_DAEMON_BOARD=$board rq_start_daemon

printf '[Overclock]\nNoShowOverClkMsg=1\nRecoverToDef=0\n' >"$RQ_WORK/program/torvane.ini"
rq_start_program
rq_open_overclock_panel
rq_start_verification auto

# Two passes survive (about 135 and 137 MHz); the step to about 139 hangs the board.
hung() { rq_inspect | grep -q '"hung": true'; }
rq_wait_for 900 hung || rq_fail "the board never hung (at $(rq_board_fsb) MHz)"
safe=$(rq_setting SafeFreq)
[[ -n $safe ]] || rq_fail "no clock was stored before the hang"
awk -v s="$safe" 'BEGIN { exit !(s > 136 && s < 138.5) }' || rq_fail "SafeFreq $safe is not the second step"
[[ $(rq_setting InWatch) == 1 ]] || rq_fail "InWatch is not set while the board hangs"

# The watchdog (40 s) resets the board and ends every program of the machine.
reset() { rq_inspect | grep -q '"resetCount": [1-9]'; }
rq_wait_for 700 reset || rq_fail "the watchdog did not reset the board"
rq_wait_for 100 bash -c "! kill -0 $RQ_GUI" || rq_fail "the program survived the reset"
rq_wait_for 100 rq_no_stress_processes ||
  rq_fail "stress programs survived the reset"

# Started again: back at the stored clock - 3, for real.
rq_start_program
expected=$(awk -v s="$safe" 'BEGIN { print s - 3 }')
rq_wait_for 100 rq_board_near "$expected" || rq_fail "board at $(rq_board_fsb) MHz, expected $expected"
echo "PASS"
