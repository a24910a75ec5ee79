// The history file on Windows: opened as itself, never as what a reparse point leads to, and
// appended to through a handle that holds append rights only for writing, so no write can land
// anywhere but at the end.
#include <windows.h>

#include <algorithm>
#include <string>

#include "platform/history_file.h"
#include "platform/windows_system.h"

namespace torvik {

namespace {

// What the name is when it is not a plain file; nullptr for one (or when there is nothing).
const char* not_regular(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return nullptr;
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return "it is a symbolic link; name the file it points to";
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return "it is a directory";
    if ((attributes & FILE_ATTRIBUTE_DEVICE) != 0)
        return "it is not a regular file";
    return nullptr;
}

HANDLE open_regular(const std::string& path, DWORD access, DWORD disposition, std::string& message,
                    bool& missing) {
    missing = false;
    if (const char* what = not_regular(path)) {
        message = what;
        return INVALID_HANDLE_VALUE;
    }
    HANDLE h =
        CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        missing = error == ERROR_FILE_NOT_FOUND;
        const char* what = not_regular(path);
        message = what != nullptr ? what : windows_error_text(error);
        return INVALID_HANDLE_VALUE;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    constexpr DWORD kNotRegular =
        FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE;
    if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
        (info.dwFileAttributes & kNotRegular) != 0) {
        message = "it is not a regular file";
        CloseHandle(h);
        return INVALID_HANDLE_VALUE;
    }
    return h;
}

// Reads size bytes at offset; false with the reason in message.
bool read_at(HANDLE h, unsigned long long offset, char* data, std::size_t size,
             std::string& message) {
    while (size > 0) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 20));
        DWORD n = 0;
        if (!ReadFile(h, data, want, &n, &at) || n == 0) {
            message = n == 0 ? "the file became shorter while locked"
                             : windows_error_text(GetLastError());
            return false;
        }
        data += n;
        size -= n;
        offset += n;
    }
    return true;
}

// Cuts the file back to length through a second handle with write rights: the append handle
// has none but appending.
void cut_back(HANDLE h, unsigned long long length) {
    const WindowsHandle writer{ReOpenFile(h, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, 0)};
    if (writer.h == INVALID_HANDLE_VALUE)
        return;
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(length);
    SetFileInformationByHandle(writer.h, FileEndOfFileInfo, &end, sizeof end);
}

}  // namespace

HistoryReader::~HistoryReader() {
    if (handle_ != -1)
        CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

HistoryOpen HistoryReader::open(const std::string& path, std::string& message) {
    bool missing = false;
    const HANDLE h = open_regular(path, GENERIC_READ, OPEN_EXISTING, message, missing);
    if (h == INVALID_HANDLE_VALUE)
        return missing ? HistoryOpen::missing : HistoryOpen::failed;
    if (handle_ != -1)
        CloseHandle(reinterpret_cast<HANDLE>(handle_));
    handle_ = reinterpret_cast<std::intptr_t>(h);
    offset_ = 0;
    return HistoryOpen::ok;
}

std::ptrdiff_t HistoryReader::read(char* buffer, std::size_t size, std::string& message) {
    DWORD n = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 20));
    if (!ReadFile(reinterpret_cast<HANDLE>(handle_), buffer, want, &n, nullptr)) {
        message = windows_error_text(GetLastError());
        return -1;
    }
    offset_ += n;
    return static_cast<std::ptrdiff_t>(n);
}

bool append_history_line(const std::string& path, std::string_view line, std::string& message,
                         int lock_wait_ms, AppendCheck* check) {
    bool missing = false;
    // A new file takes the folder's inherited permissions, as any file the user makes there.
    const WindowsHandle file{open_regular(path, FILE_READ_DATA | FILE_APPEND_DATA | SYNCHRONIZE,
                                          OPEN_ALWAYS, message, missing)};
    if (file.h == INVALID_HANDLE_VALUE)
        return false;
    // The lock covers the whole possible range of the file, so every appender takes the same.
    constexpr int kPollMs = 20;
    OVERLAPPED whole{};
    for (int waited = 0;; waited += kPollMs) {
        if (LockFileEx(file.h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD,
                       MAXDWORD, &whole))
            break;
        const DWORD error = GetLastError();
        if (error != ERROR_LOCK_VIOLATION && error != ERROR_IO_PENDING) {
            message = "it cannot be locked: " + windows_error_text(error);
            return false;
        }
        if (waited >= lock_wait_ms) {
            message = "another program holds its lock";
            return false;
        }
        Sleep(kPollMs);
    }
    struct Unlock {
        HANDLE h;
        ~Unlock() {
            OVERLAPPED all{};
            UnlockFileEx(h, 0, MAXDWORD, MAXDWORD, &all);
        }
    } unlock{file.h};
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.h, &size)) {
        message = windows_error_text(GetLastError());
        return false;
    }
    const auto end = static_cast<unsigned long long>(size.QuadPart);
    char last = '\n';
    if (end > 0 && !read_at(file.h, end - 1, &last, 1, message))
        return false;
    if (check != nullptr && check->recorded) {
        const unsigned long long from = check->read_end <= end ? check->read_end : 0;
        std::string appended(static_cast<std::size_t>(end - from), '\0');
        if (!read_at(file.h, from, appended.data(), appended.size(), message))
            return false;
        check->already = check->recorded(appended);
        if (check->already)
            return true;
    }
    std::string text;
    if (last != '\n')
        text += '\n';
    text += line;
    DWORD written = 0;
    if (!WriteFile(file.h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
        written != text.size()) {
        message = windows_error_text(GetLastError());
        cut_back(file.h, end);  // never half a line: the file ends where it did
        return false;
    }
    if (!FlushFileBuffers(file.h)) {
        message = windows_error_text(GetLastError());
        return false;
    }
    return true;
}

}  // namespace torvik
