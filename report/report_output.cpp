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

}  // namespace torvik
