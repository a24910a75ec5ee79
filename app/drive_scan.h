// The drives as the OS names them: the scan behind --list and behind the messages that say which
// drives there are, and the drive that --device names.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "platform/platform.h"
#include "report/drive_list.h"

namespace torvik {

// What a user without the rights to open a drive should do: "run as root", or as administrator;
// when the tool runs so already, what else refuses it.
const char* privilege_hint(Platform& platform);

// Every drive 0..98 that answers, with its OS names, bus, texts and size.
DriveList scan_drives(Platform& platform);

// --list: the drives as text or JSON on out; why a list is empty or short on err. Returns the
// exit status.
int list_command(Platform& platform, std::FILE* out, std::FILE* err, bool json);

// The number of the drive a path names (--device PATH, or a path in the drive argument's place);
// nullopt after a message on err.
std::optional<std::int32_t> find_named_drive(Platform& platform, const std::string& path,
                                             std::FILE* err);

}  // namespace torvik
