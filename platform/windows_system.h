// What the Windows files of the platform share: the system's words for an error code, and a
// handle that closes itself.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace torvik {

// The system's message for an error code, without its closing line end, spaces and full stop;
// "error N" when the system has none.
inline std::string windows_error_text(std::uint32_t error) {
    char text[512] = {};
    const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, error, 0, text, sizeof text, nullptr);
    std::string message(text, n);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.'))
        message.pop_back();
    if (message.empty())
        message = "error " + std::to_string(error);
    return message;
}

// Closes a handle when it goes out of scope.
struct WindowsHandle {
    HANDLE h;
    ~WindowsHandle() {
        if (h != INVALID_HANDLE_VALUE)
            ::CloseHandle(h);
    }
};

}  // namespace torvik
