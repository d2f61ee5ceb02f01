// zantu-solver: reads mining jobs on standard input and writes candidate solutions.
#include "solver/solver_loop.h"

int main(int argc, char** argv) {
    return solver_main(argc, argv);
}
