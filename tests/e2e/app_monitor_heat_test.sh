#!/usr/bin/env bash
# After a clock raise the CPU draws more power: over the next minute its
# temperature climbs on the board and in the monitor panel.
source "$(dirname "$0")/app_common.sh"
rq_start_display
rq_start_daemon
printf '[Overclock]\nNoShowOverClkMsg=1\n' >"$RQ_WORK/program/torvane.ini"
export RQ_MONITOR_TRACE=1
rq_start_program

rq_panel_cpu_temp() { grep '^monitor:' "$RQ_WORK/gui.log" | tail -1 | grep -oE 'CPU Temp=-?[0-9.]+' | cut -d= -f2; }
rq_board_cpu_temp() { rq_inspect | grep -m1 '"cpuTempC"' | grep -oE -- '-?[0-9]+(\.[0-9]+)?'; }
rq_board_fsb() { rq_inspect | grep -m1 '"fsbMhz"' | grep -oE '[0-9]+(\.[0-9]+)?'; }

# Overclock panel (245 x 350, centred beside the main window): "+3 MHz" four times,
# 133.3 to about 145, below the CPU's limit of 148.
rq_click_main 58 359
sleep 1
for _ in 1 2 3 4; do
  rq_click_screen $((RQ_MAIN_X - 245 + 204)) $((RQ_MAIN_Y + 25 + 133))
  sleep 1.5
done
rq_wait_for 100 awk -v f="$(rq_board_fsb)" 'BEGIN { exit !(f > 143) }' || rq_fail "FSB $(rq_board_fsb) after four raises"

# The monitor panel replaces the overclock panel.
rq_click_main 186 359
rq_wait_for 50 grep -q '^monitor:' "$RQ_WORK/gui.log" || rq_fail "monitor panel did not refresh"
sleep 1
panel_before=$(rq_panel_cpu_temp) board_before=$(rq_board_cpu_temp)
sleep 60
panel_after=$(rq_panel_cpu_temp) board_after=$(rq_board_cpu_temp)
echo "CPU temperature: panel $panel_before -> $panel_after, board $board_before -> $board_after"
awk -v a="$board_before" -v b="$board_after" 'BEGIN { exit !(b >= a + 1) }' || rq_fail "board CPU did not warm"
awk -v a="$panel_before" -v b="$panel_after" 'BEGIN { exit !(b >= a + 1) }' || rq_fail "panel CPU Temp did not climb"

"$RQ_BIN/rhomboquest-exit"
rq_expect_program_closed "the exit request"
echo "PASS"
