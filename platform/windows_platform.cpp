// Windows: the tool's home platform. Every operation is the Win32 call of the same name.
// windows.h first: the other Windows headers use its types.
#include <windows.h>

#include <conio.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cerrno>
#include <cstring>

#include "platform/host_platform.h"

namespace torvik {

namespace {

class WindowsPlatform : public Platform {
  public:
    bool get_version(OsVersion& os) override {
        OSVERSIONINFOEXA info;
        std::memset(&info, 0, sizeof info);
        info.dwOSVersionInfoSize = os.record_size;
        const BOOL ok = ::GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info));
        os.major = static_cast<std::int32_t>(info.dwMajorVersion);
        os.minor = static_cast<std::int32_t>(info.dwMinorVersion);
        os.build = static_cast<std::int32_t>(info.dwBuildNumber);
        static_assert(sizeof info.szCSDVersion == sizeof os.service_pack);
        std::memcpy(os.service_pack, info.szCSDVersion, sizeof os.service_pack);
        if (!ok)
            last_error_ = ::GetLastError();
        return ok != FALSE;
    }

    DriveHandle open_drive(const char* path, std::uint32_t flags) override {
        const HANDLE handle =
            ::CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                          nullptr, OPEN_EXISTING, flags, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            last_error_ = ::GetLastError();
            return kInvalidDriveHandle;
        }
        return reinterpret_cast<DriveHandle>(handle);
    }

    void close_drive(DriveHandle drive) override { ::CloseHandle(reinterpret_cast<HANDLE>(drive)); }

    bool device_io_control(DriveHandle drive, std::uint32_t code, void* in, std::uint32_t in_size,
                           void* out, std::uint32_t out_size, std::uint32_t* returned) override {
        DWORD bytes = 0;
        const BOOL ok = ::DeviceIoControl(reinterpret_cast<HANDLE>(drive), code, in, in_size, out,
                                          out_size, &bytes, nullptr);
        if (!ok)
            last_error_ = ::GetLastError();
        if (returned != nullptr)
            *returned = bytes;
        return ok != FALSE;
    }

    std::uint32_t last_error() override { return last_error_; }

    // The tool runs as administrator, perhaps in a directory that others can write to. A symbolic
    // link or junction planted under an output file's name must not make it overwrite the link's
    // target: the name is opened as a reparse point itself (never followed), an existing reparse
    // point is refused and left as it is, and only then is the file emptied and made a stream.
    std::FILE* create_file(const char* name, const char* mode) override {
        int crt_mode = 0;
        if (std::strcmp(mode, "w") == 0) {
            crt_mode = _O_WRONLY | _O_TEXT;
        } else if (std::strcmp(mode, "w+b") == 0) {
            crt_mode = _O_RDWR | _O_BINARY;
        } else {
            last_error_ = ERROR_INVALID_PARAMETER;
            return nullptr;
        }
        const HANDLE handle = ::CreateFileA(
            name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            last_error_ = ::GetLastError();
            return nullptr;
        }
        BY_HANDLE_FILE_INFORMATION info;
        std::memset(&info, 0, sizeof info);
        if (!::GetFileInformationByHandle(handle, &info)) {
            last_error_ = ::GetLastError();
            ::CloseHandle(handle);
            return nullptr;
        }
        if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            last_error_ = ERROR_CANT_ACCESS_FILE;
            ::CloseHandle(handle);
            return nullptr;
        }
        if (!::SetEndOfFile(handle)) {  // the position is 0 after the open: this empties it
            last_error_ = ::GetLastError();
            ::CloseHandle(handle);
            return nullptr;
        }
        const int fd = ::_open_osfhandle(reinterpret_cast<std::intptr_t>(handle), crt_mode);
        if (fd < 0) {
            last_error_ = ERROR_INVALID_HANDLE;
            ::CloseHandle(handle);
            return nullptr;
        }
        std::FILE* file = ::_fdopen(fd, mode);
        if (file == nullptr) {
            last_error_ = static_cast<std::uint32_t>(errno);
            ::_close(fd);  // closes the handle too
        }
        return file;
    }

    std::intptr_t shell_open(const char* file) override {
        const HINSTANCE result = ::ShellExecuteA(nullptr, "open", file, nullptr, nullptr, SW_SHOW);
        return reinterpret_cast<std::intptr_t>(result);
    }

    KeyState wait_key(int timeout_ms) override {
        // Without a console (input redirected) no key will ever come.
        if (::GetFileType(::GetStdHandle(STD_INPUT_HANDLE)) != FILE_TYPE_CHAR) {
            return KeyState::closed;
        }
        if (::_kbhit())
            return KeyState::pending;
        if (timeout_ms > 0)
            ::Sleep(static_cast<DWORD>(timeout_ms));
        return ::_kbhit() ? KeyState::pending : KeyState::none;
    }

    int read_key() override { return ::_getch(); }

  private:
    std::uint32_t last_error_ = 0;
};

}  // namespace

std::unique_ptr<Platform> make_host_platform() {
    return std::make_unique<WindowsPlatform>();
}

const char* host_platform_name() {
    return "Windows";
}

}  // namespace torvik
