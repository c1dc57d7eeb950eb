#!/bin/bash
# Builds the libFuzzer targets (build-fuzz) and runs them one after another,
# each within a time or execution budget, from the committed seeds, regression
# inputs and minimised corpora and from seeds made from the sample builder's
# programs. Prints each target's executions and coverage (libFuzzer's cov: and
# ft:) and fails when any target finds a crash, a leak, a timeout or a broken
# invariant; the input that did it is kept in build-fuzz/fuzz-artifacts.
#
#   scripts/fuzz_long.sh [--time SECONDS | --cpu SECONDS] [--runs N] [TARGET...]
#
# Targets: pe_loader finder_scan process_group pehost_path pehost_db
# form_reader calculator (all by default). Without a budget each target runs
# for 30 minutes. --cpu stops a target once it has had that much processor
# time, so a run on a busy machine explores as much as one on an idle machine. The corpus each run grows is kept in
# build-fuzz/fuzz-corpus/TARGET for the next run; a target with a dictionary
# (fuzz/TARGET.dict) is given it.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=
cpu=
runs=
targets=()
while (($#)); do
  case $1 in
    --time) seconds=$2; shift 2 ;;
    --cpu) cpu=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    -h|--help) sed -n '2,15p' "$0"; exit 0 ;;
    *) targets+=("$1"); shift ;;
  esac
done
((${#targets[@]})) || targets=(pe_loader finder_scan process_group pehost_path pehost_db form_reader calculator)
[[ -n $seconds || -n $cpu || -n $runs ]] || seconds=1800

bash scripts/deps.sh

dir=build-fuzz
mkdir -p "$dir"
CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DFUZZ=ON -DBUILD_CALCULATOR_WINDOW=OFF -DBUILD_BENCHMARKS=OFF >"$dir/fuzz-configure.log" \
  || { cat "$dir/fuzz-configure.log" >&2; exit 1; }
cmake --build "$dir" -j "$(nproc)" --target "${targets[@]/#/fuzz_}" make_fuzz_seeds \
  make_sample >"$dir/fuzz-build.log" 2>&1 || { tail -n 50 "$dir/fuzz-build.log" >&2; exit 1; }

# Seeds from sample programs: one with more units than the committed one, and
# one of the 88-byte layout.
made="$dir/fuzz-seeds"
rm -rf "$made"
mkdir -p "$made"
"$dir/bin/make_sample" --units 3 "$made/sample3.exe"
"$dir/bin/make_sample" --layout 88 "$made/sample88.exe"
"$dir/bin/make_fuzz_seeds" "$made" "$made/sample3.exe" "$made/sample88.exe"

options=(-timeout=30 -rss_limit_mb=4096 -print_final_stats=1)
[[ -n $seconds ]] && options+=("-max_total_time=$seconds")
[[ -n $runs ]] && options+=("-runs=$runs")

# Processor seconds (user and system) a running process has had so far.
ticks=$(getconf CLK_TCK)
processor_seconds() {
  sed 's/.*) //' "/proc/$1/stat" 2>/dev/null | awk -v t="$ticks" '{ print int(($12 + $13) / t) }'
}

# Runs one fuzzer; with a processor budget it is interrupted once the budget is
# spent (libFuzzer then prints its final figures and exits with 72).
run_fuzzer() {
  local log=$1 used=0
  shift
  "$@" >"$log" 2>&1 &
  local pid=$!
  if [[ -n $cpu ]]; then
    while kill -0 "$pid" 2>/dev/null; do
      sleep 5
      used=$(processor_seconds "$pid")
      if ((${used:-0} >= cpu)); then
        kill -INT "$pid" 2>/dev/null || true
        break
      fi
    done
  fi
  local rc=0
  wait "$pid" || rc=$?
  [[ -n $cpu && ${used:-0} -ge $cpu && $rc -eq 72 ]] && rc=0
  return $rc
}

status=0
for t in "${targets[@]}"; do
  corpus="$dir/fuzz-corpus/$t"
  artifacts="$dir/fuzz-artifacts"
  log="$dir/fuzz-$t.log"
  mkdir -p "$corpus" "$artifacts"
  inputs=("$corpus" "fuzz/seeds/$t")
  [[ -d $made/$t ]] && inputs+=("$made/$t")
  [[ -d fuzz/regressions/$t ]] && inputs+=("fuzz/regressions/$t")
  [[ -d fuzz/corpus/$t ]] && inputs+=("fuzz/corpus/$t")
  extra=()
  [[ -f fuzz/$t.dict ]] && extra+=("-dict=fuzz/$t.dict")
  result=clean
  started=$SECONDS
  run_fuzzer "$log" "$dir/bin/fuzz_$t" "${inputs[@]}" "${options[@]}" "${extra[@]}" \
    "-artifact_prefix=$artifacts/$t-" || { result="FINDING (see $log)"; status=1; }
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  coverage=$(grep -oE 'cov: [0-9]+ ft: [0-9]+' "$log" | tail -n 1)
  echo "fuzz_$t: $((SECONDS - started)) s, ${executions:-?} executions," \
    "${coverage:-no coverage line}: $result"
  [[ $result == clean ]] || grep -E -m 3 'invariant broken|ERROR|SUMMARY|^  ' "$log" >&2 || true
done
exit $status
