#!/usr/bin/env bash
# After a clock raise the CPU draws more power: over the next minute its
# temperature climbs on the board and in the monitor panel, whose graph, set to
# the CPU by a click on its row's name, rises (screenshot to $RQ_SCREENSHOT_DIR).
source "$(dirname "$0")/app_common.sh"
out=${RQ_SCREENSHOT_DIR:-$RQ_BIN/../screenshots}
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
# The panel (279 x 400) sits left of the main window; "CPU Temp" is the second row's name.
panel_x=$((RQ_MAIN_X - 279)) panel_y=$RQ_MAIN_Y
rq_click_screen $((panel_x + 50)) $((panel_y + 151))
rq_wait_for 20 grep -q '^GraphSensor=TempSensor2$' "$RQ_WORK/program/torvane.ini" ||
  rq_fail "the click on CPU Temp was not kept: $(rq_setting GraphSensor)"
sleep 1
panel_before=$(rq_panel_cpu_temp) board_before=$(rq_board_cpu_temp)
sleep 60
panel_after=$(rq_panel_cpu_temp) board_after=$(rq_board_cpu_temp)
echo "CPU temperature: panel $panel_before -> $panel_after, board $board_before -> $board_after"
awk -v a="$board_before" -v b="$board_after" 'BEGIN { exit !(b >= a + 1) }' || rq_fail "board CPU did not warm"
awk -v a="$panel_before" -v b="$panel_after" 'BEGIN { exit !(b >= a + 1) }' || rq_fail "panel CPU Temp did not climb"

# The graph's plot (210 x 44 at 50, 56 in the panel): the bright green line's
# height at its oldest and newest column; screen rows grow downwards.
rq_shot "$out/monitor-graph-rising.png" "279x400+$panel_x+$panel_y"
rise=$(convert "$out/monitor-graph-rising.png" -crop 210x44+50+56 +repage -depth 8 txt:- |
  awk -F'[,:() ]+' 'NR > 1 && $4 > 180 && $3 < 150 {
      n[$1]++; sum[$1] += $2; if (first == "" || $1 < first) first = $1; if ($1 > last) last = $1 }
    END { if (first == "") print "none"; else print sum[first] / n[first] - sum[last] / n[last] }')
echo "graph line: $rise pixels higher at its newest column than at its oldest"
awk -v r="$rise" 'BEGIN { exit !(r != "none" && r >= 10) }' || rq_fail "the graph does not rise: $rise"

"$RQ_BIN/rhomboquest-exit"
rq_expect_program_closed "the exit request"
echo "PASS"
