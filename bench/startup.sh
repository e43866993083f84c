#!/usr/bin/env bash
# bench/startup.sh <bin-dir> [runs] [idle-seconds] [steps]
# Start-up time of the program on the default virtual board (from its entry to the
# main window shown, the part spent in detection, and the CPU time used by then),
# then clock steps by the overclock panel's Incr button (wall and CPU time of each,
# and the window thread's longest stall meanwhile, which must stay under 50 ms),
# then CPU use and resident memory while it sits open with the overclock panel out,
# and again with the hardware monitor panel out (its once-a-second refresh). Runs on a private virtual
# display with a private daemon and stops both afterwards.
set -euo pipefail
bin=$(cd "${1:?usage: startup.sh <bin-dir> [runs] [idle-seconds]}" && pwd)
runs=${2:-5}
idle=${3:-60}
steps=${4:-5}

work=$(mktemp -d "${TMPDIR:-/tmp}/rq-bench.XXXXXX")
export RQ_RUNTIME_DIR=$work/runtime RQ_SYSTEM_DIR=$work/system
mkdir -p "$RQ_RUNTIME_DIR" "$RQ_SYSTEM_DIR" "$work/program"
chmod 700 "$RQ_RUNTIME_DIR"
cp "$bin"/rhomboquest "$bin"/0?.avi "$work/program/"
printf '[Overclock]\nNoShowOverClkMsg=1\n' >"$work/program/torvane.ini"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
wait_for() {
  local tries=$1
  shift
  while ((tries-- > 0)); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.05
  done
  return 1
}

# Xvfb picks a free display itself and reports it, so nothing races for a number.
mkfifo "$work/displayfd"
Xvfb -displayfd 3 -screen 0 1280x800x24 -br -nolisten tcp 3>"$work/displayfd" >"$work/xvfb.log" 2>&1 &
pids+=($!)
read -r -t 20 display <"$work/displayfd" || { echo "$(basename "$0"): Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$display"
wait_for 100 xdpyinfo
"$bin/ZQ_I2cIo" --foreground --board default >/dev/null 2>&1 &
pids+=($!)
wait_for 200 "$bin/ZQ_I2cIo" inspect

echo "== start-up, $runs runs (ms)"
printf '%-6s %-14s %-10s %-8s %-14s\n' run window-shown detection CPU seen-by-X
for run in $(seq 1 "$runs"); do
  start=$(date +%s%N)
  (cd "$work/program" && RQ_STARTUP_TRACE=1 exec ./rhomboquest 2>"$work/trace.log") &
  gui=$!
  wait_for 300 xdotool search --name '^Rhomboquest$'
  seen=$((($(date +%s%N) - start) / 1000000))
  wait_for 100 grep -q 'startup:' "$work/trace.log"
  read -r shown detection cpu < <(sed -n 's/.*after \([0-9]*\) ms, of which detection \([0-9]*\) ms, CPU \([0-9]*\) ms.*/\1 \2 \3/p' "$work/trace.log")
  printf '%-6s %-14s %-10s %-8s %-14s\n' "$run" "$shown" "$detection" "$cpu" "$seen"
  "$bin/rhomboquest-exit"
  wait "$gui" || true
done

echo "== $steps clock steps by Incr (ms)"
(cd "$work/program" && RQ_STARTUP_TRACE=1 exec ./rhomboquest 2>"$work/trace.log") &
gui=$!
pids+=("$gui")
wait_for 300 xdotool search --name '^Rhomboquest$'
sleep 2
xdotool mousemove $((1280 - 308 + 58)) $((800 - 400 + 359)) click 1  # the overclock panel button
sleep 1
steps_ended() { (($(grep -c '^step:' "$work/trace.log") >= $1)); }
for step in $(seq 1 "$steps"); do
  xdotool mousemove $((1280 - 308 - 245 + 150)) $((800 - 400 + 25 + 133)) click 1  # Incr
  wait_for 100 steps_ended "$step" || { echo "step $step did not end" >&2; exit 1; }
done
printf '%-6s %-8s %-8s %-22s\n' step wall CPU longest-stall
stall=0
n=0
while read -r wall cpu longest; do
  n=$((n + 1))
  printf '%-6s %-8s %-8s %-22s\n' "$n" "$wall" "$cpu" "$longest"
  ((longest > stall)) && stall=$longest
done < <(sed -n 's/^step: \([0-9]*\) ms, CPU \([0-9.]*\) ms, longest window-thread stall \([0-9]*\) ms/\1 \2 \3/p' "$work/trace.log")
echo "longest window-thread stall during a step: $stall ms (limit 50 ms)"
"$bin/rhomboquest-exit"
wait "$gui" || true

ticks=$(getconf CLK_TCK)
# CPU use and resident memory of a fresh program sitting $idle s with one panel out;
# prints the CPU share in per cent of one core last, for the comparison below.
idle_with_panel() { # name button-x
  echo "== idle for ${idle} s with the $1 panel out"
  (cd "$work/program" && exec ./rhomboquest 2>/dev/null) &
  gui=$!
  pids+=("$gui")
  wait_for 300 xdotool search --name '^Rhomboquest$'
  sleep 2
  xdotool mousemove $((1280 - 308 + $2)) $((800 - 400 + 359)) click 1
  sleep 1
  cpu() { awk '{print $14 + $15}' "/proc/$gui/stat"; }
  local before after rss hwm
  before=$(cpu)
  sleep "$idle"
  after=$(cpu)
  rss=$(awk '/VmRSS/ {print $2}' "/proc/$gui/status")
  hwm=$(awk '/VmHWM/ {print $2}' "/proc/$gui/status")
  awk -v d=$((after - before)) -v t="$ticks" -v s="$idle" \
    'BEGIN { printf "CPU: %.2f s of %d s (%.1f %% of one core)\n", d / t, s, 100 * d / t / s }'
  echo "Resident memory: $((rss / 1024)) MiB (peak $((hwm / 1024)) MiB)"
  "$bin/rhomboquest-exit"
  wait "$gui" || true
  share=$(awk -v d=$((after - before)) -v t="$ticks" -v s="$idle" 'BEGIN { printf "%.2f", 100 * d / t / s }')
}

idle_with_panel overclock 58
overclock_share=$share
# The monitor panel reads fifteen sensors through the driver every second.
idle_with_panel "hardware monitor" 186
awk -v m="$share" -v o="$overclock_share" \
  'BEGIN { printf "Monitor refresh: %.2f %% of one core over the overclock panel (budget 0.5 %%)\n", m - o }'
((stall < 50)) || { echo "the window thread stalled $stall ms during a clock step" >&2; exit 2; }
