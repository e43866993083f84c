#!/usr/bin/env bash
# bench/rqctl.sh <bin-dir> [runs]
# Wall time of `rqctl status --json` (aim: under 0.5 s) and `rqctl sensors` (aim:
# under 0.2 s) on every shipped virtual board, each against its own private daemon,
# `runs` times each (default 5); prints the median and the slowest run per board.
set -euo pipefail
source "$(dirname "$0")/../scripts/headless_session.sh" "${1:?usage: rqctl.sh <bin-dir> [runs]}"
bin=$RQ_BIN
runs=${2:-5}

# The shipped boards, as the daemon lists them when asked for one it lacks.
boards=$("$bin/ZQ_I2cIo" --foreground --board '?' --socket "$RQ_WORK/none.sock" 2>&1 |
  sed -n 's/.*shipped boards: \(.*\); or.*/\1/p' | tr -d ',' || true)

# Seconds of each run of "$@", one a line (exit 4, no such chip, counts as a run).
times_of() {
  local i start end code
  for ((i = 0; i < runs; i++)); do
    start=$(date +%s.%N)
    code=0
    "$@" >/dev/null 2>&1 || code=$?
    end=$(date +%s.%N)
    ((code == 0 || code == 4)) || echo "failed ($code): $*" >&2
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f\n", b - a }'
  done
}
summary() { sort -n | awk '{ t[NR] = $1 } END { printf "%6.3f %6.3f", t[int((NR + 1) / 2)], t[NR] }'; }

cd "$RQ_WORK"
printf '%-16s %-21s %-21s\n' board "status --json med/max" "sensors med/max"
for board in $boards; do
  RQ_DAEMON_BOARD=$board rq_start_daemon
  status=$(times_of "$bin/rqctl" status --json | summary)
  sensors=$(times_of "$bin/rqctl" sensors | summary)
  printf '%-16s %-21s %-21s\n' "$board" "$status" "$sensors"
  kill "${RQ_PIDS[-1]}"
  wait "${RQ_PIDS[-1]}" 2>/dev/null || true
done
