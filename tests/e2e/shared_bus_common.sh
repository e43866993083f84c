# Two programs on one SMBus: `rqctl fsb set` five times (each waits out its 10 s watch) beside
# status, dump and sensors --watch loops on the running daemon. Each change leaves the clock
# generator's registers as a quiet change does (bytes from quiet runs); no process traces a
# host error. Needs app_common.sh and a started daemon; runs in $RQ_WORK/program.
rq_shared_bus_run() {
  export RQ_TRACE=1
  cd "$RQ_WORK/program" && cp "$RQ_BIN/rqctl" .
  reader() { # name, arguments: runs rqctl until killed, a line per run in name.count
    while :; do
      ./rqctl "${@:2}" >/dev/null 2>>"$RQ_WORK/$1.log" || echo "exit $? from rqctl ${*:2}" >>"$RQ_WORK/$1.log"
      echo >>"$RQ_WORK/$1.count"
    done
  }
  reader status status --json &
  reader dump dump --json &
  ./rqctl sensors --json --watch 0.05 >"$RQ_WORK/sensors.count" 2>"$RQ_WORK/sensors.log" &
  for pid in $(jobs -p); do RQ_PIDS+=("$pid"); done
  for change in 136:239 143:252 134.5:236 141:248 138:243; do # clock: register 12, all else fixed
    ./rqctl fsb set "${change%:*}" >/dev/null 2>>"$RQ_WORK/changer.log" || rq_fail "fsb set ${change%:*} failed: $(tail -3 "$RQ_WORK/changer.log")"
    expected="0 31 0 0 0 0 0 40 23 137 0 11 ${change#*:} 0 0 0 68 4 0 0 0 0 0 0 0 0 0 0 0 0 0 0"
    [[ $(rq_clockgen_registers) == "$expected" ]] || rq_fail "after fsb set ${change%:*}: $(rq_clockgen_registers)"
  done
  for r in status dump sensors; do (($(wc -l <"$RQ_WORK/$r.count") >= 20)) || rq_fail "$r hardly ran"; done
  rq_expect_no_bus_faults "$RQ_WORK"/{changer,status,dump,sensors}.log
}
