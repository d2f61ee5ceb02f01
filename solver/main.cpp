// zantu-solver: reads mining jobs on standard input and writes candidate solutions.
#include "solver/options.h"
#include "solver/solver_loop.h"

int main(int argc, char** argv) {
    if (parse_options(argc, argv) == OptionAction::show_usage) {
        print_usage();
        return 0;
    }
    start_solver();
    return 0;
}
