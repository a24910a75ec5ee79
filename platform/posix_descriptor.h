// A file descriptor that closes itself when it goes out of scope.
#pragma once

#include <unistd.h>

namespace torvik {

struct Descriptor {
    int fd;
    ~Descriptor() {
        if (fd >= 0)
            ::close(fd);
    }
};

}  // namespace torvik
