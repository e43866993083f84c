#!/usr/bin/env bash
# A CPU temperature limit set below the CPU's temperature: the monitor panel's row
# turns red, the desktop gets one notification on a private session bus and the
# log one line, not one per refresh; without the limit the row is as before.
source "$(dirname "$0")/app_common.sh"
out=${RQ_SCREENSHOT_DIR:-$RQ_BIN/../screenshots}
rq_start_display
rq_start_daemon
dbus-daemon --session --nofork --print-address >"$RQ_WORK/bus" 2>&1 &
RQ_PIDS+=($!)
rq_wait_for 50 test -s "$RQ_WORK/bus" || rq_fail "no private session bus"
export DBUS_SESSION_BUS_ADDRESS=$(head -1 "$RQ_WORK/bus")
/usr/bin/python3 "$(dirname "$0")/notification_recorder.py" "$RQ_WORK/notices" &
RQ_PIDS+=($!)
rq_name_owned() { dbus-send --session --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.NameHasOwner string:org.freedesktop.Notifications | grep -q true; }
rq_wait_for 100 rq_name_owned || rq_fail "the notification service did not start"
export RQ_MONITOR_TRACE=1
rq_start_program

# The board's section is in the file now; the limit goes beside the CPU's label.
sed -i '/^TempSensor2Label=/a TempSensor2High=1' "$RQ_WORK/program/torvane.ini"
rq_click_main 186 359
sleep 5.5
rows=$(grep '^monitor:' "$RQ_WORK/gui.log" | tail -1)
[[ $(grep -c '^monitor:' "$RQ_WORK/gui.log") -ge 4 ]] || rq_fail "fewer than 4 refreshes in 5.5 s"
[[ $rows =~ "CPU Temp="[0-9.]+" C red;" && $(grep -o ' red;' <<<"$rows" | wc -l) -eq 1 ]] || rq_fail "rows: $rows"
rq_shot "$out/monitor-alarm.png" "279x400+$((RQ_MAIN_X - 279))+$RQ_MAIN_Y"
[[ $(wc -l <"$RQ_WORK/notices") -eq 1 ]] || rq_fail "notifications: $(cat "$RQ_WORK/notices")"
grep -qE '^Rhomboquest\|.*\|CPU Temp [0-9.]+ C is above its limit of 1 C$' "$RQ_WORK/notices" ||
  rq_fail "notification: $(cat "$RQ_WORK/notices")"
[[ $(grep -c 'rhomboquest: alarm: CPU Temp .* is above its limit of 1 C' "$RQ_WORK/gui.log") -eq 1 ]] ||
  rq_fail "not one log line for the crossing"

sed -i '/^TempSensor2High=/d' "$RQ_WORK/program/torvane.ini"
sleep 2.5
[[ $(grep '^monitor:' "$RQ_WORK/gui.log" | tail -1) != *" red;"* ]] || rq_fail "row still red without a limit"
"$RQ_BIN/rhomboquest-exit"
rq_expect_program_closed "the exit request"
echo "PASS"
