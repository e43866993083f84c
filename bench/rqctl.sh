#!/usr/bin/env bash
# bench/rqctl.sh <bin-dir> [runs]
# Wall time of `rqctl status --json` (aim: under 0.5 s) and `rqctl sensors` (aim:
# under 0.2 s) on every shipped virtual board, each against its own private daemon,
# `runs` times each (default 5); prints the median and the slowest run per board.
set -euo pipefail
bin=$(cd "${1:?usage: rqctl.sh <bin-dir> [runs]}" && pwd)
runs=${2:-5}

work=$(mktemp -d "${TMPDIR:-/tmp}/rq-bench.XXXXXX")
export RQ_RUNTIME_DIR=$work/runtime
mkdir -p "$RQ_RUNTIME_DIR"
chmod 700 "$RQ_RUNTIME_DIR"
daemon=
cleanup() {
  [[ -n $daemon ]] && kill "$daemon" 2>/dev/null && wait "$daemon" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# The shipped boards, as the daemon lists them when asked for one it lacks.
boards=$("$bin/ZQ_I2cIo" --foreground --board '?' --socket "$work/none.sock" 2>&1 |
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

cd "$work"
printf '%-16s %-21s %-21s\n' board "status --json med/max" "sensors med/max"
for board in $boards; do
  "$bin/ZQ_I2cIo" --foreground --board "$board" >"$work/daemon.log" 2>&1 &
  daemon=$!
  for _ in $(seq 1 100); do "$bin/ZQ_I2cIo" inspect >/dev/null 2>&1 && break; sleep 0.05; done
  status=$(times_of "$bin/rqctl" status --json | summary)
  sensors=$(times_of "$bin/rqctl" sensors | summary)
  printf '%-16s %-21s %-21s\n' "$board" "$status" "$sensors"
  kill "$daemon"
  wait "$daemon" 2>/dev/null || true
  daemon=
done
