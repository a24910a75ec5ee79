// A platform whose drives 0, 1, ... are simulated drives. Everything that is not about the drive
// (OS version, the shell, the keyboard) is the host platform's; output files are the run's output
// store, as on any platform.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "sim/sim_drive.h"

namespace torvik {

// The first drive of the simulated platform, by the path the platform seam opens it with.
inline constexpr const char* kSimDrivePath = "\\\\.\\PhysicalDrive0";

class SimPlatform : public Platform {
  public:
    // drive as drive 0, the only one.
    SimPlatform(Platform& host, SimDrive& drive) : host_(host), drives_{&drive} {}
    // drives[N] as drive N; none may be null.
    SimPlatform(Platform& host, std::vector<SimDrive*> drives)
        : host_(host), drives_(std::move(drives)) {}

    // A replayed drive: the run took place when the folder was recorded (none: not known), not
    // at the host's present time.
    void replay_time(std::optional<std::int64_t> recorded) {
        replayed_ = true;
        recorded_ = recorded;
    }

    bool get_version(OsVersion& os) override;
    DriveHandle open_drive(const char* path, std::uint32_t flags) override;
    void close_drive(DriveHandle drive) override;
    // IOCTL_STORAGE_QUERY_PROPERTY from the drive's descriptor; IOCTL_DISK_GET_LENGTH_INFO from
    // its capacity pages.
    bool device_io_control(DriveHandle drive, std::uint32_t code, void* in, std::uint32_t in_size,
                           void* out, std::uint32_t out_size, std::uint32_t* returned) override;
    // Answered by the drive, failing with the Windows error codes its faults name.
    PassThroughResult pass_through(DriveHandle drive, const PassThroughRequest& request) override;
    std::uint32_t last_error() override { return last_error_; }
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

    // Each simulated drive's own bridge.
    std::optional<UsbId> usb_id(std::int32_t drive) override;

    std::size_t open_handles() const { return open_.size(); }

  private:
    bool query_property(const SimDrive& drive, const void* in, std::uint32_t in_size, void* out,
                        std::uint32_t out_size, std::uint32_t* returned);
    bool query_length(const SimDrive& drive, void* out, std::uint32_t out_size,
                      std::uint32_t* returned);
    bool fail(std::uint32_t error);
    PassThroughResult failed_pass_through(std::uint32_t error);

    Platform& host_;
    std::vector<SimDrive*> drives_;
    bool replayed_ = false;
    std::optional<std::int64_t> recorded_;
    std::map<DriveHandle, SimDrive*> open_;
    DriveHandle next_handle_ = 0x5100;
    std::uint32_t last_error_ = 0;
};

}  // namespace torvik
