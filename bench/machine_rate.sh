#!/usr/bin/env bash
# The whole machine's hash rate as miners run the solver: one process per core, all hashing
# the sample job at once, for each nonce path in turn; the rate of a run is the sum of the
# processes' status-line rates (the first status period, warm-up, left out). Prints every
# run and the median per path.
# Usage: bench/machine_rate.sh BUILD_DIR [SECONDS_PER_RUN] [ROUNDS] [PATHS...]
set -euo pipefail

build=${1:?usage: machine_rate.sh BUILD_DIR [SECONDS] [ROUNDS] [PATHS...]}
seconds=${2:-12}
rounds=${3:-3}
shift $(( $# < 3 ? $# : 3 ))
paths=("$@")
[ ${#paths[@]} -gt 0 ] || paths=(native flight flight128 lanes)
here="$(cd "$(dirname "$0")" && pwd)"
solver="$build/bench/zantu_forced_solver"
job="$here/../examples/sample-job.txt"
cores=$(nproc)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# rate FILE: hashes per second over the status periods after the first.
rate() {
    awk '/^status: / { n++; if (n > 1) { k += $3; ms += $5 } }
         END { if (ms > 0) printf "%.0f", k * 1000 * 1000 / ms; else print 0 }' "$1"
}

declare -A runs
for round in $(seq "$rounds"); do
    for path in "${paths[@]}"; do
        if ! "$solver" "$path" --help >/dev/null 2>&1; then
            echo "$path: not available on this processor"
            continue
        fi
        for c in $(seq 0 $((cores - 1))); do
            { cat "$job"; sleep "$seconds"; echo quit; } |
                "$solver" "$path" --cpu "$c" >"$work/$path.$c" &
        done
        wait
        total=0
        each=""
        for c in $(seq 0 $((cores - 1))); do
            r=$(rate "$work/$path.$c")
            total=$((total + r))
            each="$each $r"
        done
        runs[$path]="${runs[$path]:-} $total"
        printf 'round %d  %-9s %2d processes: %10d hashes/s in all  (each:%s)\n' \
            "$round" "$path" "$cores" "$total" "$each"
    done
done
for path in "${paths[@]}"; do
    [ -n "${runs[$path]:-}" ] || continue
    median=$(tr ' ' '\n' <<<"${runs[$path]}" | grep . | sort -n |
        awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }')
    printf '%-9s median of %d runs: %.0f hashes/s with %d processes\n' "$path" \
        "$(wc -w <<<"${runs[$path]}")" "$median" "$cores"
done
