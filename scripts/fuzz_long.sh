#!/usr/bin/env bash
# Runs every fuzz target for a long time: SECONDS each (default 3600, so
# about six hours in all), one after another, each going on from what the
# earlier runs found (build-fuzz/corpus/). For a night or a weekend:
#
#   scripts/fuzz_long.sh [SECONDS] [TARGET...]
#   VEXIL_FUZZ_RUNS=10000000 scripts/fuzz_long.sh 7200   (ten million each)
#
# Findings are kept in build-fuzz/findings/ (see scripts/fuzz.sh).
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
seconds=${1:-3600}
shift || true
exec bash scripts/fuzz.sh "$seconds" "$@"
