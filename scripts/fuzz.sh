#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer, in build-fuzz/) and runs each for a fixed time
# from its seeds in tests/fuzz/corpus/<target>/. Exits non-zero when the
# build fails or any target finds a crash, a leak, a timeout or runs out of
# memory; the input that did it is kept in build-fuzz/findings/.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]
#
# SECONDS per target (default 25); with VEXIL_FUZZ_RUNS=N a target stops
# after N executions when that comes first. TARGETs: names such as template_fuzz
# (default: every tests/fuzz/*_fuzz.cpp). The inputs a run finds go to
# build-fuzz/corpus/<target>/, which later runs start from too; the seeds in
# the tree are only read. To keep a finding as a regression seed, copy it
# into tests/fuzz/corpus/<target>/.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1

seconds=${1:-25}
shift || true
build=${VEXIL_FUZZ_BUILD:-build-fuzz}
# Absolute: the template target works in a folder of its own.
mkdir -p "$build" && build=$(cd "$build" && pwd)

if ! cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DVEXIL_FUZZ=ON -DBUILD_TESTING=OFF \
     -DVEXIL_WERROR=ON >/dev/null || ! cmake --build "$build" -j2 --target fuzz_targets; then
  echo "fuzz.sh: BUILD FAILED"
  exit 1
fi

targets=("$@")
if [[ ${#targets[@]} -eq 0 ]]; then
  for source in tests/fuzz/*_fuzz.cpp; do
    targets+=("$(basename "$source" .cpp)")
  done
fi

export ASAN_OPTIONS=allocator_may_return_null=1:detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

status=0
results=()
mkdir -p "$build/findings"
for target in "${targets[@]}"; do
  binary="$build/tests/fuzz/$target"
  seeds="$PWD/tests/fuzz/corpus/${target%_fuzz}"
  work="$build/corpus/$target"
  log="$build/findings/$target.log"
  mkdir -p "$work"
  if [[ ! -x "$binary" ]]; then
    results+=("$target: no such target")
    status=1
    continue
  fi
  echo "fuzz.sh: $target for ${seconds}s"
  "$binary" "$work" "$seeds" -max_total_time="$seconds" ${VEXIL_FUZZ_RUNS:+-runs="$VEXIL_FUZZ_RUNS"} \
    -timeout=10 -rss_limit_mb=2560 \
    -print_final_stats=1 -artifact_prefix="$build/findings/$target-" >"$log" 2>&1
  rc=$?
  runs=$(grep -E '^stat::number_of_executed_units:' "$log" | awk '{print $2}')
  if [[ $rc -ne 0 ]]; then
    status=1
    results+=("$target: FAILED (exit code $rc, ${runs:-?} runs): see $log")
    grep -E '^(==[0-9]+==ERROR|SUMMARY|.*runtime error|artifact_prefix|Test unit written)' "$log" | head -n 8
  else
    time=$(grep -E '^stat::.*time|^Done [0-9]+ runs in' "$log" | grep -oE 'in [0-9]+ second' | head -n 1)
    results+=("$target: ${runs:-?} runs ${time:+$time(s) }(limit ${seconds}s), no finding")
  fi
done

for r in "${results[@]}"; do
  echo "fuzz.sh: $r"
done
exit $status
