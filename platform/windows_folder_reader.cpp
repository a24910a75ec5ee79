#include <windows.h>

#include <algorithm>
#include <string>

#include "platform/folder_reader.h"
#include "platform/windows_system.h"

namespace torvik {

FolderReader::~FolderReader() = default;

FolderOpen FolderReader::open(const std::string& dir, std::string& message) {
    const DWORD attributes = GetFileAttributesA(dir.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        message = windows_error_text(error);
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                   ? FolderOpen::not_a_directory
                   : FolderOpen::unreadable;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        message = "not a directory";
        return FolderOpen::not_a_directory;
    }
    dir_ = dir;
    return FolderOpen::ok;
}

// The name is opened as itself, not as what a reparse point (a symbolic link, a junction) leads
// to; a directory cannot be opened without backup semantics. Only a file on disk that is neither a
// reparse point, a directory nor a device is read.
FileRead FolderReader::read(const char* name, std::size_t limit, std::vector<std::uint8_t>& bytes,
                            std::string& message) const {
    bytes.clear();
    std::string path = dir_;
    if (!path.empty() && path.back() != '\\' && path.back() != '/')
        path += '\\';
    path += name;
    const WindowsHandle file{CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                         OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr)};
    if (file.h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        message = windows_error_text(error);
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return FileRead::missing;
        // A directory under the name: CreateFileA refuses it.
        const DWORD attributes = GetFileAttributesA(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES &&
            (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)
            return FileRead::not_regular;
        return FileRead::failed;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(file.h) != FILE_TYPE_DISK || !GetFileInformationByHandle(file.h, &info))
        return FileRead::not_regular;
    constexpr DWORD kNotRegular =
        FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE;
    if ((info.dwFileAttributes & kNotRegular) != 0)
        return FileRead::not_regular;
    bytes.resize(limit);
    std::size_t got = 0;
    while (got < limit) {
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(limit - got, 1u << 20));
        DWORD n = 0;
        if (!ReadFile(file.h, bytes.data() + got, want, &n, nullptr)) {
            message = windows_error_text(GetLastError());
            bytes.clear();
            return FileRead::failed;
        }
        if (n == 0)
            break;
        got += n;
    }
    bytes.resize(got);
    return FileRead::ok;
}

}  // namespace torvik
