#!/usr/bin/env bash
# Runs every fuzz target, one after the other, for a bounded time each and prints its
# executions and coverage. Exits non-zero if any target finds a crash, a leak, a timeout or
# a broken property; the reproducer is left under BUILD_DIR/fuzz-artifacts/.
#
# Usage: run_fuzzers.sh BUILD_DIR SECONDS [TARGET...]
# New corpus entries go to BUILD_DIR/fuzz-corpus/TARGET, so the seeds in fuzz/corpus/ stay
# as they are and later runs carry on from earlier ones.
set -u
build=${1:?usage: run_fuzzers.sh BUILD_DIR SECONDS [TARGET...]}
seconds=${2:?usage: run_fuzzers.sh BUILD_DIR SECONDS [TARGET...]}
shift 2
here=$(cd "$(dirname "$0")" && pwd)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(job_line_fuzzer hash_forms_fuzzer)

max_len() {
    case $1 in
    job_line_fuzzer) echo 4096 ;; # a full job line is about 3000 bytes
    *) echo 1024 ;;
    esac
}

status=0 passed=0 failed=0 skipped=0
for target in "${targets[@]}"; do
    bin=$build/fuzz/$target
    name=${target%_fuzzer}
    seeds=$here/corpus/$name
    work=$build/fuzz-corpus/$name
    artifacts=$build/fuzz-artifacts
    log=$build/fuzz-logs/$name.log
    mkdir -p "$work" "$artifacts" "$(dirname "$log")"
    if [ ! -x "$bin" ]; then
        echo "$target: not built ($bin)"
        status=1 failed=$((failed + 1))
        continue
    fi
    args=(-max_total_time="$seconds" -max_len="$(max_len "$target")" -timeout=10
          -print_final_stats=1 -artifact_prefix="$artifacts/$name-")
    [ -f "$here/$name.dict" ] && args+=(-dict="$here/$name.dict")
    echo "== $target for ${seconds}s"
    "$bin" "${args[@]}" "$work" "$seeds" >"$log" 2>&1
    rc=$?
    if grep -q 'on this processor; skipped' "$log" && [ $rc -eq 0 ] && ! grep -q 'stat::number_of_executed_units' "$log"; then
        grep 'on this processor; skipped' "$log"
        skipped=$((skipped + 1))
        continue
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    last=$(grep -E '^#[0-9]+.*cov: ' "$log" | tail -n 1)
    cov=$(sed -n 's/.*cov: \([0-9]*\).*/\1/p' <<<"$last")
    ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
    corp=$(sed -n 's/.* corp: \([0-9]*\/[0-9A-Za-z]*\).*/\1/p' <<<"$last")
    echo "$target: ${runs:-?} executions (${rate:-?}/s), coverage ${cov:-?} edges, ${ft:-?} features, corpus ${corp:-?}"
    if [ $rc -ne 0 ]; then
        echo "$target: FAILED (exit $rc); log $log"
        grep -E 'ERROR|runtime error|differ|broken|SUMMARY|Test unit written' "$log" | head -n 20
        status=1 failed=$((failed + 1))
    else
        passed=$((passed + 1))
    fi
done
echo "fuzz: $passed passed, $failed failed, $skipped skipped"
exit $status
