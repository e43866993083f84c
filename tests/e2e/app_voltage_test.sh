#!/usr/bin/env bash
# The voltage panel against the daemon's boards. Default board (ATXP3, CPU VID
# 1.525 V): Yes overrides the core to 1.65 V, which the daemon and the monitor panel
# see, and stores VoltShift = 1; No asks first: Cancel (Escape) changes nothing, OK
# takes the clock back to 133.3 MHz and the voltages to normal, VoltShift = 0; a
# start with VoltShift = 1 raises at once. Each GPIO board: Yes moves the pins and
# the measured core voltage to one of the steps its board section lists.
source "$(dirname "$0")/app_common.sh"
rq_start_display
export RQ_VOLTAGE_TRACE=1 RQ_MONITOR_TRACE=1

# The panel sits above the main window; Yes and No in its lower right.
rq_click_yes() { rq_click_main 186 -46; }
rq_click_no() { rq_click_main 242 -46; }
# "raised core=1.65 memory=2.7" as the panel last showed it.
rq_panel() { grep '^voltage:' "$RQ_WORK/gui.log" | tail -1 | sed 's/^voltage: //'; }
rq_panel_core() { rq_panel | grep -oE 'core=[0-9.]+' | cut -d= -f2; }
rq_panel_shows() { [[ $(rq_panel) == "$1"* ]]; }
rq_monitor_vcore() { grep '^monitor:' "$RQ_WORK/gui.log" | tail -1 | grep -oE '[;:] VCore=[^ ]+ ' | sed -E 's/.*=//; s/ $//'; }
rq_json_number() { rq_inspect | grep -m1 "\"$1\"" | grep -oE -- '-?[0-9]+(\.[0-9]+)?|null' | tail -1; }
rq_fsb_at_least() { (($(rq_json_number fsbMhz | cut -d. -f1) >= $1)); }
rq_stop_program() {
  "$RQ_BIN/rhomboquest-exit"
  rq_expect_program_closed "the exit request"
}

echo "== default"
rq_start_daemon
daemon=${RQ_PIDS[-1]}
rq_start_program
rq_panel_shows normal || rq_fail "panel does not start normal: $(rq_panel)"
rq_core_normal() { [[ $(rq_json_number coreOverrideVolts) == @(null|1.525) ]]; }
rq_core_normal || rq_fail "core at $(rq_json_number coreOverrideVolts) before Yes"
rq_click_main 122 359 # Voltage
sleep 1
rq_click_yes
rq_wait_for 50 rq_panel_shows raised || rq_fail "Yes did not raise: $(rq_panel)"
[[ $(rq_setting VoltShift) == 1 ]] || rq_fail "VoltShift after Yes: $(rq_setting VoltShift)"
[[ $(rq_json_number coreOverrideVolts) == 1.65 ]] || rq_fail "ATXP3 override $(rq_json_number coreOverrideVolts), not 1.65"
[[ $(rq_json_number memoryVolts) == 2.7 ]] || rq_fail "memory pins give $(rq_json_number memoryVolts), not 2.7"
rq_within "$(rq_supply vcore)" 1.65 1 || rq_fail "board core supply $(rq_supply vcore) after Yes"
rq_within "$(rq_panel_core)" 1.65 0.1 || rq_fail "panel shows core $(rq_panel_core)"
rq_click_main 186 359 # the monitor panel, beside the voltage panel
sleep 2.5
rq_within "$(rq_monitor_vcore)" 1.65 2 || rq_fail "monitor reads VCore $(rq_monitor_vcore) with 1.65 V applied"
rq_click_main 186 359
sleep 0.5

# A clock step first, so that OK has a clock to take back.
rq_click_main 58 359 # Over Clock (its note once)
rq_wait_for 50 rq_window_shown 'NOTE for Manually Modifying Freq. Setting' && xdotool key Return
sleep 0.7
rq_click_main -41 158 # +3 MHz (IncrMore at 189,118 of the overclock panel)
rq_wait_for 50 rq_fsb_at_least 135 || rq_fail "the +3 MHz step did not reach the board"
rq_click_main 58 359
sleep 0.7

rq_click_no
rq_wait_for 50 rq_window_shown 'Warning!' || rq_fail "No did not ask"
xdotool key Escape
rq_wait_for 30 rq_window_gone 'Warning!' || rq_fail "Escape did not close the warning"
sleep 0.5
[[ $(rq_setting VoltShift) == 1 ]] || rq_fail "Cancel changed VoltShift"
[[ $(rq_json_number coreOverrideVolts) == 1.65 ]] || rq_fail "Cancel changed the core voltage"
rq_fsb_at_least 135 || rq_fail "Cancel changed the clock: $(rq_json_number fsbMhz)"

