// A platform whose drive 0 is a simulated drive. Everything that is not about the drive (OS
// version, output files, the shell, the keyboard) is the host platform's.
#pragma once

#include <cstdint>
#include <optional>
#include <set>

#include "platform/platform.h"
#include "sim/sim_drive.h"

namespace torvik {

// The one drive the simulated platform has, by the path the platform seam opens it with.
inline constexpr const char* kSimDrivePath = "\\\\.\\PhysicalDrive0";

class SimPlatform : public Platform {
  public:
    SimPlatform(Platform& host, SimDrive& drive) : host_(host), drive_(drive) {}

    // A replayed drive: the run took place when the folder was recorded (none: not known), not
    // at the host's present time.
    void replay_time(std::optional<std::int64_t> recorded) {
        replayed_ = true;
        recorded_ = recorded;
    }

    bool get_version(OsVersion& os) override;
    DriveHandle open_drive(const char* path, std::uint32_t flags) override;
    void close_drive(DriveHandle drive) override;
    // IOCTL_STORAGE_QUERY_PROPERTY from the drive's descriptor; IOCTL_SCSI_PASS_THROUGH decoded
    // and answered by the drive; IOCTL_DISK_GET_LENGTH_INFO from its capacity pages.
    bool device_io_control(DriveHandle drive, std::uint32_t code, void* in, std::uint32_t in_size,
                           void* out, std::uint32_t out_size, std::uint32_t* returned) override;
    std::uint32_t last_error() override { return last_error_; }
    FileHandle create_temp_file(const char* final_name, std::string& temp_name,
                                std::uint32_t& error) override {
        return host_.create_temp_file(final_name, temp_name, error);
    }
    std::uint32_t write_file(FileHandle file, const void* data, std::size_t size) override {
        return host_.write_file(file, data, size);
    }
    std::uint32_t close_file(FileHandle file) override { return host_.close_file(file); }
    std::uint32_t replace_file(const char* temp_name, const char* final_name) override {
        return host_.replace_file(temp_name, final_name);
    }
    void remove_file(const char* temp_name) override { host_.remove_file(temp_name); }
    bool text_files_end_lines_with_crlf() override {
        return host_.text_files_end_lines_with_crlf();
    }
    std::string error_text(std::uint32_t error) override { return host_.error_text(error); }
    std::intptr_t shell_open(const char* file) override;
    KeyState wait_key(int timeout_ms) override;
    int read_key() override;
    // The drives are named as the host's own: "\\.\PhysicalDriveN" on Windows; on Linux drive N
    // is the N-th of the sd family ("/dev/sda", ... "/dev/sdz", "/dev/sdaa"), and either name finds
    // it.
    DriveNames drive_names(std::int32_t drive) override;
    std::int32_t find_drive(const char* os_path, bool& missing) override;
    bool runs_privileged() const override { return host_.runs_privileged(); }
    std::optional<std::int64_t> run_time() override {
        return replayed_ ? recorded_ : host_.run_time();
    }

    std::size_t open_handles() const { return open_.size(); }

  private:
    bool query_property(const void* in, std::uint32_t in_size, void* out, std::uint32_t out_size,
                        std::uint32_t* returned);
    bool query_length(void* out, std::uint32_t out_size, std::uint32_t* returned);
    bool pass_through(void* in, std::uint32_t in_size, void* out, std::uint32_t out_size,
                      std::uint32_t* returned);
    bool fail(std::uint32_t error);

    Platform& host_;
    SimDrive& drive_;
    bool replayed_ = false;
    std::optional<std::int64_t> recorded_;
    std::set<DriveHandle> open_;
    DriveHandle next_handle_ = 0x5100;
    std::uint32_t last_error_ = 0;
};

}  // namespace torvik
