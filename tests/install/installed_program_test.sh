#!/usr/bin/env bash
# installed_program_test.sh <build-dir> <version>: installs into a temporary prefix,
# checks the layout and every program's --version, then starts the installed program
# through its desktop entry's command from a folder it has never seen, with a fresh
# home: it must find its daemon in the helper folder and its animations in the
# shared data folder, keep its settings in the seeded state folder, and close cleanly.
source "$(dirname "$0")/install_common.sh"
version=$2

rq_install
cd "$RQ_PREFIX"
expected=(
  bin/rhomboquest bin/rhomboquest-exit bin/rqdetect share/man/man1/rqdetect.1.gz
  libexec/rhomboquest/ZQ_I2cIo libexec/rhomboquest/Loomfield libexec/rhomboquest/Pallwick
  libexec/rhomboquest/Graniton
  share/rhomboquest/01.avi share/rhomboquest/02.avi share/rhomboquest/03.avi share/rhomboquest/torvane.ini
  share/applications/rhomboquest.desktop share/icons/hicolor/64x64/apps/rhomboquest.png
  share/man/man1/rhomboquest.1.gz share/man/man1/rhomboquest-exit.1.gz share/man/man8/ZQ_I2cIo.8.gz
  share/doc/rhomboquest/README.md share/doc/rhomboquest/copyright share/doc/rhomboquest/docs/architecture.md
  lib/systemd/system/rhomboquest-driver.service lib/sysusers.d/rhomboquest.conf
)
programs=(bin/rhomboquest bin/rhomboquest-exit bin/rqdetect libexec/rhomboquest/ZQ_I2cIo)
if [[ -e bin/rqctl ]]; then
  expected+=(share/man/man1/rqctl.1.gz)
  programs+=(bin/rqctl)
fi
for file in "${expected[@]}"; do [[ -f $file ]] || rq_fail "not installed: $file"; done
for file in bin/ZQ_I2cIo bin/Loomfield bin/01.avi; do [[ ! -e $file ]] || rq_fail "$file belongs elsewhere"; done
for program in "${programs[@]}"; do
  out=$("$program" --version) || rq_fail "$program --version failed"
  [[ $out == "$(basename "$program") $version" ]] || rq_fail "$program --version said '$out'"
done
grep -qx "ExecStart=$RQ_PREFIX/libexec/rhomboquest/ZQ_I2cIo --foreground --real-hardware --group \${RHOMBOQUEST_GROUP}" \
  lib/systemd/system/rhomboquest-driver.service || rq_fail "the unit does not start the installed daemon"
grep -q '^\[ZR865\]$' share/rhomboquest/torvane.ini || rq_fail "no board sections in share/rhomboquest/torvane.ini"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate share/applications/rhomboquest.desktop || rq_fail "desktop entry invalid"
fi

# The launcher, as a desktop starts it.
launcher=$(sed -n 's/^Exec=//p' share/applications/rhomboquest.desktop)
[[ $launcher == "$RQ_PREFIX/bin/rhomboquest --state-folder" ]] || rq_fail "desktop entry runs '$launcher'"
export HOME=$RQ_WORK/home RQ_RUNTIME_DIR=$RQ_WORK/runtime RQ_SYSTEM_DIR=$RQ_WORK/system
unset XDG_STATE_HOME XDG_DATA_HOME XDG_CONFIG_HOME
mkdir -p "$HOME" "$RQ_RUNTIME_DIR" "$RQ_SYSTEM_DIR" "$RQ_WORK/elsewhere"
chmod 700 "$RQ_RUNTIME_DIR"
# As root (as in CI), the program runs as a fresh ordinary user, as on a desktop:
# the installed files are root's, the home and the folders the user's own.
as_user=()
if [[ $(id -u) -eq 0 ]]; then
  user=rqti$$
  useradd --no-create-home --user-group "$user"
  RQ_CLEANUPS+=("userdel $user")
  chown "$user:" "$HOME" "$RQ_RUNTIME_DIR" "$RQ_SYSTEM_DIR" "$RQ_WORK/elsewhere"
  as_user=(setpriv --reuid "$user" --regid "$(id -g "$user")" --init-groups --)
fi
# -noreset: a server starting over after xdpyinfo leaves refuses the program (headless_session.sh).
mkfifo "$RQ_WORK/displayfd"
Xvfb -displayfd 3 -screen 0 1280x800x24 -br -nolisten tcp -noreset 3>"$RQ_WORK/displayfd" >"$RQ_WORK/xvfb.log" 2>&1 &
RQ_PIDS+=($!)
read -r -t 20 display <"$RQ_WORK/displayfd" || rq_fail "Xvfb did not start"
export DISPLAY=":$display"
rq_wait_for 50 xdpyinfo || rq_fail "Xvfb on $DISPLAY does not answer"

