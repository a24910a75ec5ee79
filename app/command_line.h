// The extensions of the command line: leading arguments that begin with "--". After them, the
// next argument plays the role of the first argument (drive number and option letters).
#pragma once

#include <string>

namespace torvik {

enum class Mode {
    run,  // examine a drive (a real one, or a simulated or replayed one)
    help,
    version,
    decode,    // --decode: the arguments after it are flash ID bytes
    sim_list,  // --sim=list
    error,     // a bad extension argument; message holds why
};

struct CommandLine {
    Mode mode = Mode::run;
    bool sim = false;
    std::string sim_profile;  // empty: the default profile
    bool replay = false;
    std::string replay_dir;
    bool json = false;
    bool health = false;
    bool html = false;
    int next = 1;                     // index of the first argument after the extensions
    const char* first_arg = nullptr;  // drive number and letters, or nullptr for the prompt
    std::string message;
};

CommandLine parse_command_line(int argc, const char* const* argv);

// The usage text of --help.
const char* usage_text();

}  // namespace torvik
