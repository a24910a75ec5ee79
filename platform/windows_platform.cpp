// Windows: the tool's home platform. Every operation is the Win32 call of the same name.
// windows.h first: the other Windows headers use its types.
#include <windows.h>

#include <conio.h>
#include <io.h>
#include <ntddscsi.h>
#include <shellapi.h>
#include <winioctl.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/host_platform.h"
#include "platform/interrupt.h"
#include "platform/storage_descriptor.h"
#include "platform/temp_file_table.h"
#include "platform/windows_pass_through.h"
#include "platform/windows_system.h"
#include "platform/windows_usb_id.h"

namespace torvik {

// The seam carries Windows values unchanged; the OS headers are the authority on each of them.
static_assert(kIoctlStorageQueryProperty == IOCTL_STORAGE_QUERY_PROPERTY);
static_assert(kIoctlDiskGetLengthInfo == IOCTL_DISK_GET_LENGTH_INFO);
static_assert(kDiskLengthInfoSize == sizeof(GET_LENGTH_INFORMATION));
static_assert(kDiskOpenFlags ==
              (FILE_FLAG_NO_BUFFERING | FILE_FLAG_RANDOM_ACCESS | FILE_ATTRIBUTE_NORMAL));
static_assert(kErrorFileNotFound == ERROR_FILE_NOT_FOUND);
static_assert(kErrorPathNotFound == ERROR_PATH_NOT_FOUND);
static_assert(kErrorAccessDenied == ERROR_ACCESS_DENIED);
static_assert(kErrorInvalidHandle == ERROR_INVALID_HANDLE);
static_assert(kErrorInvalidParameter == ERROR_INVALID_PARAMETER);

static_assert(kOsVersionExSize == sizeof(OSVERSIONINFOEXA));
static_assert(kOsVersionSize == sizeof(OSVERSIONINFOA));
static_assert(sizeof(OsVersion::service_pack) == sizeof(OSVERSIONINFOA::szCSDVersion));

// The property query the listing sends is all zeros: StorageDeviceProperty, PropertyStandardQuery.
static_assert(kPropertyQuerySize == sizeof(STORAGE_PROPERTY_QUERY));
static_assert(StorageDeviceProperty == 0 && PropertyStandardQuery == 0);
static_assert(kDescVersion == offsetof(STORAGE_DEVICE_DESCRIPTOR, Version));
static_assert(kDescSize == offsetof(STORAGE_DEVICE_DESCRIPTOR, Size));
static_assert(kDescRemovableMedia == offsetof(STORAGE_DEVICE_DESCRIPTOR, RemovableMedia));
static_assert(kDescVendorIdOffset == offsetof(STORAGE_DEVICE_DESCRIPTOR, VendorIdOffset));
static_assert(kDescProductIdOffset == offsetof(STORAGE_DEVICE_DESCRIPTOR, ProductIdOffset));
static_assert(kDescBusType == offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType));
static_assert(kDescHeaderSize == sizeof(STORAGE_DEVICE_DESCRIPTOR));
static_assert(kBusTypeScsi == BusTypeScsi && kBusTypeAta == BusTypeAta &&
              kBusTypeUsb == BusTypeUsb && kBusTypeSata == BusTypeSata && kBusTypeSd == BusTypeSd &&
              kBusTypeMmc == BusTypeMmc && kBusTypeVirtual == BusTypeVirtual &&
              kBusTypeNvme == BusTypeNvme);

// The pass-through builds the OS's own SCSI_PASS_THROUGH record from byte offsets.
static_assert(sizeof(SCSI_PASS_THROUGH) == kPassThroughLayout.record_size);
static_assert(offsetof(SCSI_PASS_THROUGH, Length) == kSptLength);
static_assert(offsetof(SCSI_PASS_THROUGH, ScsiStatus) == kSptScsiStatus);
static_assert(offsetof(SCSI_PASS_THROUGH, PathId) == kSptPathId);
static_assert(offsetof(SCSI_PASS_THROUGH, TargetId) == kSptTargetId);
static_assert(offsetof(SCSI_PASS_THROUGH, Lun) == kSptLun);
static_assert(offsetof(SCSI_PASS_THROUGH, CdbLength) == kSptCdbLength);
static_assert(offsetof(SCSI_PASS_THROUGH, SenseInfoLength) == kSptSenseInfoLength);
static_assert(offsetof(SCSI_PASS_THROUGH, DataIn) == kSptDataIn);
static_assert(offsetof(SCSI_PASS_THROUGH, DataTransferLength) == kSptDataTransferLength);
static_assert(offsetof(SCSI_PASS_THROUGH, TimeOutValue) == kSptTimeOutValue);
static_assert(offsetof(SCSI_PASS_THROUGH, DataBufferOffset) ==
              kPassThroughLayout.data_buffer_offset_at);
static_assert(sizeof(SCSI_PASS_THROUGH::DataBufferOffset) ==
              kPassThroughLayout.data_buffer_offset_width);
static_assert(offsetof(SCSI_PASS_THROUGH, SenseInfoOffset) ==
              kPassThroughLayout.sense_info_offset_at);
