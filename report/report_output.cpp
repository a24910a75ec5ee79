#include "report/report_output.h"

#include <cstdarg>
#include <cstdio>

namespace torvik {

void report_text(ReportContext& ctx, const char* text) {
    std::fputs(text, ctx.console);
    if (ctx.report_file != nullptr)
        ctx.report_file->print(text);
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

FileResult write_whole_file(FileStore& files, std::FILE* console, const char* name,
                            const void* data, std::size_t length, FileKind kind) {
    OutputFile file(files, name, kind);
    file.write(data, length);
    const FileResult result = file.commit();
    if (result.outcome == FileOutcome::not_created) {
        std::fprintf(console, "%s: Create File Error\n", name);
    } else if (result.outcome == FileOutcome::write_failed) {
        std::fprintf(console, "%s: Write File Error\n", name);
    }
    return result;
}

}  // namespace

FileResult write_dump(FileStore& files, std::FILE* console, const char* name,
                      const std::uint8_t* data, std::size_t length) {
    return write_whole_file(files, console, name, data, length, FileKind::binary);
}

FileResult write_text_file(FileStore& files, std::FILE* console, const char* name,
                           const std::string& text) {
    return write_whole_file(files, console, name, text.data(), text.size(), FileKind::text);
}

}  // namespace torvik
