#!/usr/bin/env bash
# A CPU temperature limit below the CPU's temperature: the monitor panel's row turns red,
# a notification service on a private session bus gets one notification and the log one
# line, not one per refresh.
source "$(dirname "$0")/app_common.sh"
rq_start_display
rq_start_daemon
dbus-daemon --session --nofork --print-address >"$RQ_WORK/bus" 2>&1 & RQ_PIDS+=($!)
rq_wait_for 50 test -s "$RQ_WORK/bus" || rq_fail "no private session bus"
export DBUS_SESSION_BUS_ADDRESS=$(head -1 "$RQ_WORK/bus") RQ_MONITOR_TRACE=1
/usr/bin/python3 "$(dirname "$0")/notification_recorder.py" "$RQ_WORK/notices" & RQ_PIDS+=($!)
rq_owned() { dbus-send --session --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.NameHasOwner string:org.freedesktop.Notifications | grep -q true; }
rq_wait_for 100 rq_owned || rq_fail "the notification service did not start"
rq_start_program
sed -i '/^TempSensor2Label=/a TempSensor2High=1' "$RQ_WORK/program/torvane.ini"  # into the board's section
rq_click_main 186 359
sleep 5.5
rows=$(grep '^monitor:' "$RQ_WORK/gui.log" | tail -1)
[[ $(grep -c '^monitor:' "$RQ_WORK/gui.log") -ge 4 ]] || rq_fail "fewer than 4 refreshes in 5.5 s"
[[ $rows =~ "CPU Temp="[0-9.]+" C red;" && $(grep -o ' red;' <<<"$rows" | wc -l) -eq 1 ]] || rq_fail "rows: $rows"
rq_shot "${RQ_SCREENSHOT_DIR:-$RQ_BIN/../screenshots}/monitor-alarm.png" "279x400+$((RQ_MAIN_X - 279))+$RQ_MAIN_Y"
[[ $(grep -cE '^Rhomboquest\|.*\|CPU Temp [0-9.]+ C is above its limit of 1 C$' "$RQ_WORK/notices") -eq 1 &&
  $(wc -l <"$RQ_WORK/notices") -eq 1 ]] || rq_fail "notifications: $(cat "$RQ_WORK/notices")"
[[ $(grep -c 'alarm: CPU Temp .* is above its limit of 1 C' "$RQ_WORK/gui.log") -eq 1 ]] || rq_fail "not one log line"
"$RQ_BIN/rhomboquest-exit"
rq_expect_program_closed "the exit request"
echo "PASS"
