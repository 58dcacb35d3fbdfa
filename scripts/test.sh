#!/usr/bin/env bash
# Installs what is needed, then builds Vexil and runs every test twice: in the
# normal build (build/) and in a build with AddressSanitizer and
# UndefinedBehaviorSanitizer (build-sanitize/); then runs each fuzz target for
# a short fixed time (scripts/fuzz.sh). Exits non-zero if any step fails.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1

# No test may pass by skipping because a tool is missing.
export VEXIL_REQUIRE_ALL=1

ctest_runs=0
total_passed=0
total_failed=0
status=0
results=()

# run_ctest DIR LABEL: runs the tests of one build, adds its counts to the totals.
run_ctest() {
  local dir=$1 label=$2 log="$1/ctest-output.log"
  ctest --test-dir "$dir" --output-on-failure --no-tests=error -j2 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  ctest_runs=$((ctest_runs + 1))
  local line failed total
  line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  if [[ -n "$line" ]]; then
    failed=$(sed -E 's/.* ([0-9]+) tests? failed out of.*/\1/' <<<"$line")
    total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
    total_passed=$((total_passed + total - failed))
    total_failed=$((total_failed + failed))
    results+=("$label: $((total - failed)) of $total passed")
  else
    results+=("$label: ctest gave no result (exit code $rc)")
  fi
  if [[ $rc -ne 0 ]]; then
    status=1
  fi
}

# build DIR LABEL [CMAKE ARGS...]: configures and builds; false on failure.
build() {
  local dir=$1 label=$2
  shift 2
  if cmake -S . -B "$dir" -DBUILD_TESTING=ON "$@" && cmake --build "$dir" -j2; then
    return 0
  fi
  results+=("$label: BUILD FAILED")
  status=1
  return 1
}

if ! bash scripts/install-deps.sh; then
  echo "test.sh: installing dependencies failed"
  exit 1
fi

if build build "normal build" -DVEXIL_WERROR=ON; then
  run_ctest build "normal build"
fi

# LeakSanitizer works in this environment (checked: a leaking test program is
# reported), so leaks are detected. allocator_may_return_null lets the
# program see a failed allocation instead of ASan aborting.
export ASAN_OPTIONS=allocator_may_return_null=1:detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# The sanitizer build uses clang, so that both supported compilers build the
# project warning-free on every run (the normal build uses the default g++).
if build build-sanitize "sanitizer build (clang)" -DVEXIL_SANITIZE=ON -DVEXIL_WERROR=ON -DCMAKE_CXX_COMPILER=clang++; then
  run_ctest build-sanitize "sanitizer build (clang)"
fi

# The fuzz targets (clang, libFuzzer, in build-fuzz/): each runs 25 s from
# its seeds, so a change that makes one of them crash fails here.
if bash scripts/fuzz.sh 25; then
  results+=("fuzz targets: no finding")
else
  results+=("fuzz targets: FAILED (see build-fuzz/findings/)")
  status=1
fi

echo
for r in "${results[@]}"; do
  echo "test.sh: $r"
done
if [[ $ctest_runs -gt 0 ]]; then
  echo "summary: $total_passed passed, $total_failed failed"
fi
if [[ $status -ne 0 ]]; then
  echo "test.sh: FAILED"
else
  echo "test.sh: all builds and tests passed"
fi
exit $status
