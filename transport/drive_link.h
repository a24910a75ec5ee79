// What every command operation needs: the platform, the open disk, the console on which the
// transport prints its own failure lines, and the stream for what it adds to explain one (none:
// not printed).
#pragma once

#include <cstdio>

#include "platform/platform.h"

namespace torvik {

struct DriveLink {
    Platform& platform;
    DriveHandle disk;
    std::FILE* console;
    std::FILE* err = nullptr;
};

}  // namespace torvik
