// A scriptable platform for tests: drives present or absent with their descriptors, error codes,
// keys typed at the closing prompt, the shell's answer, output files that cannot be created; it
// records every call it receives.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace torvik::testing {

struct FakeDrive {
    const char* vendor = "TORVIK  ";  // nullptr: no vendor text in the descriptor
    const char* product = "PSSD            ";
    std::uint8_t bus_type = 7;
    bool query_fails = false;      // IOCTL_STORAGE_QUERY_PROPERTY fails
    bool disk_open_fails = false;  // the report's open (with flags) fails
    std::uint32_t error = 5;       // last error for either failure
    std::uint64_t size = 0;        // IOCTL_DISK_GET_LENGTH_INFO; 0: the query fails
    bool open_fails = false;       // every open fails with `error` (no rights, say)
};

class FakePlatform : public Platform {
  public:
    std::map<std::int32_t, FakeDrive> drives;
    OsVersion version{0, 10, 0, 19045, "Service Pack 9"};
    bool extended_version_fails = false;  // the 156-byte query fails, the 148-byte one works
    std::deque<int> keys;                 // typed at the closing prompt; empty: console closed
    std::intptr_t shell_result = 42;
    std::set<std::string> uncreatable;  // output files whose creation fails

    std::vector<std::string> calls;  // "open \\.\PhysicalDrive3 0x0", "ioctl 0x2d1400", ...
    std::vector<std::string> shell_files;
    int open_handles = 0;

    bool get_version(OsVersion& os) override;
    DriveHandle open_drive(const char* path, std::uint32_t flags) override;
    void close_drive(DriveHandle drive) override;
    bool device_io_control(DriveHandle drive, std::uint32_t code, void* in, std::uint32_t in_size,
                           void* out, std::uint32_t out_size, std::uint32_t* returned) override;
    std::uint32_t last_error() override { return last_error_; }
    std::FILE* create_file(const char* name, const char* mode) override;
    std::intptr_t shell_open(const char* file) override;
    KeyState wait_key(int timeout_ms) override;
    int read_key() override;

    // How many recorded calls begin with prefix.
    int count_calls(const std::string& prefix) const;

  private:
    std::uint32_t last_error_ = 0;
};

}  // namespace torvik::testing
