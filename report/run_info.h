// What a run knows besides the drive model, for the outputs that show it (the JSON document and
// the HTML page).
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace torvik {

struct RunInfo {
    std::string tool_version;
    std::string platform;  // the platform the tool was built for
    OsVersion os;
    std::int32_t drive = 0;
    std::string bus;
    std::string simulation;         // "sim" or "replay"; empty for a real drive
    std::string simulation_source;  // the profile name or the replayed directory
};

}  // namespace torvik
