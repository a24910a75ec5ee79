// The program's name, and the messages on standard error that begin with it.
#pragma once

#include <cstdarg>
#include <cstdio>

namespace torvik {

inline constexpr const char* kProgramName = "torvik_usb_pssd_flash_id";

// Writes "<program name>: " and the formatted text, which brings its own line end, on out; nothing
// when out is nullptr (a run that says nothing on standard error).
void print_message(std::FILE* out, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Flushes out; true when everything written to it so far reached its destination (no write or
// flush error; a closed pipe or a full disk is one).
bool flushed_cleanly(std::FILE* out);

void vprint_message(std::FILE* out, const char* format, std::va_list args)
    __attribute__((format(printf, 2, 0)));

// Writes text on out and flushes it. False, with "writing the output failed: why" on err, when
// not all of it got through (a full disk, a file-size limit, a closed pipe).
bool write_whole_output(std::FILE* out, const char* text, std::FILE* err);

}  // namespace torvik
