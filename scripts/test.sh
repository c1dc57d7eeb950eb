#!/bin/bash
# Checks that the tracked C++ sources follow .clang-format, builds everything
# twice (plain, and with AddressSanitizer and UndefinedBehaviorSanitizer) and
# runs every test in both builds, then gives every fuzz target half a minute
# (FUZZ_SECONDS) from its seeds.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
# Real programs for the tests that use them; without a network those tests
# are skipped with a message.
bash scripts/fetch_real_programs.sh 2>/dev/null ||
  echo "Real Delphi programs could not be fetched; their tests will be skipped." >&2

echo "== formatting" >&2
git ls-files -z '*.cc' '*.h' | xargs -0 clang-format --dry-run -Werror ||
  { echo "Run clang-format -i on the files above." >&2; exit 1; }

jobs=$(nproc)
run_build() {
  local dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" -j "$jobs" >"$dir.log" 2>&1 || { cat "$dir.log" >&2; return 1; }
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 600 >"$dir.ctest.log" 2>&1 \
    || { cat "$dir.ctest.log" >&2; return 1; }
  grep -E "tests passed" "$dir.ctest.log" >&2 || true
}

echo "== plain build" >&2
run_build build
echo "== sanitizer build" >&2
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  run_build build-asan -DSANITIZE=ON -DBUILD_BENCHMARKS=OFF
echo "== fuzz smoke run" >&2
bash scripts/fuzz_smoke.sh >build-fuzz.log 2>&1 || { cat build-fuzz.log >&2; exit 1; }
grep -E "^fuzz_.*executions" build-fuzz.log >&2 || true
