// How the report writes: report lines go to the console and then to the report file when it is
// open.
#pragma once

#include "platform/output_file.h"
#include "report/report_context.h"

namespace torvik {

// Prints one formatted report line (printf rules) to the console, then to the report file.
void report_printf(ReportContext& ctx, const char* format, ...);

// Prints already formatted text to the console, then to the report file.
void report_text(ReportContext& ctx, const char* text);

}  // namespace torvik
