#!/usr/bin/env bash
# A dialog under a real window manager (openbox): it offers close, neither resizing
# nor maximising, and comes back when minimised; saved as dialog-openbox.png.
source "$(dirname "$0")/app_common.sh"
command -v openbox >/dev/null || rq_fail "openbox is missing (scripts/install-deps.sh installs it)"
out=${RQ_SCREENSHOT_DIR:-$RQ_BIN/../screenshots}
mkdir -p "$out"
rq_start_display
openbox --sm-disable >"$RQ_WORK/openbox.log" 2>&1 &
RQ_PIDS+=($!)
rq_wait_for 50 bash -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q window' || rq_fail "openbox did not start"
rq_start_daemon
rq_start_program

note='NOTE for Manually Modifying Freq. Setting'
rq_click_main 58 359
rq_wait_for 50 rq_window_shown "$note" || rq_fail "no note on first opening of the overclock panel"
sleep 1
id=$(rq_window "$note")
actions=$(xprop -id "$id" _NET_WM_ALLOWED_ACTIONS)
grep -q _NET_WM_ACTION_CLOSE <<<"$actions" || rq_fail "no close: $actions"
grep -qE '_NET_WM_ACTION_(MAXIMIZE|RESIZE)' <<<"$actions" && rq_fail "resizable or maximisable: $actions"
import -window root "$RQ_WORK/root.png"
eval "$(xdotool getwindowgeometry --shell "$id")"
convert "$RQ_WORK/root.png" -crop "$((WIDTH + 40))x$((HEIGHT + 60))+$((X - 20))+$((Y - 40))" +repage "$out/dialog-openbox.png"

xdotool windowminimize "$id"
normal() { xprop -id "$id" WM_STATE | grep -q 'window state: Normal'; }
sleep 0.5
rq_wait_for 30 normal || rq_fail "the minimised dialog stayed hidden"
xdotool windowactivate --sync "$id" key Return
rq_wait_for 50 rq_window_closed "$note" || rq_fail "the note did not close on Return"
"$RQ_BIN/rhomboquest-exit"
rq_expect_program_closed rhomboquest-exit
echo "PASS"
