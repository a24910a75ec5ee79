// Runs the whole program, as main() would, on a given host platform, and collects what it printed.
#pragma once

#include <string>
#include <vector>

#include "tests/support/fake_platform.h"

namespace torvik::testing {

struct ProgramRun {
    int status = 0;
    std::string out;
    std::string err;
};

// args are the arguments after the program name; typed is what standard input holds.
ProgramRun run_whole_program(FakePlatform& host, std::vector<const char*> args,
                             const std::string& typed = "");

}  // namespace torvik::testing
