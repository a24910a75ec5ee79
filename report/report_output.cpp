#include "report/report_output.h"

#include <cstdarg>
#include <cstdio>

namespace torvik {

void report_text(ReportContext& ctx, const char* text) {
    std::fputs(text, ctx.console);
    if (ctx.report_file != nullptr)
        std::fputs(text, ctx.report_file);
}

void report_printf(ReportContext& ctx, const char* format, ...) {
    char line[1024];
    std::va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    report_text(ctx, line);
}

namespace {

FileOutcome write_file(Platform& platform, std::FILE* console, const char* name, const char* mode,
                       const void* data, std::size_t length) {
    std::FILE* file = platform.create_file(name, mode);
    if (file == nullptr) {
        std::fprintf(console, "%s: Create File Error\n", name);
        return FileOutcome::not_created;
    }
    // Data still buffered when the file is closed counts as written only if the close succeeds.
    const bool written = std::fwrite(data, 1, length, file) == length;
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        std::fprintf(console, "%s: Write File Error\n", name);
        return FileOutcome::write_failed;
    }
    return FileOutcome::written;
}

}  // namespace

FileOutcome write_dump(Platform& platform, std::FILE* console, const char* name,
                       const std::uint8_t* data, std::size_t length) {
    return write_file(platform, console, name, "w+b", data, length);
}

FileOutcome write_text_file(Platform& platform, std::FILE* console, const char* name,
                            const std::string& text) {
    return write_file(platform, console, name, "w", text.data(), text.size());
}

}  // namespace torvik
