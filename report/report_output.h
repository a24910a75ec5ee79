// How the report writes: report lines go to the console and then to the report file when it is
// open; dumps are binary files in the output folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/output_file.h"
#include "report/report_context.h"

namespace torvik {

// Prints one formatted report line (printf rules) to the console, then to the report file.
void report_printf(ReportContext& ctx, const char* format, ...);

// Prints already formatted text to the console, then to the report file.
void report_text(ReportContext& ctx, const char* text);

// Writes `length` bytes of data to the dump file `name`. A file that cannot be created (or put in
// place under its name) prints "<name>: Create File Error" on the console only, one that cannot
// be written "<name>: Write File Error"; the caller goes on either way.
FileResult write_dump(FileStore& files, std::FILE* console, const char* name,
                      const std::uint8_t* data, std::size_t length);

// Writes a whole text file (CRLF line ends on Windows), with the same messages.
FileResult write_text_file(FileStore& files, std::FILE* console, const char* name,
                           const std::string& text);

}  // namespace torvik
