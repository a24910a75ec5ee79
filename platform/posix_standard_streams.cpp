// The standard streams on POSIX systems: a descriptor 0, 1 or 2 that is closed at start is given
// /dev/null.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/host_platform.h"

namespace torvik {

bool open_missing_standard_streams(bool* output_closed) {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF)
            continue;
        if (fd == STDOUT_FILENO && output_closed != nullptr)
            *output_closed = true;
        // The lowest free descriptor is the one that is missing.
        const int null = ::open("/dev/null", O_RDWR);
        if (null != fd) {
            if (null >= 0)
                ::close(null);
            return false;
        }
    }
    return true;
}

}  // namespace torvik
