#!/bin/bash
# Runs two builds of pehost over the same programs and compares everything
# they write: the output window, the detector's log, the JSON database, the
# saved database, the listing, the class model (JSON, report, forms), the C
# header and the IDA and Ghidra scripts (but for the line naming the run), and
# the finder's output window. Meant for changes
# that must not change any output (speed, memory, restructuring); the golden
# files under detector/testdata and model/testdata are checked by ctest.
#
#   scripts/compare_outputs.sh [--no-large] OLD_BIN_DIR NEW_BIN_DIR
#
# The programs: every .exe and .e32 under third_party_samples/, and 40 MB
# samples of the 76- and 88-byte layouts written by NEW_BIN_DIR/make_sample
# (--no-large leaves them out). Each run works on a copy of the program at
# the same path, so that the paths written into the outputs agree. Prints one
# line per program and exits 1 when any output differs, naming it.
set -euo pipefail
cd "$(dirname "$0")/.."

large=1
if [[ ${1:-} == --no-large ]]; then
  large=0
  shift
fi
(($# == 2)) || { sed -n '2,15p' "$0" >&2; exit 2; }
old=$(cd "$1" && pwd)
new=$(cd "$2" && pwd)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

programs=()
if [[ -d third_party_samples ]]; then
  while IFS= read -r -d '' f; do programs+=("$f"); done \
    < <(find -L third_party_samples -type f \( -name '*.exe' -o -name '*.e32' \) -print0 | sort -z)
fi
if ((large)); then
  "$new/make_sample" --size-mb 40 "$work/sample76_40mb.exe" >/dev/null
  "$new/make_sample" --layout 88 --size-mb 40 "$work/sample88_40mb.exe" >/dev/null
  programs+=("$work/sample76_40mb.exe" "$work/sample88_40mb.exe")
fi

# Runs the build in $1 on program $2 and prints one digest line per output.
digest() {
  local bin=$1 program=$2
  local run="$work/run"
  rm -rf "$run"
  mkdir -p "$run/out/forms"
  local input="$run/$(basename "$program")"
  cp "$program" "$input"
  # The build's own kernel library, whatever path the programs were linked with.
  export LD_LIBRARY_PATH="$bin"
  (cd "$run" && "$bin/pehost" --start 0 --log yes --db out/db.json --json out/database.json \
    --listing out/listing.txt --classes out/classes.json --report out/report.md \
    --forms out/forms --c-header out/types.h --ida-script out/ida.py --ghidra-script out/ghidra.py "$input" \
    >out/window.txt 2>out/errors.txt) || echo "exit status $?" >"$run/out/status.txt"
  (cd "$run" && "$bin/pehost" --plugin lumisk --start 0 --log no "$input" \
    >out/finder_window.txt 2>out/finder_errors.txt) || echo "exit status $?" >>"$run/out/status.txt"
  mv "$run"/*_classes.log "$run/out/" 2>/dev/null || true
  # The scripts name the plug-in's path and the time of the run.
  sed -i '/^# Run: /d' "$run/out/ida.py" "$run/out/ghidra.py" 2>/dev/null || true
  (cd "$run/out" && find . -type f -print0 | sort -z | xargs -0 sha256sum)
}

status=0
for p in "${programs[@]}"; do
  digest "$old" "$p" >"$work/old.sums"
  digest "$new" "$p" >"$work/new.sums"
  if diff -q "$work/old.sums" "$work/new.sums" >/dev/null; then
    echo "same: $p ($(wc -l <"$work/new.sums") outputs)"
  else
    echo "DIFFERENT: $p" >&2
    diff "$work/old.sums" "$work/new.sums" | sed 's/^/  /' >&2 || true
    status=1
  fi
done
exit $status
