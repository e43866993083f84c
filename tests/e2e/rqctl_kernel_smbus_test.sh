#!/usr/bin/env bash
# The SMBus through the kernel's adapter on the virtual board (--kernel-smbus): detection finds
# the same clock generator on the host the adapter serves, and a clock step leaves the same
# register bytes as through the port-level host (bytes from rqctl_shared_bus_test.sh).
source "$(dirname "$0")/app_common.sh"
RQ_DAEMON_OPTIONS=(--kernel-smbus)
rq_start_daemon
export RQ_TRACE=1
cd "$RQ_WORK/program" && cp "$RQ_BIN/rqctl" .
status=$(./rqctl status --json 2>"$RQ_WORK/status.log") || rq_fail "status failed: $(cat "$RQ_WORK/status.log")"
grep -q '"kernelAdapter": true' <<<"$status" || rq_fail "no kernel adapter reported: $status"
grep -q '"ICS950218"' <<<"$status" || rq_fail "another clock generator: $status"
./rqctl status | grep -q "ICH5 at 0x400, through the kernel's adapter" || rq_fail "status does not say the path"
./rqctl fsb set 143 >/dev/null 2>"$RQ_WORK/changer.log" || rq_fail "fsb set 143 failed: $(cat "$RQ_WORK/changer.log")"
expected="0 31 0 0 0 0 0 40 23 137 0 11 252 0 0 0 68 4 0 0 0 0 0 0 0 0 0 0 0 0 0 0"
[[ $(rq_clockgen_registers) == "$expected" ]] || rq_fail "after fsb set 143: $(rq_clockgen_registers)"
grep -q "SMBus transaction through the kernel" "$RQ_WORK"/{status,changer}.log && rq_fail "a transaction failed"
rq_expect_no_bus_faults "$RQ_WORK"/{status,changer}.log
echo "PASS"
