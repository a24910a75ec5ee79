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
// come from the INQUIRY file.
//
// The run's time is the manifest's, or unknown when dir holds no manifest or one without a time.
//
// When dir holds the run's manifest, each command is answered as that run saw it instead: a
// command that failed fails with its recorded code, one that ended with CHECK CONDITION does so
// again after the same bytes, one that was not sent fails as missing, and only the dumps the
// run wrote are used. A dump whose length or checksum differs from the manifest's counts as
// missing, with a line in notes saying so.
//
// False, with a message in error, when dir does not exist or is not a directory, a dump file or
// the manifest cannot be read, or the manifest is not one.
bool load_replay(const std::string& dir, SimProfileData& data, std::string& error,
                 std::vector<std::string>* notes = nullptr);

}  // namespace torvik
