#!/usr/bin/env bash
# Screenshots of the main window alone and with each panel slid out, saved to
# $RQ_SCREENSHOT_DIR (default: the build's screenshots folder); also checks that
# each panel ends where it should by looking at the screen.
source "$(dirname "$0")/app_common.sh"
out=${RQ_SCREENSHOT_DIR:-$RQ_BIN/../screenshots}
mkdir -p "$out"
rq_start_display
rq_start_daemon
rq_start_program

# One taskbar and task switcher entry: the panels are left out, the main window is not.
skips_taskbar() { xprop -id "$(rq_window "$1")" _NET_WM_STATE | grep -q _NET_WM_STATE_SKIP_TASKBAR; }
for panel in 'Over Clock' 'About' 'Voltage'; do
  rq_window_shown "$panel" || rq_fail "no panel titled exactly '$panel'"
  skips_taskbar "$panel" || rq_fail "panel '$panel' would have its own taskbar entry"
done
skips_taskbar Rhomboquest && rq_fail "the main window is left out of the taskbar"

main_geometry="308x400+$RQ_MAIN_X+$RQ_MAIN_Y"
rq_shot "$out/main.png" "$main_geometry"

# The left of the screen is black: a panel slid out paints it.
painted() { # x y
  import -window root -crop "1x1+$1+$2" -depth 8 txt:- | tail -1 | grep -qv '#000000'
}
painted $((RQ_MAIN_X - 120)) $((RQ_MAIN_Y + 200)) && rq_fail "overclock panel visible before opening"

# Overclock panel: the first opening brings the note on manual changes.
rq_click_main 58 359
note='NOTE for Manually Modifying Freq. Setting'
rq_wait_for 50 rq_window_shown "$note" || rq_fail "no note titled exactly '$note' on first opening"
sleep 0.5
import -window root "$out/overclock-note-full.png"
xdotool windowfocus "$(rq_window "$note")" >/dev/null 2>&1 || true
xdotool key Return
sleep 0.5
[[ $(grep -E '^NoShowOverClkMsg=' "$RQ_WORK/program/torvane.ini" | cut -d= -f2) == 1 ]] || rq_fail "note not recorded"
painted $((RQ_MAIN_X - 120)) $((RQ_MAIN_Y + 200)) || rq_fail "overclock panel not slid out"
rq_shot "$out/main-overclock.png" "$((308 + 245))x400+$((RQ_MAIN_X - 245))+$RQ_MAIN_Y"
rq_click_main 58 359
sleep 0.5
painted $((RQ_MAIN_X - 120)) $((RQ_MAIN_Y + 200)) && rq_fail "overclock panel did not slide back"

# Information panel, above the main window.
rq_click_main 250 359
sleep 0.5
painted $((RQ_MAIN_X + 150)) $((RQ_MAIN_Y - 100)) || rq_fail "information panel not slid out"
rq_shot "$out/main-about.png" "308x600+$RQ_MAIN_X+$((RQ_MAIN_Y - 200))"
rq_click_main 250 359
sleep 0.5

# Voltage panel, above the main window too: normal, then raised by Yes.
rq_click_main 122 359
sleep 0.5
painted $((RQ_MAIN_X + 150)) $((RQ_MAIN_Y - 100)) || rq_fail "voltage panel not slid out"
rq_shot "$out/voltage-normal.png" "308x600+$RQ_MAIN_X+$((RQ_MAIN_Y - 200))"
rq_click_main 186 -46
voltshift_set() { [[ $(rq_setting VoltShift) == 1 ]]; }
rq_wait_for 50 voltshift_set || rq_fail "Yes did not store VoltShift"
sleep 0.5
rq_shot "$out/voltage-raised.png" "308x600+$RQ_MAIN_X+$((RQ_MAIN_Y - 200))"
rq_click_main 122 359
sleep 0.5
painted $((RQ_MAIN_X + 150)) $((RQ_MAIN_Y - 100)) && rq_fail "voltage panel did not slide back"
rq_shot "$out/main-after.png" "$main_geometry"

"$RQ_BIN/rhomboquest-exit"
rq_wait_for 100 bash -c "! kill -0 $RQ_GUI 2>/dev/null" || rq_fail "program did not close"
echo "screenshots in $out"
echo "PASS"
