#include "solver/settings.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

int32_t cpu_id = 0;
int verbose = 0;
int monitor = 0;
uint64_t batch_size = 0;
CZantuHashV2* active_hasher = nullptr;

void exit_with_error(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::exit(1);
}
