#!/usr/bin/env bash
# A dialog under openbox: close offered, no resizing or maximising, back when
# minimised; saved as dialog-openbox.png.
source "$(dirname "$0")/app_common.sh"
rq_start_display
openbox --sm-disable >"$RQ_WORK/openbox.log" 2>&1 &
RQ_PIDS+=($!)
rq_wait_for 50 bash -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q window' || rq_fail "no openbox (scripts/install-deps.sh)"
rq_start_daemon
rq_start_program
rq_click_main 58 359 # the overclock panel's first opening brings the note
note='NOTE for Manually Modifying Freq. Setting'
rq_wait_for 50 rq_window_shown "$note" || rq_fail "no note"
# The window openbox manages, whichever of the windows of that title it is.
managed() {
  local w
  for w in $(rq_windows_titled "$note"); do
    xprop -id "$w" _NET_WM_ALLOWED_ACTIONS 2>/dev/null | grep -q ACTION_CLOSE && echo "$w" && return 0
  done
  return 1
}
rq_wait_for 200 managed && sleep 0.5 ||
  rq_fail "no close: $(for w in $(rq_windows_titled "$note"); do echo "$w:"; xprop -id "$w" _NET_WM_ALLOWED_ACTIONS WM_STATE _NET_WM_WINDOW_TYPE; done)"
id=$(managed)
actions=$(xprop -id "$id" _NET_WM_ALLOWED_ACTIONS)
[[ $actions != *ACTION_MAXIMIZE* && $actions != *ACTION_RESIZE* ]] || rq_fail "$actions"
eval "$(xdotool getwindowgeometry --shell "$id")"
rq_shot "${RQ_SCREENSHOT_DIR:-$RQ_BIN/..}/dialog-openbox.png" "$((WIDTH + 40))x$((HEIGHT + 60))+$((X - 20))+$((Y - 40))"
xdotool windowminimize "$id" && sleep 0.5
rq_wait_for 30 bash -c "xprop -id $id WM_STATE | grep -q 'state: Normal'" || rq_fail "the minimised dialog stayed hidden"
"$RQ_BIN/rhomboquest-exit"
rq_expect_program_closed rhomboquest-exit
echo "PASS"