stop_daemon() {
  local pid
  pid=$("${as_user[@]}" "$RQ_PREFIX/libexec/rhomboquest/ZQ_I2cIo" inspect --json 2>/dev/null | sed -n 's/.*"daemonPid": *\([0-9]*\).*/\1/p')
  [[ -n $pid ]] && kill "$pid" && rq_wait_for 50 bash -c "! kill -0 $pid" # gone before its user is
}
RQ_CLEANUPS+=(stop_daemon)
cd "$RQ_WORK/elsewhere"
# shellcheck disable=SC2086  # the desktop entry's command is words
"${as_user[@]}" $launcher >"$RQ_WORK/gui.log" 2>&1 &
gui=$!
RQ_PIDS+=("$gui")
rq_wait_for 200 xdotool search --name '^Rhomboquest$' ||
  rq_fail "no main window: $(cat "$RQ_WORK/gui.log")"
"${as_user[@]}" "$RQ_PREFIX/libexec/rhomboquest/ZQ_I2cIo" inspect >/dev/null || rq_fail "the program started no daemon"
sleep 1.5 # the first animation is loaded from the shared data folder
if grep -q "cannot play the animation" "$RQ_WORK/gui.log"; then rq_fail "$(cat "$RQ_WORK/gui.log")"; fi

state=$HOME/.local/state/rhomboquest
[[ $(stat -c %a:%U "$state") == "700:${user:-$(id -un)}" ]] || rq_fail "state folder $state is $(stat -c %a:%U "$state")"
grep -q '^\[ZR865\]$' "$state/torvane.ini" || rq_fail "state folder's torvane.ini was not seeded"
[[ ! -e $RQ_WORK/elsewhere/torvane.ini ]] || rq_fail "settings written to the folder it was started from"

# One store: rqctl from home uses the program's file, may not change the clock beside it.
rqctl=$RQ_PREFIX/bin/rqctl
in_home() { (cd "$HOME" && "${as_user[@]}" "$@"); }
if [[ -x $rqctl ]]; then
  json=$(in_home "$rqctl" status --json) && grep -q "\"settingsFile\": \"$state/torvane.ini\"" <<<"$json" ||
    rq_fail "rqctl uses another settings file: $json"
  mkdir -m 700 "$RQ_WORK/runtime2" && { [[ -z ${user:-} ]] || chown "$user:" "$RQ_WORK/runtime2"; }
  code=0 && RQ_RUNTIME_DIR=$RQ_WORK/runtime2 in_home "$rqctl" fsb set 140 2>"$RQ_WORK/refused.log" || code=$?
  [[ $code -eq 5 ]] || rq_fail "fsb set beside the program (second login): $code $(cat "$RQ_WORK/refused.log")"
fi
"${as_user[@]}" "$RQ_PREFIX/bin/rhomboquest-exit" || rq_fail "rhomboquest-exit found no program to close"
rq_wait_for 100 bash -c "! kill -0 $gui" || rq_fail "program still running 10 s after rhomboquest-exit"
set +e
wait "$gui"
code=$?
set -e
[[ $code -eq 0 ]] || rq_fail "program exited with $code: $(cat "$RQ_WORK/gui.log")"
(cd "$RQ_WORK/elsewhere" && "${as_user[@]}" "$RQ_PREFIX/bin/rqdetect") | grep '^north bridge  *Intel' >/dev/null || rq_fail "rqdetect"
if [[ -x $rqctl ]]; then
  # A hang during rqctl's change marks that one file: the menu start recovers 3 MHz below SafeFreq.
  in_home sed -i -e '/^SafeFreq=/d' -e '$a [Overclock]' -e '$a SafeFreq=146' "$state/torvane.ini"
  in_home "$rqctl" fsb set 155 >"$RQ_WORK/hang.log" 2>&1 || true # ended by the watchdog's reset
  grep -q '^InWatch=1' "$state/torvane.ini" || rq_fail "no InWatch after the hang: $(cat "$RQ_WORK/hang.log")"
  "${as_user[@]}" "$RQ_PREFIX/bin/rhomboquest" --state-folder >"$RQ_WORK/gui.log" 2>&1 & # as the menu does
  gui=$!
  RQ_PIDS+=("$gui")
  rq_wait_for 200 xdotool search --name '^Rhomboquest$' || rq_fail "no main window: $(cat "$RQ_WORK/gui.log")"
  grep -q '"fsbMhz": 14[23]\.' <<<"$("${as_user[@]}" "$RQ_PREFIX/libexec/rhomboquest/ZQ_I2cIo" inspect --json)" ||
    rq_fail "the menu start did not recover to 143 MHz: $(cat "$RQ_WORK/gui.log")"
  "${as_user[@]}" "$RQ_PREFIX/bin/rhomboquest-exit" || rq_fail "rhomboquest-exit found no program to close"
  # A closing program may still save its settings, which makes the file anew.
  rq_wait_for 100 bash -c "! kill -0 $gui" || rq_fail "program still running 10 s after rhomboquest-exit"
  in_home chmod g+w "$state/torvane.ini" # what another user could have planted
  code=0 && in_home "$rqctl" status 2>"$RQ_WORK/planted.log" || code=$?
  [[ $code -eq 5 ]] && grep -q "$state/torvane.ini may be written by other users" "$RQ_WORK/planted.log" ||
    rq_fail "a settings file others may write was not refused: $code $(cat "$RQ_WORK/planted.log")"
fi
echo "installed program: layout, versions, launcher and state folder fine"
