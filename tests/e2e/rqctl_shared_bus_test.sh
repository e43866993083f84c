#!/usr/bin/env bash
# Two programs on one SMBus through the host's ports (shared_bus_common.sh).
source "$(dirname "$0")/app_common.sh"
source "$(dirname "$0")/shared_bus_common.sh"
rq_start_daemon
rq_shared_bus_run
echo "PASS"
