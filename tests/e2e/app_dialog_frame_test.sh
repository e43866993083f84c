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
# The program's windows exist from its start, hidden; the note counts once openbox maps it.
note='NOTE for Manually Modifying Freq. Setting'
mapped() { xprop -id "$1" WM_STATE 2>/dev/null | grep -q 'state: Normal'; }
note_mapped() { for w in $(rq_windows_titled "$note"); do mapped "$w" && return 0; done; return 1; }
# Under openbox the main window is wherever openbox left it once it manages it, which on
# a loaded machine need not be where the program asked: click where it is.
main_window() { for w in $(rq_windows_titled Rhomboquest); do mapped "$w" && echo "$w" && return 0; done; return 1; }
rq_wait_for 100 main_window >/dev/null || rq_fail "openbox does not manage the main window: $(cat "$RQ_WORK/openbox.log")"
main=$(main_window)
eval "$(xdotool getwindowgeometry --shell "$main")"
xdotool mousemove $((X + 58)) $((Y + 359)) click 1 # the overclock panel's first opening brings the note
rq_wait_for 100 note_mapped ||
  rq_fail "no note shown after a click at $((X + 58)),$((Y + 359)) (main window at $X,$Y); openbox: $(cat "$RQ_WORK/openbox.log")"
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
