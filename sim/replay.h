// A drive recorded as the tool's own dump files: each command is answered by the file that bears
// the dump name the tool writes for it.
#pragma once

#include <string>
#include <vector>

#include "sim/profiles.h"

namespace torvik {

// The error code a command gets when its file is missing (ERROR_FILE_NOT_FOUND).
inline constexpr std::uint32_t kReplayMissingFileError = 2;

// Reads every dump file of dir. A regular file answers its command with its bytes (cut to the
// command's length; a shorter file is a drive that sent less); a missing file fails the command
// with kReplayMissingFileError, and so does anything else under a dump name (a symbolic link, a
// FIFO, a directory, a device), with a line in notes when given. The vendor and product texts
// come from the INQUIRY file. False, with a message in error, when dir does not exist or is not a
// directory, or a dump file cannot be read.
bool load_replay(const std::string& dir, SimProfileData& data, std::string& error,
                 std::vector<std::string>* notes = nullptr);

}  // namespace torvik
