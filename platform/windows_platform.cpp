// Windows: the tool's home platform. Every operation is the Win32 call of the same name.
#include <conio.h>
#include <shellapi.h>
#include <windows.h>

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

    std::FILE* create_file(const char* name, const char* mode) override {
        std::FILE* file = std::fopen(name, mode);
        if (file == nullptr)
            last_error_ = static_cast<std::uint32_t>(errno);
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
