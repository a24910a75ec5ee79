// What every command operation needs: the platform, the open disk, and the console on which the
// transport prints its own failure lines.
#pragma once

#include <cstdio>

#include "platform/platform.h"

namespace torvik {

struct DriveLink {
    Platform& platform;
    DriveHandle disk;
    std::FILE* console;
};

}  // namespace torvik
