// The standard streams on Windows.
#include <windows.h>

#include <cstdio>

#include "platform/host_platform.h"

namespace torvik {

// A standard handle that is missing is given the null device, as a closed descriptor is on POSIX.
bool open_missing_standard_streams(bool* output_closed) {
    struct Stream {
        DWORD id;
        std::FILE* file;
        const char* mode;
    };
    const Stream streams[] = {{STD_INPUT_HANDLE, stdin, "r"},
                              {STD_OUTPUT_HANDLE, stdout, "w"},
                              {STD_ERROR_HANDLE, stderr, "w"}};
    bool ok = true;
    for (const Stream& s : streams) {
        const HANDLE handle = ::GetStdHandle(s.id);
        if (handle != nullptr && handle != INVALID_HANDLE_VALUE && _fileno(s.file) >= 0)
            continue;
        if (s.file == stdout && output_closed != nullptr)
            *output_closed = true;
        ok = std::freopen("NUL", s.mode, s.file) != nullptr && ok;
    }
    return ok;
}

}  // namespace torvik
