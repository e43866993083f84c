# Shared by the windows' end-to-end tests (sourced): a private virtual display, a
# private daemon on the default virtual board, a private working folder, and a
# clean-up that stops all of them whatever the outcome (scripts/headless_session.sh),
# with the program copied into a folder of its own.
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/headless_session.sh" "$1"
mkdir -p "$RQ_WORK/program"
cp "$RQ_BIN"/rhomboquest "$RQ_BIN"/01.avi "$RQ_BIN"/02.avi "$RQ_BIN"/03.avi "$RQ_WORK/program/"

rq_fail() {
  echo "FAIL: $*" >&2
  # What the program and the daemon said, and what its folder held, for the reader of a CI log.
  echo "--- program folder:" >&2
  ls -la "$RQ_WORK/program" >&2 2>/dev/null || echo "(gone)" >&2
  [[ -f $RQ_WORK/program/torvane.ini ]] && cat "$RQ_WORK/program/torvane.ini" >&2
  echo "--- program log:" >&2
  tail -n 20 "$RQ_WORK/gui.log" >&2 2>/dev/null || true
  echo "--- daemon log:" >&2
  tail -n 20 "$RQ_WORK/daemon.log" >&2 2>/dev/null || true
  exit 1
}

# The board's inspection as JSON. Read whole first: callers pipe it into `grep -q` or
# `grep -m1`, which stop reading at the first match, and under pipefail the writer's
# broken pipe would fail a check whose answer was already found.
rq_inspect() {
  local json
  json=$("$RQ_BIN/ZQ_I2cIo" inspect --json) || return 1
  (
    trap '' PIPE
    printf '%s\n' "$json" 2>/dev/null
  ) || true
}

# Windows whose title is exactly $1 (no prefix, no suffix such as " — Rhomboquest"),
# one id a line. xdotool matches patterns, so its hits are compared once more as text.
rq_windows_titled() {
  local id
  for id in $(xdotool search --name "$(printf '%s' "$1" | sed 's/[][\\.^$*+?(){}|]/\\&/g')" 2>/dev/null); do
    [[ $(xdotool getwindowname "$id" 2>/dev/null) == "$1" ]] && echo "$id"
  done
  return 0
}
# sed reads to the end: head would leave the lister to die of SIGPIPE under pipefail.
rq_window() { rq_windows_titled "$1" | sed -n 1p; }
rq_window_shown() { [[ -n $(rq_window "$1") ]]; }
rq_window_gone() { [[ -z $(rq_window "$1") ]]; }
# Gone on two looks 0.3 s apart: a window list read while another window is being
# destroyed can come back empty, and a test counting windows must not take that
# for a close.
rq_window_closed() { rq_window_gone "$1" && sleep 0.3 && rq_window_gone "$1"; }

# A supply of the board as the daemon sees it now.
rq_supply() { rq_inspect | grep -A12 '"volts"' | grep -m1 "\"$1\"" | grep -oE -- '-?[0-9]+(\.[0-9]+)?$|-?[0-9]+(\.[0-9]+)?,$' | tr -d ,; }
rq_within() { # value reference percent
  awk -v v="$1" -v r="$2" -v p="$3" 'BEGIN { d = (v - r) / r * 100; if (d < 0) d = -d; exit !(v != "" && d <= p) }'
}

rq_watchdog_armed() { rq_inspect | grep -A3 '"watchdog"' | grep -q '"armed": true'; }

# Starts the program from its folder; its pid lands in RQ_GUI.
rq_start_program() {
  (cd "$RQ_WORK/program" && exec ./rhomboquest >"$RQ_WORK/gui.log" 2>&1) &
  RQ_GUI=$!
  RQ_PIDS+=("$RQ_GUI")
  rq_wait_for 150 rq_window_shown Rhomboquest || rq_fail "main window titled exactly Rhomboquest did not appear"
  sleep 1.5  # first read-outs and the animation
}

# Waits up to 10 s for the program to end after it was asked to close ($1 says how)
# and checks its exit code, 0.
rq_expect_program_closed() {
  local code
  for _ in $(seq 1 100); do kill -0 "$RQ_GUI" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$RQ_GUI" 2>/dev/null && rq_fail "program still running 10 s after $1"
  set +e
  wait "$RQ_GUI"
  code=$?
  set -e
  [[ $code -eq 0 ]] || rq_fail "program exited with $code after $1: $(cat "$RQ_WORK/gui.log")"
}

# The clock generator's 32 registers as the daemon sees them, on one line.
rq_clockgen_registers() {
  rq_inspect | awk '/"registers": \[/ { on = 1; next } on && /\]/ { print substr(s, 2); exit } on { gsub(/[ ,]/, ""); s = s " " $0 }'
}
# Fails when a log of a process run with RQ_TRACE=1 shows the bus fought over.
rq_expect_no_bus_faults() {
  local faults
  faults=$(grep -hE "SMBus host error|SMBus time-out|bus lock|^exit " "$@" || true)
  [[ -z $faults ]] || rq_fail "$(wc -l <<<"$faults") bus faults traced, first: ${faults%%$'\n'*}"
}

rq_setting() { grep -E "^$1=" "$RQ_WORK/program/torvane.ini" | cut -d= -f2- || true; }

# The main window sits in the bottom-right corner: 308 x 400.
RQ_MAIN_X=$((RQ_SCREEN_W - 308))
RQ_MAIN_Y=$((RQ_SCREEN_H - 400))

# Clicks at a point given relative to the main window.
rq_click_main() {
  xdotool mousemove $((RQ_MAIN_X + $1)) $((RQ_MAIN_Y + $2)) click 1
}
rq_click_screen() { xdotool mousemove "$1" "$2" click 1; }

rq_shot() {
  local out=$1 geometry=$2
  mkdir -p "$(dirname "$out")"
  import -window root "$RQ_WORK/root.png"
  convert "$RQ_WORK/root.png" -crop "$geometry" +repage "$out"
}
