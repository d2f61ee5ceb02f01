#include "solver/settings.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

void flush_protocol_output() {
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return;
    const int error = errno;
    std::fprintf(stderr, "cannot write to standard output (%s): exiting\n", std::strerror(error));
    // No normal exit: the reader thread may hold standard input's lock, and standard output's
    // buffer can go nowhere.
    std::_Exit(1);
}
