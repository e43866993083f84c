#!/usr/bin/env bash
# scripts/launch.sh <bin-dir>
# With $DISPLAY: runs the program there, from its folder (its settings file lives
# there; it sets up its driver itself).
# Without: runs it on a private virtual display with a private daemon on the
# default virtual board, saves a screenshot, prints where, and stops everything.
set -euo pipefail
bin=$(cd "${1:?usage: launch.sh <bin-dir>}" && pwd)

if [[ -n "${DISPLAY:-}" ]]; then
  cd "$bin"
  exec ./rhomboquest
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/rhomboquest-launch.XXXXXX")
export RQ_RUNTIME_DIR=$work/runtime RQ_SYSTEM_DIR=$work/system
mkdir -p "$RQ_RUNTIME_DIR" "$RQ_SYSTEM_DIR"
chmod 700 "$RQ_RUNTIME_DIR"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$RQ_RUNTIME_DIR" "$RQ_SYSTEM_DIR"
}
trap cleanup EXIT

wait_for() { # tenths of a second, command...
  local tries=$1
  shift
  while ((tries-- > 0)); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  return 1
}

# Xvfb picks a free display itself and reports it, so nothing races for a number.
mkfifo "$work/displayfd"
Xvfb -displayfd 3 -screen 0 1280x800x24 -br -nolisten tcp 3>"$work/displayfd" >"$work/xvfb.log" 2>&1 &
pids+=($!)
read -r -t 20 display <"$work/displayfd" || { echo "$(basename "$0"): Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$display"
wait_for 50 xdpyinfo || { echo "launch.sh: Xvfb did not start" >&2; exit 1; }

"$bin/ZQ_I2cIo" --foreground --board default >"$work/daemon.log" 2>&1 &
pids+=($!)
wait_for 100 "$bin/ZQ_I2cIo" inspect || { echo "launch.sh: the driver daemon did not start" >&2; exit 1; }

(cd "$bin" && exec ./rhomboquest >"$work/rhomboquest.log" 2>&1) &
gui=$!
pids+=("$gui")
wait_for 150 xdotool search --name '^Rhomboquest$' || { echo "launch.sh: no window appeared" >&2; exit 1; }
sleep 2
import -window root "$work/screenshot.png"
"$bin/rhomboquest-exit" || kill "$gui"
wait_for 100 bash -c "! kill -0 $gui 2>/dev/null" || kill "$gui" 2>/dev/null || true
echo "Screenshot: $work/screenshot.png"
