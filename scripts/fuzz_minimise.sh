#!/bin/bash
# Folds what the fuzz runs grew (build-fuzz/fuzz-corpus/TARGET) into the
# committed corpus fuzz/corpus/TARGET, minimised: the fewest inputs that reach
# the coverage the seeds and the regression inputs do not reach already. Run
# after scripts/fuzz_long.sh, which builds the targets.
#
#   scripts/fuzz_minimise.sh [TARGET...]      (all targets by default)
set -euo pipefail
shopt -s nullglob
cd "$(dirname "$0")/.."

targets=("$@")
((${#targets[@]})) || targets=(pe_loader finder_scan process_group pehost_path pehost_db form_reader calculator)

for t in "${targets[@]}"; do
  bin=build-fuzz/bin/fuzz_$t
  grown=build-fuzz/fuzz-corpus/$t
  if [[ ! -x $bin || ! -d $grown ]]; then
    echo "fuzz_$t: nothing grown to fold in" >&2
    continue
  fi
  work=$(mktemp -d)
  known=("fuzz/seeds/$t")
  [[ -d fuzz/regressions/$t ]] && known+=("fuzz/regressions/$t")
  candidates=("$grown")
  [[ -d fuzz/corpus/$t ]] && candidates+=("fuzz/corpus/$t")
  mkdir "$work/merged"
  options=(-merge=1 -use_counters=0 -timeout=30 -rss_limit_mb=4096)
  # The merged folder first takes what the seeds and regressions reach; the
  # inputs the second merge adds are the corpus.
  "$bin" "${options[@]}" "$work/merged" "${known[@]}" >"$work/log" 2>&1 ||
    { tail -n 20 "$work/log" >&2; exit 1; }
  ls "$work/merged" >"$work/known"
  "$bin" "${options[@]}" "$work/merged" "${candidates[@]}" >"$work/log" 2>&1 ||
    { tail -n 20 "$work/log" >&2; exit 1; }
  rm -rf "fuzz/corpus/$t"
  mkdir -p "fuzz/corpus/$t"
  for f in "$work"/merged/*; do
    grep -qxF "$(basename "$f")" "$work/known" || cp "$f" "fuzz/corpus/$t/"
  done
  echo "fuzz_$t: $(ls "fuzz/corpus/$t" | wc -l) inputs, $(du -sk "fuzz/corpus/$t" | cut -f1) KB"
  rm -rf "$work"
done
