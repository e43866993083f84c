#!/usr/bin/env bash
# Changes one entry of the clock tables at a time, rebuilds the clock generator
# tests, runs them and tells which changed entries no test noticed. A developer
# tool: each entry costs one rebuild of the two chip files and a test run.
#
#   scripts/mutate-clock-tables.sh [--build DIR] [--sample SEED] [--only ENTRY]... [--list]
#
#   --build DIR    configured build directory (default: build)
#   --sample SEED  every table's first and last entries, every entry whose value
#                  recurs in its table, every single constant, and a random third
#                  of the rest (SEED makes the pick repeatable)
#   --only ENTRY   just this entry, as printed (e.g. kTableB[3]); may repeat
#   --list         print the entries with their changed values and stop
#
# A frequency changes by +3 MHz, a divider code by +1, a single constant
# (reference crystal, PLL scale) by x1.05. The clock generator tests run first
# (quick ones, then the ones on whole virtual boards), then the engine tests,
# each stopping at its first failure. The table file is restored on any exit.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
tables="$here/devices/clockgen/ClockGenTables.h"
build="$here/build"
seed=""
only=()
list_only=0
test_timeout=${RQ_MUTATION_TIMEOUT:-180}
shards=${RQ_MUTATION_SHARDS:-8}

while (($#)); do
  case $1 in
    --build) build=$(cd "$2" && pwd); shift 2 ;;
    --sample) seed=$2; shift 2 ;;
    --only) only+=("$2"); shift 2 ;;
    --list) list_only=1; shift ;;
    *) echo "unknown option: $1" >&2; exit 2 ;;
  esac
done

# One line per entry: name[index] line column length literal changed-literal.
# Literals are the numbers after the '=' of each constexpr table or constant,
# so digits inside identifiers, array sizes and comments are never taken.
list_entries() {
  awk -v seed="$seed" '
    function changed(kind, text) {
      if (kind == "code") return sprintf("%d", text + 1)
      if (kind == "const") return sprintf("%.10g", text * 1.05)
      return sprintf("%.10g", text + 3)
    }
    function take(line, from, text,   rest, pos, before) {
      rest = substr(text, from)
      pos = from
      while (match(rest, /[0-9]+(\.[0-9]+)?/)) {
        before = substr(text, pos + RSTART - 2, 1)
        if (before !~ /[A-Za-z0-9_.]/) {
          n++
          ename[n] = name (kind == "const" ? "" : "[" idx "]")
          eline[n] = line; ecol[n] = pos + RSTART - 1; elen[n] = RLENGTH
          elit[n] = substr(rest, RSTART, RLENGTH); enew[n] = changed(kind, elit[n])
          etable[n] = name; eidx[n] = idx; ekind[n] = kind
          idx++
        }
        pos += RSTART + RLENGTH - 1
        rest = substr(text, pos)
      }
    }
    {
      text = $0
      sub(/\/\/.*/, "", text)
    }
    !open && text ~ /constexpr .* k[A-Za-z0-9_]+ = / && text !~ /&/ {
      match(text, /k[A-Za-z0-9_]+ = /)
      name = substr(text, RSTART, RLENGTH - 3)
      idx = 0
      kind = text ~ /\{/ ? (text ~ /unsigned/ ? "code" : "freq") : "const"
      take(NR, RSTART + RLENGTH, text)
      open = text !~ /;/
      next
    }
    open {
      take(NR, 1, text)
      if (text ~ /;/) open = 0
    }
    END {
      if (seed != "") srand(seed)
      for (i = 1; i <= n; i++) {
        count[etable[i] SUBSEP elit[i] + 0]++
        last[etable[i]] = eidx[i]
      }
      for (i = 1; i <= n; i++) {
        keep = seed == "" || ekind[i] == "const" || eidx[i] == 0 || eidx[i] == last[etable[i]] ||
               count[etable[i] SUBSEP elit[i] + 0] > 1 || rand() < 1 / 3
        if (keep) print ename[i], eline[i], ecol[i], elen[i], elit[i], enew[i]
      }
    }' "$tables"
}

entries=$(list_entries)
if ((${#only[@]})); then
  entries=$(printf '%s\n' "$entries" | awk -v want="${only[*]}" '
    BEGIN { n = split(want, w, " "); for (i = 1; i <= n; i++) pick[w[i]] = 1 }
    $1 in pick')
fi
if ((list_only)); then
  printf '%s\n' "$entries"
  exit 0
fi
[[ -n $entries ]] || { echo "no entries selected" >&2; exit 2; }

original=$(mktemp)
cp -p "$tables" "$original"
restore() {
  cp "$original" "$tables"
  touch "$tables"
  rm -f "$original"
}
trap restore EXIT
trap 'exit 130' INT TERM

# Runs one test program in $shards shards at once (its slow tests mostly wait on
# virtual boards, not the processor); prints the first failing test's name,
# "timeout", or nothing.
first_failure() {
  local binary=$1 filter=$2 dir i status failed=""
  dir=$(mktemp -d)
  for ((i = 0; i < shards; i++)); do
    (
      status=0
      GTEST_TOTAL_SHARDS=$shards GTEST_SHARD_INDEX=$i timeout "$test_timeout" "$build/bin/$binary" \
        --gtest_brief=1 --gtest_fail_fast --gtest_filter="$filter" >"$dir/$i.out" 2>&1 || status=$?
      echo "$status" >"$dir/$i.status"
    ) &
  done
  wait
  for ((i = 0; i < shards; i++)); do
    status=$(cat "$dir/$i.status")
    if ((status == 124)); then
      failed="timeout"
    elif ((status != 0)); then
      failed=$(sed -n 's/^\[  FAILED  \] \([^ ]*\).*/\1/p' "$dir/$i.out" | head -n 1)
      failed=${failed%,}
      failed=${failed:-exit status $status}
    fi
    [[ -z $failed ]] || break
  done
  rm -rf "$dir"
  echo "$failed"
}

slow='ClockGenerators/*OnShippedBoards.*'
tried=0 caught=0 survived=() broken=()
while read -r entry line col len literal changed; do
  cp "$original" "$tables"
  awk -v l="$line" -v c="$col" -v n="$len" -v to="$changed" \
      'NR == l { $0 = substr($0, 1, c - 1) to substr($0, c + n) } { print }' "$original" >"$tables"
  tried=$((tried + 1))
  if ! cmake --build "$build" --target clockgen_tests -j2 >/dev/null 2>&1; then
    echo "$entry $literal -> $changed: does not build"
    broken+=("$entry")
    continue
  fi
  by=""
  for run in "clockgen_tests -$slow" "clockgen_tests $slow" "engine_tests *"; do
    read -r binary filter <<<"$run"
    if [[ $binary == engine_tests ]] && ! cmake --build "$build" --target engine_tests -j2 >/dev/null 2>&1; then
      by="$binary: does not build"
      break
    fi
    failure=$(first_failure "$binary" "$filter")
    if [[ -n $failure ]]; then
      by="$binary: $failure"
      break
    fi
  done
  if [[ -n $by ]]; then
    caught=$((caught + 1))
    echo "$entry $literal -> $changed: caught ($by)"
  else
    survived+=("$entry")
    echo "$entry $literal -> $changed: SURVIVED"
  fi
done <<<"$entries"

restore
trap - EXIT
cmake --build "$build" --target clockgen_tests engine_tests -j2 >/dev/null

echo "entries tried: $tried, caught: $caught, survived: ${#survived[@]}, not building: ${#broken[@]}"
((${#survived[@]} == 0)) || echo "survivors: ${survived[*]}"
((${#survived[@]} == 0 && ${#broken[@]} == 0))
