#!/usr/bin/env bash
# The hardware monitor panel on the default board: slid out, it shows what the
# board really carries (core voltage within 2 %, +12 V within 3 % of the daemon's
# inspection; believable temperatures and fans), refreshed every second, and the
# program closes with the panel out. A screenshot goes to $RQ_SCREENSHOT_DIR.
source "$(dirname "$0")/app_common.sh"
out=${RQ_SCREENSHOT_DIR:-$RQ_BIN/../screenshots}
mkdir -p "$out"
rq_start_display
rq_start_daemon
export RQ_MONITOR_TRACE=1
rq_start_program

# Board section copied into the new settings file on the first start.
[[ $(rq_setting TempSensor2Label) == "CPU Temp" ]] || rq_fail "board section not installed"

# Row values as the panel shows them, from its trace: "<name>=<value> <unit>;".
rq_row() { grep '^monitor:' "$RQ_WORK/gui.log" | tail -1 | grep -oE "[;:] $1=[^ ]+ " | head -1 | sed -E 's/.*=//; s/ $//'; }
rq_refreshes() { grep -c '^monitor:' "$RQ_WORK/gui.log" || true; }
# A supply of the board as the daemon sees it now.
rq_supply() { rq_inspect | grep -A12 '"volts"' | grep -m1 "\"$1\"" | grep -oE -- '-?[0-9]+(\.[0-9]+)?$|-?[0-9]+(\.[0-9]+)?,$' | tr -d ,; }
rq_within() { # value reference percent
  awk -v v="$1" -v r="$2" -v p="$3" 'BEGIN { d = (v - r) / r * 100; if (d < 0) d = -d; exit !(v != "" && d <= p) }'
}
rq_between() { awk -v v="$1" -v lo="$2" -v hi="$3" 'BEGIN { exit !(v != "" && v >= lo && v <= hi) }'; }

[[ $(rq_refreshes) -eq 0 ]] || rq_fail "monitor refreshed while the panel was closed"
rq_click_main 186 359
sleep 3.5
refreshes=$(rq_refreshes)
[[ $refreshes -ge 2 && $refreshes -le 5 ]] || rq_fail "$refreshes refreshes in 3.5 s with the panel out"
rq_shot "$out/main-monitor.png" "$((308 + 279))x400+$((RQ_MAIN_X - 279))+$RQ_MAIN_Y"
grep '^monitor:' "$RQ_WORK/gui.log" | tail -1

vcore=$(rq_row VCore) v12=$(rq_row 12V)
true_vcore=$(rq_supply vcore) true_v12=$(rq_supply v12)
rq_within "$vcore" "$true_vcore" 2 || rq_fail "VCore shows $vcore, board has $true_vcore"
rq_within "$v12" "$true_v12" 3 || rq_fail "12V shows $v12, board has $true_v12"
rq_between "$(rq_row 'CPU Temp')" 20 90 || rq_fail "CPU temperature $(rq_row 'CPU Temp')"
rq_between "$(rq_row 'System Temp')" 15 70 || rq_fail "system temperature $(rq_row 'System Temp')"
rq_between "$(rq_row 'CPU Fan')" 1500 6000 || rq_fail "CPU fan $(rq_row 'CPU Fan')"
rq_between "$(rq_row 'System Fan')" 800 5000 || rq_fail "system fan $(rq_row 'System Fan')"
rq_within "$(rq_row 3.3V)" 3.3 5 || rq_fail "3.3V shows $(rq_row 3.3V)"
rq_within "$(rq_row 5V)" 5 5 || rq_fail "5V shows $(rq_row 5V)"

# Closed, the panel stops refreshing.
rq_click_main 186 359
sleep 1
closed=$(rq_refreshes)
sleep 2.5
[[ $(rq_refreshes) -le $((closed + 1)) ]] || rq_fail "monitor kept refreshing with the panel closed"

# Out again, and the program closes with it out.
rq_click_main 186 359
sleep 1.5
"$RQ_BIN/rhomboquest-exit"
rq_expect_program_closed "the exit request with the monitor panel out"
echo "PASS"
