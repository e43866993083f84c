# shellcheck shell=bash
# What every private session of a script shares (sourced): a private work folder,
# the processes to stop and the steps to undo at the end, whatever the outcome.
#
#   source scripts/session_common.sh [folder-prefix]   # default rq-session
#   RQ_PIDS+=($!)                # stopped at the end: SIGTERM, SIGKILL after 5 s
#   RQ_CLEANUPS+=("command")     # run at the end, the last added first
#   rq_wait_for 50 command...    # true once the command succeeds, trying 50 times
#   rq_fail words...             # prints the words and exits 1
#
# Sets RQ_WORK (removed at the end). rq_wait_for polls every $RQ_POLL_SECONDS (0.1
# unless set); a caller may define its own rq_fail after sourcing.
set -euo pipefail

RQ_WORK=$(mktemp -d "${TMPDIR:-/tmp}/${1:-rq-session}.XXXXXX")
RQ_PIDS=()
RQ_CLEANUPS=()

rq_cleanup() {
  local pid i
  for pid in "${RQ_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  # A program that does not close on SIGTERM (the fault a test caught) is killed.
  for pid in "${RQ_PIDS[@]}"; do
    for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  for ((i = ${#RQ_CLEANUPS[@]} - 1; i >= 0; i--)); do eval "${RQ_CLEANUPS[i]}" || true; done
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
