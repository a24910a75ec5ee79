// The platform of the machine the tool runs on: Windows or Linux, chosen at build time.
#pragma once

#include <cstdio>
#include <memory>

#include "platform/platform.h"

namespace torvik {

std::unique_ptr<Platform> make_host_platform();

// A short name of the platform the tool was built for, for --version and the JSON report.
const char* host_platform_name();

// The null device, for output nobody wants (the report's lines under --brief).
#ifdef _WIN32
inline constexpr char kNullDevice[] = "NUL";
#else
inline constexpr char kNullDevice[] = "/dev/null";
#endif

// Whether this process runs as root (Linux) or as an elevated administrator (Windows).
bool process_runs_privileged();

// Opens each standard stream (input, output, error) that is closed at start onto the null device,
// before anything else is opened: otherwise the next file the tool opens takes its number and
// receives the console's text. output_closed, when given, tells whether standard output was one
// of them (what is written there now reaches nobody). False when that cannot be done.
bool open_missing_standard_streams(bool* output_closed = nullptr);

// The name of the kernel's pseudo file system (proc, sysfs, ...) that holds path, whose files look
// regular but are the kernel's interfaces, not data; nullptr when it is on an ordinary one or
// cannot be told. Windows has none.
const char* pseudo_file_system(const char* path);

// Whether the stream is a terminal, where a person types and waits for each answer.
bool is_terminal(std::FILE* stream);

// Whether the stream is a terminal that shows ANSI colour escapes. On Windows the console's
// virtual-terminal mode is switched on for it when the console has one.
bool terminal_shows_colour(std::FILE* stream);

}  // namespace torvik
