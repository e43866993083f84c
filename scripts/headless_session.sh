# shellcheck shell=bash
# A private session of the program without the user's desktop (sourced): a private
# work folder, runtime and system folders, a virtual display and a daemon on a
# virtual board, and a clean-up that stops them and removes the folder whatever the
# outcome. Shared by the end-to-end tests, the start-up benchmark and launch.sh.
#
#   source scripts/headless_session.sh <bin-dir>
#   rq_start_display            # Xvfb on a free display; exports DISPLAY
#   rq_start_daemon             # ZQ_I2cIo on $RQ_DAEMON_BOARD (default) with the options in the
#                               # array RQ_DAEMON_OPTIONS, log in $RQ_WORK/daemon.log
#   rq_wait_for, rq_fail, RQ_PIDS, RQ_CLEANUPS: scripts/session_common.sh
#
# Sets RQ_BIN (the programs), RQ_WORK (removed at the end), RQ_RUNTIME_DIR,
# RQ_SYSTEM_DIR, RQ_SCREEN_W and RQ_SCREEN_H.
set -euo pipefail

RQ_BIN=$(cd "${1:?usage: source headless_session.sh <bin-dir>}" && pwd)
# shellcheck source=scripts/session_common.sh
source "$(dirname "${BASH_SOURCE[0]}")/session_common.sh" rq-session
export RQ_RUNTIME_DIR=$RQ_WORK/runtime RQ_SYSTEM_DIR=$RQ_WORK/system
mkdir -p "$RQ_RUNTIME_DIR" "$RQ_SYSTEM_DIR"
chmod 700 "$RQ_RUNTIME_DIR"
RQ_SCREEN_W=1280
RQ_SCREEN_H=800

rq_start_display() {
  # Xvfb picks a free display itself and reports it: sessions started side by side
  # must never race for the same number. -noreset: by default the server starts over
  # when its last client leaves (the xdpyinfo below), and a program connecting during
  # that restart is refused ("could not connect to display").
  local fifo=$RQ_WORK/displayfd n
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 "${RQ_SCREEN_W}x${RQ_SCREEN_H}x24" -br -nolisten tcp -noreset 3>"$fifo" \
    >"$RQ_WORK/xvfb.log" 2>&1 &
  RQ_PIDS+=($!)
  read -r -t 20 n <"$fifo" || rq_fail "Xvfb did not start: $(cat "$RQ_WORK/xvfb.log")"
  export DISPLAY=":$n"
  rq_wait_for 50 xdpyinfo || rq_fail "Xvfb on :$n does not answer"
}

RQ_DAEMON_OPTIONS=()
rq_start_daemon() {
  "$RQ_BIN/ZQ_I2cIo" --foreground --board "${RQ_DAEMON_BOARD:-default}" "${RQ_DAEMON_OPTIONS[@]}" \
    >"$RQ_WORK/daemon.log" 2>&1 &
  RQ_PIDS+=($!)
  rq_wait_for 100 "$RQ_BIN/ZQ_I2cIo" inspect || rq_fail "daemon did not come up: $(cat "$RQ_WORK/daemon.log")"
}
