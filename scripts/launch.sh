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

# shellcheck source=scripts/headless_session.sh
source "$(dirname "$0")/headless_session.sh" "$bin"
shot=$(mktemp --suffix=.png "${TMPDIR:-/tmp}/rhomboquest-launch.XXXXXX")
rq_start_display
rq_start_daemon

(cd "$bin" && exec ./rhomboquest >"$RQ_WORK/rhomboquest.log" 2>&1) &
gui=$!
RQ_PIDS+=("$gui")
rq_wait_for 150 xdotool search --name '^Rhomboquest$' || rq_fail "no window appeared"
sleep 2
import -window root "$shot"
"$bin/rhomboquest-exit" || kill "$gui"
rq_wait_for 100 bash -c "! kill -0 $gui 2>/dev/null" || kill "$gui" 2>/dev/null || true
echo "Screenshot: $shot"
