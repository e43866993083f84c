#!/usr/bin/env bash
# The hardware monitor panel on every shipped board with a monitor chip: slid out,
# it shows what the board really carries (core voltage within 2 %, +12 V within 3 %
# of the daemon's inspection; believable temperatures and fans), refreshed every
# second, and the program closes with the panel out. A screenshot of the default
# board's panel goes to $RQ_SCREENSHOT_DIR.
source "$(dirname "$0")/app_common.sh"
out=${RQ_SCREENSHOT_DIR:-$RQ_BIN/../screenshots}
mkdir -p "$out"
rq_start_display
export RQ_MONITOR_TRACE=1

# Row values as the panel shows them, from its trace: "<name>=<value> <unit>;".
rq_row() { grep '^monitor:' "$RQ_WORK/gui.log" | tail -1 | grep -oE "[;:] $1=[^ ]+ " | head -1 | sed -E 's/.*=//; s/ $//'; }
rq_refreshes() { grep -c '^monitor:' "$RQ_WORK/gui.log" || true; }
rq_between() { awk -v v="$1" -v lo="$2" -v hi="$3" 'BEGIN { exit !(v != "" && v >= lo && v <= hi) }'; }

check_board() {
  board=$1
  echo "== $board"
  RQ_DAEMON_BOARD=$board rq_start_daemon
  daemon=${RQ_PIDS[-1]}
  rq_start_program
  # Each board's section joins the settings file on its first start.
  sections=$((sections + 1))
  [[ $(grep -c '^TempSensor2Label=CPU Temp$' "$RQ_WORK/program/torvane.ini") -eq $sections ]] ||
    rq_fail "$board: board section not installed"
  [[ $(rq_refreshes) -eq 0 ]] || rq_fail "$board: monitor refreshed while the panel was closed"
  rq_click_main 186 359
  sleep 3.5
  refreshes=$(rq_refreshes)
  [[ $refreshes -ge 2 && $refreshes -le 5 ]] || rq_fail "$board: $refreshes refreshes in 3.5 s with the panel out"
  [[ $board != default ]] || rq_shot "$out/main-monitor.png" "$((308 + 279))x400+$((RQ_MAIN_X - 279))+$RQ_MAIN_Y"
  grep '^monitor:' "$RQ_WORK/gui.log" | tail -1

  vcore=$(rq_row VCore) v12=$(rq_row 12V)
  true_vcore=$(rq_supply vcore) true_v12=$(rq_supply v12)
  rq_within "$vcore" "$true_vcore" 2 || rq_fail "$board: VCore shows $vcore, board has $true_vcore"
  rq_within "$v12" "$true_v12" 3 || rq_fail "$board: 12V shows $v12, board has $true_v12"
  rq_between "$(rq_row 'CPU Temp')" 20 90 || rq_fail "$board: CPU temperature $(rq_row 'CPU Temp')"
  rq_between "$(rq_row 'System Temp')" 15 70 || rq_fail "$board: system temperature $(rq_row 'System Temp')"
  rq_between "$(rq_row 'CPU Fan')" 1500 6000 || rq_fail "$board: CPU fan $(rq_row 'CPU Fan')"
  rq_between "$(rq_row 'System Fan')" 800 5000 || rq_fail "$board: system fan $(rq_row 'System Fan')"
  rq_within "$(rq_row 3.3V)" 3.3 5 || rq_fail "$board: 3.3V shows $(rq_row 3.3V)"
  rq_within "$(rq_row 5V)" 5 5 || rq_fail "$board: 5V shows $(rq_row 5V)"

  # Closed, the panel stops refreshing.
  rq_click_main 186 359
  sleep 1
  closed=$(rq_refreshes)
  sleep 2.5
  [[ $(rq_refreshes) -le $((closed + 1)) ]] || rq_fail "$board: monitor kept refreshing with the panel closed"

  # Out again, and the program closes with it out.
  rq_click_main 186 359
  sleep 1.5
  "$RQ_BIN/rhomboquest-exit"
  rq_expect_program_closed "the exit request with the monitor panel out"
  kill "$daemon"
  wait "$daemon" 2>/dev/null || true
}

sections=0
for board in default ich2-845 kolgra sis-648 via-km400 nforce2 qav via-kt400; do
  check_board "$board"
done
echo "PASS"
