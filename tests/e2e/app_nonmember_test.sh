#!/usr/bin/env bash
# A user the system driver service refuses (its folder 0750 and root's, the user not
# in its group) gets no virtual board in its place: rqctl exits 3 with the reason,
# the program says it in one line and one box. As root only: a mount namespace
# whose /run holds such a folder, the programs run as nobody.
if [[ -z ${RQ_IN_NAMESPACE:-} ]]; then
  [[ $(id -u) == 0 ]] && unshare --mount true 2>/dev/null || { echo "SKIP: needs root and mount namespaces"; exit 77; }
  RQ_IN_NAMESPACE=1 exec unshare --mount --propagation private bash "$0" "$@"
fi
source "$(dirname "$0")/app_common.sh"
mount -t tmpfs -o mode=0755 tmpfs /run && mkdir -m 0750 /run/rhomboquest
home=$RQ_WORK/nobody
mkdir -p "$home/run"
# The daemon lies beside the programs: only the refusal keeps it from starting.
cp "$RQ_WORK/program/"* "$RQ_BIN/ZQ_I2cIo" "$RQ_BIN/rqctl" "$RQ_BIN/rhomboquest-exit" "$home/"
# A sanitizer build reads its leak suppressions as nobody too, and the checkout may
# be a folder only root can enter.
if [[ ${LSAN_OPTIONS:-} =~ suppressions=([^:]+) ]]; then
  cp "${BASH_REMATCH[1]}" "$home/lsan.supp"
  LSAN_OPTIONS=${LSAN_OPTIONS/${BASH_REMATCH[1]}/$home/lsan.supp}
fi
chmod 0755 "$RQ_WORK" && chown -R 65534:65534 "$home" && chmod 0700 "$home/run"
as_nobody() {
  cd "$home" && exec setpriv --reuid=65534 --regid=65534 --clear-groups \
    env -i HOME="$home" XDG_RUNTIME_DIR="$home/run" DISPLAY="${DISPLAY:-}" PATH=/usr/bin:/bin \
    ${ASAN_OPTIONS:+ASAN_OPTIONS="$ASAN_OPTIONS"} ${LSAN_OPTIONS:+LSAN_OPTIONS="$LSAN_OPTIONS"} \
    ${UBSAN_OPTIONS:+UBSAN_OPTIONS="$UBSAN_OPTIONS"} "$@"
}
ours() { for p in $(pgrep -x ZQ_I2cIo); do [[ $(readlink "/proc/$p/exe") == "$home/"* ]] && echo "$p"; done; true; }
no_virtual_board() { [[ ! -e $home/run/rhomboquest/ZQ_I2cIo.sock && -z $(ours) ]]; }
RQ_CLEANUPS+=('kill $(ours) 2>/dev/null')

code=0
(as_nobody ./rqctl status >/dev/null 2>"$RQ_WORK/rqctl.err") || code=$?
[[ $code == 3 ]] && grep -qx "rqctl: the hardware driver service in /run/rhomboquest refuses this user: join the group 'root' and log in again; no virtual board is started in its place (set RQ_BOARD to use one)" \
  "$RQ_WORK/rqctl.err" || rq_fail "rqctl exits $code: $(cat "$RQ_WORK/rqctl.err")"
no_virtual_board || rq_fail "rqctl started a virtual board"

rq_start_display
(as_nobody ./rhomboquest >"$RQ_WORK/gui.log" 2>&1) &
RQ_GUI=$! && RQ_PIDS+=("$RQ_GUI")
rq_wait_for 150 rq_window_shown Error || rq_fail "no box about the refusing service"
[[ $(grep -c "refuses this user" "$RQ_WORK/gui.log") == 1 ]] || rq_fail "not one line on standard error"
{ xdotool windowfocus "$(rq_window Error)" 2>/dev/null || true; } && sleep 0.3 && xdotool key --clearmodifiers Return
rq_wait_for 150 rq_window_shown Rhomboquest || rq_fail "no main window after the box"
no_virtual_board || rq_fail "the program started a virtual board"
(as_nobody ./rhomboquest-exit)
rq_expect_program_closed "rhomboquest-exit"
echo PASS
