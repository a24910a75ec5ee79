#include "app/program_message.h"

namespace torvik {

void print_message(std::FILE* out, const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    vprint_message(out, format, args);
    va_end(args);
}

bool flushed_cleanly(std::FILE* out) {
    return std::fflush(out) == 0 && std::ferror(out) == 0;
}

void vprint_message(std::FILE* out, const char* format, std::va_list args) {
    if (out == nullptr)
        return;
    std::fprintf(out, "%s: ", kProgramName);
    std::vfprintf(out, format, args);
}

}  // namespace torvik
