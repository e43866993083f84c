#!/usr/bin/env bash
# The SMBus through the kernel's adapter on the virtual board (--kernel-smbus): detection finds
# the same clock generator on the host the adapter serves, and clock changes beside readers
# leave the same register bytes as through the port-level host, with no transaction
# interleaved with another's (shared_bus_common.sh).
source "$(dirname "$0")/app_common.sh"
source "$(dirname "$0")/shared_bus_common.sh"
RQ_DAEMON_OPTIONS=(--kernel-smbus)
rq_start_daemon
cd "$RQ_WORK/program" && cp "$RQ_BIN/rqctl" .
status=$(RQ_TRACE=1 ./rqctl status --json 2>"$RQ_WORK/status-first.log") || rq_fail "status failed: $(cat "$RQ_WORK/status-first.log")"
grep -q '"kernelAdapter": true' <<<"$status" || rq_fail "no kernel adapter reported: $status"
grep -q '"ICS950218"' <<<"$status" || rq_fail "another clock generator: $status"
./rqctl status | grep -q "ICH5 at 0x400, through the kernel's adapter" || rq_fail "status does not say the path"
rq_shared_bus_run
grep -q "SMBus transaction through the kernel" "$RQ_WORK"/*.log && rq_fail "a transaction failed"
echo "PASS"
