#!/bin/bash
# Interrupting pehost (Ctrl-C, SIGTERM) while the plug-in runs on a large
# program leaves the saved database given with --db and the log an earlier
# run left beside the program byte for byte as they were; interrupting it
# while it writes the database leaves the --db file as it was. Either way no
# temporary file is left beside them.
#
#   pehost_interrupt_test.sh PEHOST MAKE_SAMPLE
set -euo pipefail
pehost=$1
make_sample=$2

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$make_sample" --size-mb 8 "$work/big.exe"

# A saved database the run would rewrite in full, and an earlier log the
# plug-in would replace (the lowest address of the sample program is 0x401000).
printf '{"comments": [{"ea": 4198400, "text": "kept", "repeatable": false}]}\n' \
  >"$work/db.before"
printf 'an earlier run'"'"'s log\n' >"$work/log.before"

passed=0
failed=0
fail() {
  echo "$1" >&2
  failed=$((failed + 1))
}

# Waits until a file matching the pattern exists while `pid` lives.
wait_for() {
  local pattern=$1 pid=$2
  for _ in $(seq 3000); do
    compgen -G "$pattern" >/dev/null && return 0
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.01
  done
  return 1
}

# phase: "run" (the plug-in's log is being written) or "save" (the database).
for phase in run save; do
  for signal in INT TERM; do
    what="SIG$signal while the ${phase/run/plug-in runs}"
    what=${what/save/database is written}
    cp "$work/db.before" "$work/big.db.json"
    cp "$work/log.before" "$work/big_classes.log"
    rm -f "$work/big.json"
    "$pehost" --start 0 --log yes --db "$work/big.db.json" --json "$work/big.json" \
      "$work/big.exe" >/dev/null 2>"$work/stderr" &
    pid=$!
    if [[ $phase == run ]]; then pattern="$work/big_classes.log.tmp-*"; else pattern="$work/big.db.json.tmp-*"; fi
    if ! wait_for "$pattern" "$pid"; then
      wait "$pid" || true
      fail "$what: pehost never got there ($(head -c 300 "$work/stderr"))"
      continue
    fi
    kill -s "$signal" "$pid"
    status=0
    wait "$pid" || status=$?
    before=$failed
    ((status >= 128)) || fail "$what: pehost exited with $status, not by the signal"
    cmp -s "$work/db.before" "$work/big.db.json" || fail "$what: the --db file changed"
    if [[ $phase == run ]]; then
      cmp -s "$work/log.before" "$work/big_classes.log" || fail "$what: the earlier log changed"
      [[ ! -e $work/big.json ]] || fail "$what: a --json file was written"
    fi
    leftovers=$(find "$work" -name '*.tmp-*' -printf '%f ')
    [[ -z $leftovers ]] || fail "$what: temporary files left: $leftovers"
    find "$work" -name '*.tmp-*' -delete
    ((failed > before)) || passed=$((passed + 1))
  done
done
echo "pehost interruption: $passed passed, $failed failed"
((failed == 0))
