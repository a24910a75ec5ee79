// How the report writes: report lines go to the console and then to the report file when it is
// open; dumps are binary files in the current directory.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/output_file.h"
#include "report/drive_report.h"

namespace torvik {

// Prints one formatted report line (printf rules) to the console, then to the report file.
void report_printf(ReportContext& ctx, const char* format, ...);

// Prints already formatted text to the console, then to the report file.
void report_text(ReportContext& ctx, const char* text);

// Writes a whole file at once. A file that cannot be created (or put in place under its name)
// prints "<name>: Create File Error" on the console, one that cannot be written "<name>: Write
// File Error"; the caller goes on either way.
FileResult write_whole_file(Platform& platform, std::FILE* console, const char* name,
                            const void* data, std::size_t length, FileKind kind);

// Writes `length` bytes of data to the dump file `name`. A file that cannot be created (or put in
// place) or written gets its message on the console only; the caller goes on either way.
FileResult write_dump(Platform& platform, std::FILE* console, const char* name,
                      const std::uint8_t* data, std::size_t length);

}  // namespace torvik