rq_click_no
rq_wait_for 50 rq_window_shown 'Warning!' || rq_fail "No did not ask the second time"
xdotool windowfocus "$(rq_window 'Warning!')" >/dev/null 2>&1 || true
xdotool key Return
rq_wait_for 100 rq_panel_shows normal || rq_fail "OK did not restore: $(rq_panel)"
[[ $(rq_setting VoltShift) == 0 ]] || rq_fail "VoltShift after OK: $(rq_setting VoltShift)"
rq_core_normal || rq_fail "core at $(rq_json_number coreOverrideVolts) after OK"
rq_within "$(rq_supply vcore)" 1.525 1 || rq_fail "board core supply $(rq_supply vcore) after OK"
rq_within "$(rq_json_number fsbMhz)" 133.3 0.3 || rq_fail "clock $(rq_json_number fsbMhz) after OK, not the default"
[[ $(rq_setting SafeFreq) == 133.3* ]] || rq_fail "SafeFreq after OK: $(rq_setting SafeFreq)"
rq_stop_program

# The stored choice is applied at start-up.
sed -i 's/^VoltShift=0/VoltShift=1/' "$RQ_WORK/program/torvane.ini"
rq_start_program
[[ $(rq_json_number coreOverrideVolts) == 1.65 ]] || rq_fail "start with VoltShift=1 did not raise the core"
rq_panel_shows 'raised core=1.65' || rq_fail "panel after a raised start: $(rq_panel)"
rq_stop_program
kill "$daemon"
wait "$daemon" 2>/dev/null || true

# GPIO boards. After Yes the pins select the board section's step for the raised
# target: the measured default core voltage raised by the controllers' table
# (1.45-1.55 to 1.65, ICH5 1.5, SiS from 1.4; 1.55-1.65 to 1.675; 1.65-1.7 to 1.7;
# 1.7-1.8 to 1.85; else unchanged), then the first listed step not above that many
# percent, with the ICH5 (1 -> 2) and SiS (0 -> 1) corrections. Level and percent
# here are worked out by hand from each board's GPIOOverVcoreList; the level is
# the one the regulator sees (the VIA boards invert their core lines).
check_gpio_board() { # board vid level(pattern) percent
  local board=$1 vid=$2 level=$3 percent=$4 before after
  echo "== $board"
  RQ_DAEMON_BOARD=$board rq_start_daemon
  daemon=${RQ_PIDS[-1]}
  sed -i 's/^VoltShift=1/VoltShift=0/' "$RQ_WORK/program/torvane.ini" # the last board's Yes
  rq_start_program
  before=$(rq_supply vcore)
  rq_click_main 122 359
  sleep 1
  rq_click_yes
  rq_wait_for 100 rq_panel_shows raised || rq_fail "$board: Yes did not raise: $(rq_panel)"
  [[ $(rq_setting VoltShift) == 1 ]] || rq_fail "$board: VoltShift after Yes"
  [[ $(rq_json_number coreLevel) == $level ]] || rq_fail "$board: core pins at level $(rq_json_number coreLevel), not $level"
  after=$(rq_supply vcore)
  rq_within "$after" "$(awk -v v="$vid" -v p="$percent" 'BEGIN { print v * (1 + p / 100) }')" 0.5 ||
    rq_fail "$board: core $after V, not $vid V + $percent %"
  rq_within "$(rq_panel_core)" "$after" 2.5 || rq_fail "$board: panel shows $(rq_panel_core), board has $after"
  echo "$board: $before -> $after V ($(rq_panel))"
  rq_stop_program
  kill "$daemon"
  wait "$daemon" 2>/dev/null || true
}
check_gpio_board via-kt400 1.60 1 3      # 6,3,3,0: 1.60 -> 1.675 is +4.7 %
check_gpio_board via-km400 1.60 1 3      # 6,3,3,0, core only
check_gpio_board sis-648 1.525 '[012]' 5 # 5,5,5,0: 1.52 -> 1.65 is +8.6 %, on any of the three
check_gpio_board kolgra 1.60 2 4         # 8,4,4,0: 1.60 -> 1.675 is +4.7 %, level 1 wired as 2
check_gpio_board qav 1.525 2 5           # 10,7.5,5,0: 1.52 (+0.05) -> 1.675 is +6.7 %
check_gpio_board ich2-845 1.50 1 5       # 10,5,2.5,0: 1.49/1.50 (+0.05) -> 1.65/1.675 is +7-8 %
echo "PASS"
