#include "app/program_message.h"

#include <cerrno>
#include <cstring>

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

bool write_whole_output(std::FILE* out, const char* text, std::FILE* err) {
    errno = 0;
    // A text longer than the stream's buffer is written, and may fail, before the flush.
    int error = std::fputs(text, out) < 0 ? errno : 0;
    if (std::fflush(out) != 0 && error == 0)
        error = errno;
    if (error == 0 && std::ferror(out) == 0)
        return true;
    if (err != nullptr)
        print_message(err, "writing the output failed: %s\n",
                      error != 0 ? std::strerror(error) : "write error");
    return false;
}

}  // namespace torvik
