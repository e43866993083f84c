# Shared by the verification end-to-end tests (sourced after app_common.sh): the
# stress programs beside the program, the overclock panel's buttons, and the
# windows a verification shows.

cp "$RQ_BIN"/Loomfield "$RQ_BIN"/Pallwick "$RQ_BIN"/Graniton "$RQ_WORK/program/"
RQ_STRESS_TITLES=("Testing Program" "DirectDraw Testing Program" "DShow Testing")

# The overclock panel, once slid out, sits left of the main window, centred on it
# vertically (245 x 350 beside 308 x 400).
RQ_OC_X=$((RQ_MAIN_X - 245))
RQ_OC_Y=$((RQ_MAIN_Y + 25))
rq_click_overclock() { rq_click_screen $((RQ_OC_X + $1)) $((RQ_OC_Y + $2)); }
# True when a 245-pixel-wide window of the program stands at the panel's open place.
rq_overclock_panel_open() {
  local id
  for id in $(rq_windows_titled 'Over Clock'); do
    eval "$(xdotool getwindowgeometry --shell "$id")"
    [[ $X -eq $RQ_OC_X && $WIDTH -eq 245 ]] && return 0
  done
  return 1
}
rq_open_overclock_panel() {
  rq_click_main 58 359
  rq_wait_for 100 rq_overclock_panel_open || rq_fail "the overclock panel did not slide out"
  sleep 0.5
}
rq_press_incr_more() { rq_click_overclock 204 133; }
rq_press_decr_more() { rq_click_overclock 42 133; }
rq_press_auto() { rq_click_overclock 42 199; }
rq_press_verify() { rq_click_overclock 42 239; }

rq_stress_windows_open() {
  local title
  for title in "${RQ_STRESS_TITLES[@]}"; do rq_window_shown "$title" || return 1; done
}
rq_stress_windows_gone() {
  local title
  for title in "${RQ_STRESS_TITLES[@]}"; do rq_window_shown "$title" && return 1; done
  return 0
}
# Stress programs started from this test's program folder (other tests may run
# their own copies at the same time).
rq_stress_processes() {
  local pid
  for pid in $(pgrep -x Loomfield; pgrep -x Pallwick; pgrep -x Graniton); do
    [[ $(readlink "/proc/$pid/exe" 2>/dev/null) == "$RQ_WORK/program/"* ]] && echo "$pid"
  done
  return 0
}
rq_no_stress_processes() { [[ -z $(rq_stress_processes) ]]; }

# Gives a window the keyboard and types a key there. There is no window manager on
# the test display, so the focus is set directly and not waited for.
rq_focus_and_key() {
  xdotool windowfocus "$(rq_window "$1")" 2>/dev/null || true
  sleep 0.3
  xdotool key --clearmodifiers "$2"
}

# Answers the warning dialog of Auto and Verify with OK (its default button).
rq_accept_warning() {
  rq_wait_for 100 rq_window_shown 'Warning!' || rq_fail "the warning dialog did not appear"
  rq_focus_and_key "Warning!" Return
}

# Presses Auto or Verify ($1) and accepts the warning. The windows stay disabled for
# a moment after a verification ends, so a press that finds them so is repeated.
rq_start_verification() {
  local try
  for try in 1 2 3 4 5; do
    "rq_press_$1"
    rq_wait_for 30 rq_window_shown 'Warning!' && break
  done
  rq_accept_warning
}

# Presses Cancel in the status window ("&Cancel"), again while the window stays: a
# key sent when the window list read came back empty went to another window.
rq_cancel_test() {
  local try
  for try in 1 2 3; do
    rq_focus_and_key "Testing..." alt+c
    rq_wait_for 20 rq_window_closed "Testing..." && return 0
  done
  return 0
}

rq_board_fsb() { rq_inspect | grep -m1 '"fsbMhz"' | grep -oE '[0-9]+(\.[0-9]+)?'; }
# True when the board's FSB lies within 1.1 MHz of $1: the clock generator's PLL
# moves in steps of about 1 MHz.
rq_board_near() { awk -v a="$(rq_board_fsb)" -v b="$1" 'BEGIN { d = a - b; exit !(d < 1.1 && d > -1.1) }'; }
# The board's FSB as the program shows it: one decimal, no trailing ".0".
rq_board_clock_text() { awk -v a="$(rq_board_fsb)" 'BEGIN { s = sprintf("%.1f", a); sub(/\.0$/, "", s); print s }'; }
