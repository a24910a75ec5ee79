// A scriptable platform for tests: drives present or absent with their descriptors, error codes,
// keys typed at the closing prompt, the shell's answer, output files that cannot be created; it
// records every call it receives.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/program.h"
#include "platform/output_file.h"
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
    // The USB bridge: by default one the bridge table gives the 0xE6 form.
    std::optional<UsbId> usb_id = UsbId{0x174C, 0x2362};
};

// A failure injected into an output file, named by its final name. The codes are errno values.
struct FileFault {
    std::uint32_t create_error = 0;                    // the temporary cannot be created
    std::size_t space = static_cast<std::size_t>(-1);  // bytes that fit before writes fail
    std::uint32_t write_error = 28;                    // ENOSPC
    std::uint32_t close_error = 0;
    std::uint32_t replace_error = 0;
};

// The time every run on the fake platform takes place: 2026-03-14 09:26:53 UTC.
inline constexpr std::int64_t kFakeRunTime = 1773480413;

// Whether the platform the tests run on ends text lines with CR LF.
bool host_text_crlf();

// Both halves of the seam: the drive platform, and the output store of the current folder.
class FakePlatform : public Platform, public FileStore {
  public:
    std::map<std::int32_t, FakeDrive> drives;
    OsVersion version{0, 10, 0, 19045, "Service Pack 9"};
    bool extended_version_fails = false;  // the 156-byte query fails, the 148-byte one works
    std::deque<int> keys;                 // typed at the closing prompt; empty: console closed
    std::intptr_t shell_result = 42;
    std::set<std::string> uncreatable;  // output files whose creation fails (error 5)
    std::map<std::string, FileFault> file_faults;
    bool crlf = host_text_crlf();  // text files end lines with CR LF, as on the host
    bool privileged = false;       // the tool runs as root / an elevated administrator
    std::optional<std::int64_t> time = kFakeRunTime;  // the run's time, seconds since 1970 UTC

    std::vector<std::string> calls;  // "open \\.\PhysicalDrive3 0x0", "ioctl 0x2d1400", ...
    std::vector<std::string> shell_files;
    int open_handles = 0;

    bool get_version(OsVersion& os) override;
    DriveHandle open_drive(const char* path, std::uint32_t flags) override;
    void close_drive(DriveHandle drive) override;
    bool device_io_control(DriveHandle drive, std::uint32_t code, void* in, std::uint32_t in_size,
                           void* out, std::uint32_t out_size, std::uint32_t* returned) override;
    // Fails every command with kErrorInvalidHandle: a fake drive answers none.
    PassThroughResult pass_through(DriveHandle drive, const PassThroughRequest& request) override;
    std::uint32_t last_error() override { return last_error_; }
    FileHandle create_temp_file(const char* final_name, std::string& temp_name,
                                std::uint32_t& error) override;
    std::uint32_t write_file(FileHandle file, const void* data, std::size_t size) override;
    std::uint32_t close_file(FileHandle file) override;
    std::uint32_t replace_file(const char* temp_name, const char* final_name) override;
    void remove_file(const char* temp_name) override;
    bool text_files_end_lines_with_crlf() override { return crlf; }
    std::string error_text(std::uint32_t error) override;
    std::intptr_t shell_open(const char* file) override;
    KeyState wait_key(int timeout_ms) override;
    int read_key() override;
    bool runs_privileged() const override { return privileged; }
    std::optional<std::int64_t> run_time() override { return time; }
    std::optional<UsbId> usb_id(std::int32_t drive) override {
        const auto found = drives.find(drive);
        return found != drives.end() ? found->second.usb_id : std::nullopt;
    }

    // How many recorded calls begin with prefix.
    int count_calls(const std::string& prefix) const;

  private:
    struct OpenFile {
        std::FILE* file = nullptr;
        std::string final_name;
        std::size_t written = 0;
    };
    std::uint32_t last_error_ = 0;
    std::vector<OpenFile> files_;  // the handle is an index
    std::uint32_t temp_count_ = 0;
};

}  // namespace torvik::testing

namespace torvik::testing {

// A store that forwards every call to another it does not own; on_change, when set, is called
// before each call that changes a file (create, write, close, replace, remove), with its name.
class ForwardingFileStore : public FileStore {
  public:
    explicit ForwardingFileStore(FileStore& inner) : inner_(inner) {}
    std::function<void(const char* call)> on_change;

    FileHandle create_temp_file(const char* final_name, std::string& temp_name,
                                std::uint32_t& error) override {
        changing("create");
        return inner_.create_temp_file(final_name, temp_name, error);
    }
    std::uint32_t write_file(FileHandle file, const void* data, std::size_t size) override {
        changing("write");
        return inner_.write_file(file, data, size);
    }
    std::uint32_t close_file(FileHandle file) override {
        changing("close");
        return inner_.close_file(file);
    }
    std::uint32_t replace_file(const char* temp_name, const char* final_name) override {
        changing("replace");
        return inner_.replace_file(temp_name, final_name);
    }
    void remove_file(const char* temp_name) override {
        changing("remove");
        inner_.remove_file(temp_name);
    }
    bool text_files_end_lines_with_crlf() override {
        return inner_.text_files_end_lines_with_crlf();
    }
    std::string error_text(std::uint32_t error) override { return inner_.error_text(error); }
    void sync_folder() override { inner_.sync_folder(); }
    bool lock_folder(int wait_ms) override { return inner_.lock_folder(wait_ms); }
    void unlock_folder() override { inner_.unlock_folder(); }
    std::unique_ptr<FileStore> open_subfolder(const char* name, std::string& error) override {
        return inner_.open_subfolder(name, error);
    }

  private:
    void changing(const char* call) {
        if (on_change)
            on_change(call);
    }
    FileStore& inner_;
};

// The folders of a test run: the current folder is the fake's own store, any other the host's real
// output store (without flushing to the disk, as many runs are made).
OutputFolderOpener fake_folders(FakePlatform& host);

}  // namespace torvik::testing
