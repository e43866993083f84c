#!/usr/bin/env bash
# A board without a monitor chip: the panel shows the host's own sensors (a fake desktop
# tree of thirteen), the first twelve in order, refreshed from the files; screenshot saved.
source "$(dirname "$0")/app_common.sh"
out=${RQ_SCREENSHOT_DIR:-$RQ_BIN/../screenshots}
mkdir -p "$out"
"$RQ_BIN/rq_fake_hwmon" "$RQ_WORK/sys" desktop || rq_fail "no fake tree"
export RQ_SYSFS_ROOT=$RQ_WORK/sys RQ_MONITOR_TRACE=1
rq_start_display
RQ_DAEMON_BOARD=cg-ics9428 rq_start_daemon
rq_start_program
rq_click_main 186 359
sleep 2.5
rq_shot "$out/main-monitor-hwmon.png" "$((308 + 279))x400+$((RQ_MAIN_X - 279))+$RQ_MAIN_Y"
rows() { grep '^monitor:' "$RQ_WORK/gui.log" | tail -1; }
expected="monitor: Package id 0=41 C; Core 0=39 C; Core 1=40 C; SYSTIN=34 C; CPUTIN=38.5 C; PECI Agent 0=41 C;\
 nct6775 fan1=1180 RPM; nct6775 fan2=0 RPM; nct6775 in0=1.048 V; nct6775 in1=1.016 V; nct6775 in2=3.392 V; nct6775 in3=3.36 V;"
[[ $(rows) == "$expected" ]] || rq_fail "panel rows: $(rows)"
echo 57250 >"$RQ_WORK/sys/devices/platform/coretemp.0/hwmon/hwmon0/temp1_input"
sleep 2
[[ $(rows) == "${expected/=41 C/=57.25 C}" ]] || rq_fail "not refreshed: $(rows)"
"$RQ_BIN/rhomboquest-exit"
rq_expect_program_closed "the exit request with the monitor panel out"
