#include "solver/options.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "solver/settings.h"

void print_usage() {
    std::printf("\n"
                "------------------------------------------------------\n"
                "Zantu Solver v2.2 + Nebrix\n"
                "Usage: zantu-solver [options]\n"
                "------------------------------------------------------\n"
                "  A standalone cli [ZantuHash v2.2 + Nebrix] solver.\n"
                "  Send mining jobs to stdin and read candidate submits from stdout\n"
                "\n"
                "Options are:\n"
                "  -h, --help         display this help and exit\n"
                "  --cpu <id>         use CPU thread <id> in nonce (min 0, max 254)\n"
                "\n");
}

int32_t parse_number_arg(const char* text) {
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 0);
    if (end == text || *end != 0) exit_with_error("'%s' is not a valid number\n", text);
    return static_cast<int32_t>(static_cast<uint32_t>(value));
}

OptionAction parse_options(int argc, char** argv) {
    int i = 1;
    while (i < argc) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0)
            return OptionAction::show_usage;
        if (std::strcmp(arg, "-c") == 0 || std::strcmp(arg, "--cpu") == 0) {
            // A trailing "--cpu" without a value is ignored.
            if (i + 1 >= argc) break;
            cpu_id = parse_number_arg(argv[i + 1]);
            i += 2;
            continue;
        }
        if (std::strcmp(arg, "-v") == 0 || std::strcmp(arg, "--verbose") == 0)
            verbose = 1;
        else if (std::strcmp(arg, "-m") == 0 || std::strcmp(arg, "--monitor") == 0)
            monitor = 1;
        ++i;
    }
    return OptionAction::start_solver;
}
