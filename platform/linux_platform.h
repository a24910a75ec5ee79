// Linux: physical drives are the whole disks of /sys/block, numbered in natural name order; the
// storage descriptor is answered from sysfs; pass-through requests travel as SG_IO.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/linux_disk_names.h"
#include "platform/linux_sg_io.h"
#include "platform/platform.h"

namespace torvik {

class LinuxPlatform : public Platform {
  public:
    // Both roots can be pointed at a fake tree in tests.
    explicit LinuxPlatform(std::string sysfs_root = "/sys", std::string dev_root = "/dev",
                           std::string os_release = "/etc/os-release");
    ~LinuxPlatform() override;
    LinuxPlatform(const LinuxPlatform&) = delete;
    LinuxPlatform& operator=(const LinuxPlatform&) = delete;

    bool get_version(OsVersion& os) override;
    DriveHandle open_drive(const char* path, std::uint32_t flags) override;
    void close_drive(DriveHandle drive) override;
    bool device_io_control(DriveHandle drive, std::uint32_t code, void* in, std::uint32_t in_size,
                           void* out, std::uint32_t out_size, std::uint32_t* returned) override;
    // SG_IO on the disk's SCSI generic node when it has one, else on its block node.
    PassThroughResult pass_through(DriveHandle drive, const PassThroughRequest& request) override;
    std::uint32_t last_error() override { return last_error_; }
    std::intptr_t shell_open(const char* file) override;
    KeyState wait_key(int timeout_ms) override;
    int read_key() override;
    // /dev/sdX and its /dev/sgN; a /dev node, or a link to one, as its drive number.
    DriveNames drive_names(std::int32_t drive) override;
    std::int32_t find_drive(const char* os_path, bool& missing) override;
    ErrorKind error_kind(std::uint32_t error) const override;
    // The idVendor and idProduct of the USB device above the disk's device in sysfs.
    std::optional<UsbId> usb_id(std::int32_t drive) override;

    // The whole disks in drive-number order (block device names such as "sda").
    std::vector<std::string> list_disks() const;

    // Replaces the SG_IO ioctl (tests run the translation against a fake).
    void set_sg_io(SgIoFunction sg_io) { sg_io_ = std::move(sg_io); }
    // Replaces open(2) of the disk nodes (tests refuse it as the kernel refuses an ordinary user).
    using NodeOpenFunction = std::function<int(const char* node, int flags)>;
    void set_open_node(NodeOpenFunction open_node) { open_node_ = std::move(open_node); }

  private:
    struct OpenDrive {
        int fd = -1;
        std::string name;  // block device name, e.g. "sdb"
        int sg_fd = -1;    // the disk's SCSI generic node, when it has one
    };

    bool query_storage_property(const OpenDrive& drive, void* out, std::uint32_t out_size,
                                std::uint32_t* returned);
    bool query_length(const OpenDrive& drive, void* out, std::uint32_t out_size,
                      std::uint32_t* returned);
    int open_scsi_generic(const std::string& name) const;
    int open_node(const std::string& node) const;
    std::uint8_t bus_type_of(const std::string& name) const;
    OpenDrive* find(DriveHandle drive);

    std::string sysfs_root_;
    std::string dev_root_;
    std::string os_release_;
    std::vector<OpenDrive> drives_;  // the handle is an index into this table
    SgIoFunction sg_io_ = sg_io_ioctl;
    NodeOpenFunction open_node_;  // empty: open(2)
    std::uint32_t last_error_ = 0;
    bool raw_console_ = false;
    unsigned char saved_termios_[128] = {};  // struct termios, kept opaque in this header
};

}  // namespace torvik
