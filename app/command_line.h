// The command line: options anywhere, and the drive argument.
//
// Every argument that begins with "--", and the short forms -h, -?, /? and -V, is an option
// wherever it stands; so is any other dash followed by a letter, which is then an unknown one,
// unless its letters are only the drive argument's own (y, b: "-y", "-by"). An option's value is
// the next argument or follows '=' ("--replay DIR", "--replay=DIR"); an empty value is an error.
// --sim takes the next argument as its profile unless it looks like a drive argument ("--sim hot
// 0y", "--sim 0y"). The first other argument is the drive argument (drive number and option
// letters), or, when it is a path ("/dev/sdb", "\\.\PhysicalDrive2"), the drive's OS path as
// --device gives it, and then the next one holds the option letters; later ones are ignored.
// "--decode" takes the arguments after it up to the next option; after "--" no argument is an
// option.
#pragma once

#include <string>

#include "app/options.h"

namespace torvik {

CommandLine parse_command_line(int argc, const char* const* argv);

// The one-line usage shown with a bad option, and the whole text of --help.
const char* usage_line();
std::string usage_text();

// A bash completion script for the program, made from the option tables and the simulated drives.
std::string bash_completion_script();

}  // namespace torvik
