#!/usr/bin/env bash
# Runs the front end's tests and the stress tests from a ThreadSanitizer build. The tests
# drive the instrumented solver binary, so its reader thread, line_ready and the line
# hand-over run under the race detector. Every report, from a test or from a solver child,
# goes to a log file; any such file fails the run even when the test itself passed.
#
# Usage: run_tsan_tests.sh BUILD_DIR
set -u
build=${1:?usage: run_tsan_tests.sh BUILD_DIR}
logs=$build/tsan-reports
rm -rf "$logs"
mkdir -p "$logs"
export TSAN_OPTIONS="log_path=$(cd "$logs" && pwd)/report second_deadlock_stack=1 ${TSAN_OPTIONS:-}"

# Binary and gtest filter. Left out: the count of the solver's threads after end of input
# meets the runtime's own thread. (Tests that need user-mode emulation skip themselves.)
suites=(
    "tests/solver/zantu_solver_unit_tests|*"
    "tests/solver/zantu_solver_protocol_tests|-*HashingGoesOnAtFullSpeedAfterEndOfInput*"
    "tests/stress/zantu_stress_tests|*"
)

passed=0 failed=0 status=0
for entry in "${suites[@]}"; do
    bin=$build/${entry%%|*}
    filter=${entry#*|}
    if [ ! -x "$bin" ]; then
        echo "missing $bin"
        status=1
        continue
    fi
    echo "== $(basename "$bin") under ThreadSanitizer"
    out=$("$bin" --gtest_filter="$filter" 2>&1)
    rc=$?
    echo "$out" | grep -E '^\[ +(OK|FAILED|SKIPPED) +\]|Failure|Expected|Which is|Actual' || true
    p=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) test.*/\1/p' <<<"$out")
    f=$(sed -n 's/^\[  FAILED  \] \([0-9]*\) test.*/\1/p' <<<"$out")
    passed=$((passed + ${p:-0}))
    failed=$((failed + ${f:-0}))
    if [ $rc -ne 0 ]; then
        status=1
        [ -n "$f" ] || failed=$((failed + 1))
    fi
done

reports=$(find "$logs" -type f | wc -l)
if [ "$reports" -gt 0 ]; then
    echo "ThreadSanitizer wrote $reports report(s) under $logs:"
    grep -h -A12 'WARNING: ThreadSanitizer' "$logs"/* | head -n 60
    status=1
fi
echo "tsan: $passed passed, $failed failed"
exit $status
