#!/usr/bin/env bash
# driver_service_test.sh <build-dir>: the installed unit passes systemd-analyze
# verify; a daemon started with the unit's command (the virtual board in place of
# the real one) serves a member of its group and refuses everyone else, the one
# who gets past the file modes with a line in its log.
source "$(dirname "$0")/install_common.sh"

[[ $(id -u) -eq 0 ]] || rq_skip "creating test users and running the daemon as root needs root"
for tool in systemd-analyze useradd groupadd setpriv; do
  command -v "$tool" >/dev/null || rq_fail "$tool is missing (scripts/install-deps.sh installs it)"
done
rq_install
unit=$RQ_PREFIX/lib/systemd/system/rhomboquest-driver.service
SYSTEMD_LOG_LEVEL=notice systemd-analyze verify --man=no "$unit" >"$RQ_WORK/verify.log" 2>&1 ||
  rq_fail "systemd-analyze verify: $(cat "$RQ_WORK/verify.log")"
[[ ! -s $RQ_WORK/verify.log ]] || rq_fail "systemd-analyze verify complains: $(cat "$RQ_WORK/verify.log")"
# Closed device policy: the daemon reaches a host the kernel owns through /dev/i2c-N.
grep -qx 'DeviceAllow=char-i2c rw' "$unit" || rq_fail "the unit keeps the daemon from the kernel's SMBus adapters"
# The hardening keeps the exposure score at 2.3 of 10; 3.0 leaves room for systemd's scoring to change.
systemd-analyze security --offline=true --threshold=30 "$unit" >"$RQ_WORK/security.log" 2>&1 ||
  rq_fail "the unit lost its hardening: $(tail -n 40 "$RQ_WORK/security.log")"

tag=$$
group=rqtg$tag member=rqtm$tag other=rqto$tag
groupadd "$group"
RQ_CLEANUPS+=("groupdel $group")
useradd --no-create-home --user-group --groups "$group" "$member"
RQ_CLEANUPS+=("userdel $member")
useradd --no-create-home --user-group "$other"
RQ_CLEANUPS+=("userdel $other")

# The unit's own socket folder is /run/rhomboquest; the test keeps to a private one.
export RQ_RUNTIME_DIR=$RQ_WORK/run
mkdir -m 755 "$RQ_RUNTIME_DIR"
mapfile -t words < <(rq_unit_command "$unit" "$group" | tr ' ' '\n')
command=()
for word in "${words[@]}"; do
  if [[ $word == --real-hardware ]]; then command+=(--board default); else command+=("$word"); fi
done
[[ " ${command[*]} " == *" --group $group "* ]] || rq_fail "the unit serves no group: ${words[*]}"
"${command[@]}" >"$RQ_WORK/daemon.log" 2>&1 &
RQ_PIDS+=($!)
daemon=$RQ_PREFIX/libexec/rhomboquest/ZQ_I2cIo
socket=$RQ_RUNTIME_DIR/ZQ_I2cIo.sock
rq_wait_for 100 "$daemon" inspect --socket "$socket" || rq_fail "daemon did not start: $(cat "$RQ_WORK/daemon.log")"

as_user() { # user, extra setpriv options..., -- command...
  local user=$1
  shift
  setpriv --reuid "$user" --regid "$(id -g "$user")" --init-groups "$@"
}
as_user "$member" -- "$daemon" inspect --socket "$socket" >"$RQ_WORK/member.log" 2>&1 ||
  rq_fail "a member of $group was not served: $(cat "$RQ_WORK/member.log" "$RQ_WORK/daemon.log")"
if as_user "$other" -- "$daemon" inspect --socket "$socket" >"$RQ_WORK/other.log" 2>&1; then
  rq_fail "a non-member was served"
fi
# Past the file modes (as if they were looser), the daemon itself says no.
if as_user "$other" --inh-caps +dac_override --ambient-caps +dac_override -- \
  "$daemon" inspect --socket "$socket" >"$RQ_WORK/other.log" 2>&1; then
  rq_fail "a non-member past the file modes was served"
fi
uid=$(id -u "$other")
rq_wait_for 20 grep -q "refused a connection from uid $uid" "$RQ_WORK/daemon.log" ||
  rq_fail "no log line for the refused uid $uid: $(cat "$RQ_WORK/daemon.log")"
echo "driver service: unit verified, member served, non-member refused and logged"
