# shellcheck shell=bash
# Shared by the installation tests (sourced): installs the build folder $1 into a
# fresh temporary prefix, $RQ_PREFIX, and removes it (and whatever the test started
# and registered in RQ_PIDS) whatever the outcome.
set -euo pipefail

RQ_BUILD=$(cd "$1" && pwd)
# shellcheck source=scripts/session_common.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/session_common.sh" rq-install
# The test users must reach the prefix inside it.
chmod 755 "$RQ_WORK"
RQ_PREFIX=$RQ_WORK/prefix

rq_skip() {
  echo "SKIPPED: $*"
  exit 77
}

rq_install() {
  cmake --install "$RQ_BUILD" --prefix "$RQ_PREFIX" >"$RQ_WORK/install.log" 2>&1 ||
    rq_fail "cmake --install failed: $(tail -n 20 "$RQ_WORK/install.log")"
}

# The words of the unit's ExecStart, with its environment's variables filled in.
rq_unit_command() {
  local unit=$1 group=$2 line
  line=$(sed -n 's/^ExecStart=//p' "$unit")
  [[ -n $line ]] || rq_fail "no ExecStart in $unit"
  printf '%s\n' "${line//'${RHOMBOQUEST_GROUP}'/$group}"
}
