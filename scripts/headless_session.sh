# shellcheck shell=bash
# A private session of the program without the user's desktop (sourced): a private
# work folder, runtime and system folders, a virtual display and a daemon on a
# virtual board, and a clean-up that stops them and removes the folder whatever the
# outcome. Shared by the end-to-end tests, the start-up benchmark and launch.sh.
#
#   source scripts/headless_session.sh <bin-dir>
#   rq_start_display            # Xvfb on a free display; exports DISPLAY
#   rq_start_daemon             # ZQ_I2cIo on $RQ_DAEMON_BOARD (default), log in $RQ_WORK/daemon.log
#   rq_wait_for 50 command...   # true once the command succeeds, trying 50 times
#   RQ_PIDS+=($!)               # anything else to stop at the end
#
# Sets RQ_BIN (the programs), RQ_WORK (removed at the end), RQ_RUNTIME_DIR,
# RQ_SYSTEM_DIR, RQ_SCREEN_W and RQ_SCREEN_H. rq_fail prints its words and exits 1;
# a caller may define its own after sourcing. rq_wait_for polls every
# $RQ_POLL_SECONDS (0.1 unless set).
set -euo pipefail

RQ_BIN=$(cd "${1:?usage: source headless_session.sh <bin-dir>}" && pwd)
RQ_WORK=$(mktemp -d "${TMPDIR:-/tmp}/rq-session.XXXXXX")
export RQ_RUNTIME_DIR=$RQ_WORK/runtime RQ_SYSTEM_DIR=$RQ_WORK/system
mkdir -p "$RQ_RUNTIME_DIR" "$RQ_SYSTEM_DIR"
chmod 700 "$RQ_RUNTIME_DIR"
RQ_PIDS=()
RQ_SCREEN_W=1280
RQ_SCREEN_H=800

rq_cleanup() {
  local pid
  for pid in "${RQ_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  # A program that does not close on SIGTERM (the fault a test caught) is killed.
  for pid in "${RQ_PIDS[@]}"; do
    for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$RQ_WORK"
}
trap rq_cleanup EXIT

rq_fail() {
  echo "$(basename "$0"): $*" >&2
  exit 1
}

# Tries the command in the remaining arguments up to $1 times, $RQ_POLL_SECONDS apart.
rq_wait_for() {
  local tries=$1
  shift
  while ((tries-- > 0)); do
    "$@" >/dev/null 2>&1 && return 0
    sleep "${RQ_POLL_SECONDS:-0.1}"
  done
  return 1
}

rq_start_display() {
  # Xvfb picks a free display itself and reports it: sessions started side by side
  # must never race for the same number.
  local fifo=$RQ_WORK/displayfd n
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 "${RQ_SCREEN_W}x${RQ_SCREEN_H}x24" -br -nolisten tcp 3>"$fifo" >"$RQ_WORK/xvfb.log" 2>&1 &
  RQ_PIDS+=($!)
  read -r -t 20 n <"$fifo" || rq_fail "Xvfb did not start: $(cat "$RQ_WORK/xvfb.log")"
  export DISPLAY=":$n"
  rq_wait_for 50 xdpyinfo || rq_fail "Xvfb on :$n does not answer"
}

rq_start_daemon() {
  "$RQ_BIN/ZQ_I2cIo" --foreground --board "${RQ_DAEMON_BOARD:-default}" >"$RQ_WORK/daemon.log" 2>&1 &
  RQ_PIDS+=($!)
  rq_wait_for 100 "$RQ_BIN/ZQ_I2cIo" inspect || rq_fail "daemon did not come up: $(cat "$RQ_WORK/daemon.log")"
}
