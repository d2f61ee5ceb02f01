#!/usr/bin/env bash
# Feeds the sample job to the solver for about ten seconds, then asks it to quit.
# Solution lines carry 2,694 hex digits of solution; the terminal gets their start and
# their end, where the nonce is.
# Usage: examples/run-sample.sh [path/to/zantu-solver]   (RUN_SECONDS changes the wait)
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
solver="${1:-$here/../build/solver/zantu-solver}"
seconds="${RUN_SECONDS:-10}"
# Checked here: once the solver runs, a failed sleep would only end its input, which does not
# stop it.
case "$seconds" in
*[!0-9]*)
    echo "RUN_SECONDS must be a whole number of seconds (0 or more), not '$seconds'" >&2
    exit 2
    ;;
esac
if [ ! -x "$solver" ]; then
    echo "no solver at $solver: build it first (make build) or pass its path" >&2
    exit 1
fi

{
    cat "$here/sample-job.txt"
    sleep "$seconds"
    echo quit
} | "$solver" | awk '
    /^sol: / {
        shown++
        if (shown <= 8) print substr($0, 1, 110) "..." substr($0, length($0) - 11)
        else if (shown == 9) print "(further solution lines are counted, not shown)"
        fflush()
        next
    }
    { print; fflush() }
    END { print shown + 0 " solution lines in all" }
'
