#!/bin/bash
# Half a minute of fuzzing per target (FUZZ_SECONDS to change it); fails on any
# finding. See fuzz_long.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
exec bash scripts/fuzz_long.sh --time "${FUZZ_SECONDS:-30}"
