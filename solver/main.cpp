// zantu-solver: reads mining jobs on standard input and writes candidate solutions.
#include "crypto/cpu_dispatch.h"
#include "crypto/haraka.h"
#include "solver/options.h"
#include "solver/settings.h"
#include "solver/solver_loop.h"

// start_solver loads the hash constants, probes the processor for the batch size and runs
// the main loop until "quit".
static void start_solver() {
    load_haraka_constants();
    batch_size = probe_fast_hash_support() == 1 ? 0x200000 : 0x80000;
    solver_loop(batch_size);
}

int main(int argc, char** argv) {
    if (parse_options(argc, argv) == OptionAction::show_usage) {
        print_usage();
        return 0;
    }
    start_solver();
    return 0;
}
