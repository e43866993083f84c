# shellcheck shell=bash
# Shared by the installation tests (sourced): installs the build folder $1 into a
# fresh temporary prefix, $RQ_PREFIX, and removes it (and whatever the test started
# and registered in RQ_PIDS) whatever the outcome.
set -euo pipefail

RQ_BUILD=$(cd "$1" && pwd)
RQ_WORK=$(mktemp -d "${TMPDIR:-/tmp}/rq-install.XXXXXX")
chmod 755 "$RQ_WORK"
RQ_PREFIX=$RQ_WORK/prefix
RQ_PIDS=()
RQ_CLEANUPS=()

rq_cleanup() {
  local pid i
  for pid in "${RQ_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${RQ_PIDS[@]}"; do
    for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  # Undone in reverse: users before the group they belong to.
  for ((i = ${#RQ_CLEANUPS[@]} - 1; i >= 0; i--)); do eval "${RQ_CLEANUPS[i]}" || true; done
  rm -rf "$RQ_WORK"
}
trap rq_cleanup EXIT

rq_fail() {
  echo "FAIL: $*" >&2
  exit 1
}

rq_skip() {
  echo "SKIPPED: $*"
  exit 77
}

rq_wait_for() { # tenths of a second, command...
  local tries=$1
  shift
  while ((tries-- > 0)); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  return 1
}

rq_install() {
  cmake --install "$RQ_BUILD" --prefix "$RQ_PREFIX" >"$RQ_WORK/install.log" 2>&1 ||
    rq_fail "cmake --install failed: $(tail -n 20 "$RQ_WORK/install.log")"
}

# The words of the unit's ExecStart, with its environment's variables filled in.
rq_unit_command() {
  local unit=$1 group=$2 line
  line=$(sed -n 's/^ExecStart=//p' "$unit")
  [[ -n $line ]] || rq_fail "no ExecStart in $unit"
  printf '%s\n' "${line//'${RHOMBOQUEST_GROUP}'/$group}"
}