static_assert(offsetof(SCSI_PASS_THROUGH, Cdb) == kPassThroughLayout.cdb_at);
static_assert(sizeof(SCSI_PASS_THROUGH::Cdb) == kSptCdbSize);
static_assert(kScsiIoctlDataOut == SCSI_IOCTL_DATA_OUT && kScsiIoctlDataIn == SCSI_IOCTL_DATA_IN &&
              kScsiIoctlDataUnspecified == SCSI_IOCTL_DATA_UNSPECIFIED);

namespace {

class WindowsPlatform : public Platform {
  public:
    bool get_version(OsVersion& os) override {
        // OSVERSIONINFOEXA begins with the OSVERSIONINFOA fields, so one record serves both sizes;
        // the size field tells the call which one it is given.
        OSVERSIONINFOEXA info;
        std::memset(&info, 0, sizeof info);
        info.dwOSVersionInfoSize = os.record_size;
        const BOOL ok = ::GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info));
        if (!ok)
            last_error_ = ::GetLastError();
        os.major = static_cast<std::int32_t>(info.dwMajorVersion);
        os.minor = static_cast<std::int32_t>(info.dwMinorVersion);
        os.build = static_cast<std::int32_t>(info.dwBuildNumber);
        std::memcpy(os.service_pack, info.szCSDVersion, sizeof os.service_pack);
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

    PassThroughResult pass_through(DriveHandle drive, const PassThroughRequest& request) override {
        // The read-only rule holds here as on every platform: the OS never sees anything else.
        const std::uint32_t refused =
            refusal(request, PassThroughRefusals{ERROR_INVALID_PARAMETER, ERROR_ACCESS_DENIED});
        if (refused != 0)
            return fail(refused);
        WindowsPassThrough sent = build_windows_pass_through(request, kPassThroughLayout);
        DWORD bytes = 0;
        if (!::DeviceIoControl(reinterpret_cast<HANDLE>(drive), IOCTL_SCSI_PASS_THROUGH,
                               sent.buffer.data(), sent.in_size, sent.buffer.data(), sent.out_size,
                               &bytes, nullptr))
            return fail(::GetLastError());
        return read_windows_pass_through(sent, request, kPassThroughLayout);
    }

    std::uint32_t last_error() override { return last_error_; }

    std::optional<UsbId> usb_id(std::int32_t drive) override { return windows_usb_id(drive); }

    std::intptr_t shell_open(const char* file) override {
        const HINSTANCE result = ::ShellExecuteA(nullptr, "open", file, nullptr, nullptr, SW_SHOW);
        return reinterpret_cast<std::intptr_t>(result);
    }

    KeyState wait_key(int timeout_ms) override {
        // Only a console delivers key presses. Input redirected from a file, a pipe or the NUL
        // device never will; NUL is a character device too, so the file type cannot tell.
        DWORD mode = 0;
        if (!::GetConsoleMode(::GetStdHandle(STD_INPUT_HANDLE), &mode))
            return KeyState::closed;
        if (::_kbhit())
            return KeyState::pending;
        if (timeout_ms > 0)
            ::Sleep(static_cast<DWORD>(timeout_ms));
        return ::_kbhit() ? KeyState::pending : KeyState::none;
    }

    int read_key() override { return ::_getch(); }

  private:
    PassThroughResult fail(std::uint32_t error) {
        last_error_ = error;
        return failed_call(error, windows_error_text(error));
    }

    std::uint32_t last_error_ = 0;
};

// Runs on a thread of its own. A file still open is deleted once the process has closed it.
BOOL WINAPI on_console_event(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            temp_file_table().remove_all(
                [](std::intptr_t, const char* name) { ::DeleteFileA(name); });
            ::ExitProcess(static_cast<UINT>(kInterruptedExitStatus));
        default:
            return FALSE;
    }
}

}  // namespace

void install_interrupt_cleanup() {
    ::SetConsoleCtrlHandler(on_console_event, TRUE);
}

std::unique_ptr<Platform> make_host_platform() {
    return std::make_unique<WindowsPlatform>();
}

const char* host_platform_name() {
    return "Windows";
}

bool process_runs_privileged() {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    const bool elevated =
        ::GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) != 0 &&
        elevation.TokenIsElevated != 0;
    ::CloseHandle(token);
    return elevated;
}

const char* pseudo_file_system(const char*) {
    return nullptr;
}

bool is_terminal(std::FILE* stream) {
    return ::_isatty(::_fileno(stream)) != 0;
}

bool terminal_shows_colour(std::FILE* stream) {
    if (!is_terminal(stream))
        return false;
    // Consoles before Windows 10 have no virtual-terminal mode: the escapes would show as text.
    const HANDLE console = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
    DWORD mode = 0;
    if (console == INVALID_HANDLE_VALUE || ::GetConsoleMode(console, &mode) == 0)
        return false;
    constexpr DWORD kVirtualTerminalProcessing = 0x0004;
    if ((mode & kVirtualTerminalProcessing) != 0)
        return true;
    return ::SetConsoleMode(console, mode | kVirtualTerminalProcessing) != 0;
}

}  // namespace torvik
