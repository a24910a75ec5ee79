// The seam between the tool and the operating system.
//
// The interface is the handful of Windows services the tool uses, shaped as it uses them, and one
// neutral SCSI pass-through (platform/pass_through.h), so everything above it reads the same on
// every platform. One implementation is chosen in app/ and handed down in a run context; nothing
// above this layer includes an OS header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "platform/pass_through.h"
#include "platform/usb_id.h"

namespace torvik {

using DriveHandle = std::intptr_t;
inline constexpr DriveHandle kInvalidDriveHandle = -1;

// Windows constants that travel across the seam unchanged on every platform.
inline constexpr std::uint32_t kIoctlStorageQueryProperty = 0x2D1400;
// The disk's size in bytes: GET_LENGTH_INFORMATION, one little-endian 64-bit number.
inline constexpr std::uint32_t kIoctlDiskGetLengthInfo = 0x7405C;
inline constexpr std::uint32_t kDiskLengthInfoSize = 8;
// FILE_FLAG_NO_BUFFERING | FILE_FLAG_RANDOM_ACCESS | FILE_ATTRIBUTE_NORMAL: the report's open.
inline constexpr std::uint32_t kDiskOpenFlags = 0x30000080;
// No flags: the open of the listing and the bus-type query.
inline constexpr std::uint32_t kQueryOpenFlags = 0;

// Windows error codes the other platforms report where the meaning is the same.
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorPathNotFound = 3;
// A pass-through request that would not only read from the drive (ERROR_ACCESS_DENIED; Linux
// reports EPERM).
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorInvalidHandle = 6;
inline constexpr std::uint32_t kErrorInvalidParameter = 87;

// OSVERSIONINFOEXA is 156 bytes, OSVERSIONINFOA 148: the tool asks with the first, then the second.
inline constexpr std::uint32_t kOsVersionExSize = 156;
inline constexpr std::uint32_t kOsVersionSize = 148;

struct OsVersion {
    std::uint32_t record_size = 0;  // which record the query is made with
    std::int32_t major = 0;
    std::int32_t minor = 0;
    std::int32_t build = 0;
    char service_pack[128] = {};
};

enum class KeyState {
    none,     // nothing typed yet
    pending,  // a key press is waiting to be read
    closed,   // no console input will ever come (not a terminal, or end of input)
};

// What a failed open means to the user, whatever the platform's own code for it.
enum class ErrorKind {
    other,
    access_denied,  // the user lacks the rights: run as root / as administrator
    not_found,      // no such drive or file
};

// The names the operating system itself gives a drive.
struct DriveNames {
    std::string path;          // "\\.\PhysicalDrive3" on Windows, "/dev/sdb" on Linux
    std::string generic_path;  // Linux: the disk's SCSI generic node ("/dev/sg1"), when it has one
};

// The drive half of the seam. Output files are the other half (platform/file_store.h), passed
// beside it.
class Platform {
  public:
    virtual ~Platform() = default;

    // GetVersionExA with a record of os.record_size bytes; false when the call fails.
    virtual bool get_version(OsVersion& os) = 0;

    // CreateFileA(path, read|write, share read|write, OPEN_EXISTING, flags): a drive by its
    // "\\.\PhysicalDriveN" path. kInvalidDriveHandle on failure, with last_error() set.
    virtual DriveHandle open_drive(const char* path, std::uint32_t flags) = 0;
    virtual void close_drive(DriveHandle drive) = 0;

    // DeviceIoControl on an open drive, for the storage property and disk length queries. in
    // and out may name the same buffer.
    virtual bool device_io_control(DriveHandle drive, std::uint32_t code, void* in,
                                   std::uint32_t in_size, void* out, std::uint32_t out_size,
                                   std::uint32_t* returned) = 0;

    // One SCSI command on an open drive, waited for. A request that refusal() turns down never
    // reaches the OS: a malformed one fails as an invalid parameter, one that does not read with
    // kErrorAccessDenied (EPERM on Linux). A failed call also sets last_error().
    virtual PassThroughResult pass_through(DriveHandle drive,
                                           const PassThroughRequest& request) = 0;

    // GetLastError: the error code of the last failed call of this interface.
    virtual std::uint32_t last_error() = 0;

    // ShellExecuteA(NULL, "open", file, NULL, NULL, SW_SHOW): above 32 on success.
    virtual std::intptr_t shell_open(const char* file) = 0;

    // _kbhit, waiting at most timeout_ms for a key; and _getch.
    virtual KeyState wait_key(int timeout_ms) = 0;
    virtual int read_key() = 0;

    // Beyond the Windows services: naming drives the way the OS does (--list, --device) and
    // telling what an error code means. The defaults serve every platform whose drives are
    // "\\.\PhysicalDriveN" and whose error codes are Windows's.

    // The OS's names for drive number `drive`.
    virtual DriveNames drive_names(std::int32_t drive);
    // The number of the drive an OS path names, or -1; missing is set when nothing is there.
    virtual std::int32_t find_drive(const char* os_path, bool& missing);
    virtual ErrorKind error_kind(std::uint32_t error) const;
    // Whether the tool runs with the rights raw disk access needs (root; an elevated
    // administrator), so that a refusal has another cause. The default asks the host.
    virtual bool runs_privileged() const;
    // The time of the run, in seconds since 1970-01-01 00:00 UTC; none when it is not known (a
    // replayed folder recorded without it). The default reads the system clock, or
    // SOURCE_DATE_EPOCH when it is set, so that two runs can be compared byte for byte.
    virtual std::optional<std::int64_t> run_time();
    // The USB vendor and product ID of the bridge drive number `drive` sits behind; none when the
    // drive is not on USB or the OS does not say. The default knows none.
    virtual std::optional<UsbId> usb_id(std::int32_t drive);
};

// An open drive that closes itself once, on every path.
class DriveGuard {
  public:
    DriveGuard(Platform& platform, DriveHandle drive) : platform_(platform), drive_(drive) {}
    ~DriveGuard() {
        if (drive_ != kInvalidDriveHandle)
            platform_.close_drive(drive_);
    }
    DriveGuard(const DriveGuard&) = delete;
    DriveGuard& operator=(const DriveGuard&) = delete;

    DriveHandle get() const { return drive_; }
    bool is_open() const { return drive_ != kInvalidDriveHandle; }

  private:
    Platform& platform_;
    DriveHandle drive_;
};

}  // namespace torvik
