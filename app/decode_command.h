// The --decode extension: describes flash IDs typed on the command line or read from a stream,
// without any drive.
#pragma once

#include <cstdio>

namespace torvik {

// args are the arguments after "--decode". Either 6 to 8 hex bytes (with or without 0x,
// separated by spaces and/or commas, in one argument or several), or a single "-": then every
// line of in holds one ID and gets exactly one line on out, its description, empty for an
// unknown maker or a bad line. Messages go to err. Returns the process exit status.
// Every write to out is checked, the last one by flushing out: a failure stops the command with a
// message on err and status 1. A line of more than 4096 bytes is reported as bad and skipped.
// Lines are read and answered in blocks; line_at_a_time answers each line as soon as it is read,
// for a person typing IDs at a terminal.
int run_decode_command(int argc, const char* const* argv, std::FILE* in, std::FILE* out,
                       std::FILE* err, bool line_at_a_time = false);

// Closes out (standard output, after run_decode_command) and checks that: a failure to close is
// a failed output, reported on err unless status already tells of a failure. Returns the exit
// status.
int close_decode_output(std::FILE* out, std::FILE* err, int status);

}  // namespace torvik
