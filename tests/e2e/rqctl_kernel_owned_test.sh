#!/usr/bin/env bash
# A board whose kernel drives both the SMBus host and the monitor chip: the daemon offers the
# SMBus as a kernel adapter (--kernel-smbus) and publishes the W83627HF as the kernel's
# w83627hf driver would (--hwmon-root). rqctl reaches the clock generator through the adapter
# and reads the sensors from the hwmon files: the same rows as through the ports, with the
# board's dividers applied to the driver's pin voltages.
source "$(dirname "$0")/app_common.sh"
sys=$RQ_WORK/sys
RQ_DAEMON_OPTIONS=(--kernel-smbus --hwmon-root "$sys")
rq_start_daemon
cd "$RQ_WORK/program" && cp "$RQ_BIN/rqctl" .
[[ $(cat "$sys/class/hwmon/hwmon0/name") == w83627hf ]] || rq_fail "no w83627hf device in $sys"

RQ_SYSFS_ROOT=$sys ./rqctl sensors >"$RQ_WORK/kernel.txt" 2>&1 || rq_fail "sensors failed: $(cat "$RQ_WORK/kernel.txt")"
grep -q "^Adapter: kernel hwmon (w83627hf)" "$RQ_WORK/kernel.txt" || rq_fail "not read through hwmon: $(cat "$RQ_WORK/kernel.txt")"
RQ_SYSFS_ROOT=$sys ./rqctl sensors --json >"$RQ_WORK/kernel.json" || rq_fail "sensors --json failed"
RQ_SYSFS_ROOT=$RQ_WORK/none ./rqctl sensors --json >"$RQ_WORK/ports.json" || rq_fail "sensors through the ports failed"
/usr/bin/python3 - "$RQ_WORK/kernel.json" "$RQ_WORK/ports.json" <<'PY' || rq_fail "hwmon and ports disagree"
import json, sys
kernel, ports = (json.load(open(path))["sensors"] for path in sys.argv[1:])
assert [(s["name"], s["unit"]) for s in kernel] == [(s["name"], s["unit"]) for s in ports], (kernel, ports)
assert len(kernel) >= 12, kernel
for k, p in zip(kernel, ports):
    # Two readings a moment apart: the supplies' ripple (2 %, one ADC step) and a degree of drift, no more.
    slack = max(abs(p["value"]) * 0.02, 0.02 if p["unit"] == "V" else 1.0)
    assert abs(k["value"] - p["value"]) <= slack, (k, p)
PY

RQ_TRACE=1 ./rqctl fsb set 136 >/dev/null 2>"$RQ_WORK/changer.log" || rq_fail "fsb set 136 failed: $(cat "$RQ_WORK/changer.log")"
expected="0 31 0 0 0 0 0 40 23 137 0 11 239 0 0 0 68 4 0 0 0 0 0 0 0 0 0 0 0 0 0 0"
[[ $(rq_clockgen_registers) == "$expected" ]] || rq_fail "after fsb set 136: $(rq_clockgen_registers)"
written=$(stat -c %Y.%y "$sys/class/hwmon/hwmon0/temp2_input")
sleep 2.2
[[ $(stat -c %Y.%y "$sys/class/hwmon/hwmon0/temp2_input") != "$written" ]] || rq_fail "the hwmon files are not rewritten"
echo "PASS"
