#!/usr/bin/env bash
# bench/startup.sh <bin-dir> [runs] [idle-seconds] [steps]
# Start-up time of the program on the default virtual board (from its entry to the
# main window shown, the part spent in detection, and the CPU time used by then),
# then clock steps by the overclock panel's Incr button (wall and CPU time of each,
# and the window thread's longest stall meanwhile, which must stay under 50 ms),
# then CPU use and resident memory while it sits open with the overclock panel out,
# and again with the hardware monitor panel out (its once-a-second refresh). Runs on a private virtual
# display with a private daemon (scripts/headless_session.sh) and stops both afterwards.
set -euo pipefail
runs=${2:-5}
idle=${3:-60}
steps=${4:-5}
# shellcheck source=scripts/headless_session.sh
source "$(dirname "$0")/../scripts/headless_session.sh" "${1:?usage: startup.sh <bin-dir> [runs] [idle-seconds] [steps]}"
mkdir -p "$RQ_WORK/program"
cp "$RQ_BIN"/rhomboquest "$RQ_BIN"/0?.avi "$RQ_WORK/program/"
printf '[Overclock]\nNoShowOverClkMsg=1\n' >"$RQ_WORK/program/torvane.ini"
rq_start_display
rq_start_daemon
export RQ_POLL_SECONDS=0.05 # the window's first sighting is timed by these polls

echo "== start-up, $runs runs (ms)"
printf '%-6s %-14s %-10s %-8s %-14s\n' run window-shown detection CPU seen-by-X
for run in $(seq 1 "$runs"); do
  start=$(date +%s%N)
  (cd "$RQ_WORK/program" && RQ_STARTUP_TRACE=1 exec ./rhomboquest 2>"$RQ_WORK/trace.log") &
  gui=$!
  rq_wait_for 300 xdotool search --name '^Rhomboquest$'
  seen=$((($(date +%s%N) - start) / 1000000))
  rq_wait_for 100 grep -q 'startup:' "$RQ_WORK/trace.log"
  read -r shown detection cpu < <(sed -n 's/.*after \([0-9]*\) ms, of which detection \([0-9]*\) ms, CPU \([0-9]*\) ms.*/\1 \2 \3/p' "$RQ_WORK/trace.log")
  printf '%-6s %-14s %-10s %-8s %-14s\n' "$run" "$shown" "$detection" "$cpu" "$seen"
  "$RQ_BIN/rhomboquest-exit"
  wait "$gui" || true
done

echo "== $steps clock steps by Incr (ms)"
(cd "$RQ_WORK/program" && RQ_STARTUP_TRACE=1 exec ./rhomboquest 2>"$RQ_WORK/trace.log") &
gui=$!
RQ_PIDS+=("$gui")
rq_wait_for 300 xdotool search --name '^Rhomboquest$'
sleep 2
xdotool mousemove $((1280 - 308 + 58)) $((800 - 400 + 359)) click 1  # the overclock panel button
sleep 1
steps_ended() { (($(grep -c '^step:' "$RQ_WORK/trace.log") >= $1)); }
for step in $(seq 1 "$steps"); do
  xdotool mousemove $((1280 - 308 - 245 + 150)) $((800 - 400 + 25 + 133)) click 1  # Incr
  rq_wait_for 100 steps_ended "$step" || { echo "step $step did not end" >&2; exit 1; }
done
printf '%-6s %-8s %-8s %-22s\n' step wall CPU longest-stall
stall=0
n=0
while read -r wall cpu longest; do
  n=$((n + 1))
  printf '%-6s %-8s %-8s %-22s\n' "$n" "$wall" "$cpu" "$longest"
  ((longest > stall)) && stall=$longest
done < <(sed -n 's/^step: \([0-9]*\) ms, CPU \([0-9.]*\) ms, longest window-thread stall \([0-9]*\) ms/\1 \2 \3/p' "$RQ_WORK/trace.log")
echo "longest window-thread stall during a step: $stall ms (limit 50 ms)"
"$RQ_BIN/rhomboquest-exit"
wait "$gui" || true

ticks=$(getconf CLK_TCK)
# CPU use and resident memory of a fresh program sitting $idle s with one panel out;
# prints the CPU share in per cent of one core last, for the comparison below.
idle_with_panel() { # name button-x
  echo "== idle for ${idle} s with the $1 panel out"
  (cd "$RQ_WORK/program" && exec ./rhomboquest 2>/dev/null) &
  gui=$!
  RQ_PIDS+=("$gui")
  rq_wait_for 300 xdotool search --name '^Rhomboquest$'
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
  "$RQ_BIN/rhomboquest-exit"
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
