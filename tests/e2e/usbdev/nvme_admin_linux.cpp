// The forwarding's platform half: NVMe admin commands through the kernel's pass-through ioctl.
#include <fcntl.h>
#include <linux/nvme_ioctl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tests/e2e/usbdev/nvme_tunnel.h"

namespace torvik::usbdev {

namespace {

class LinuxNvmeAdmin : public NvmeAdmin {
  public:
    explicit LinuxNvmeAdmin(int fd) : fd_(fd) {}
    ~LinuxNvmeAdmin() override { ::close(fd_); }
    LinuxNvmeAdmin(const LinuxNvmeAdmin&) = delete;
    LinuxNvmeAdmin& operator=(const LinuxNvmeAdmin&) = delete;

    NvmeAdminResult run(const NvmeAdminCommand& command, std::uint8_t* data) override {
        nvme_admin_cmd cmd{};
        cmd.opcode = command.opcode;
        cmd.nsid = command.nsid;
        cmd.cdw10 = command.cdw10;
        cmd.cdw11 = command.cdw11;
        cmd.addr = reinterpret_cast<std::uintptr_t>(data);
        cmd.data_len = command.data_length;
        cmd.timeout_ms = 5000;
        NvmeAdminResult result;
        // The ioctl returns the controller's status field, or -1 with errno when the command
        // never reached the controller.
        const int status = ::ioctl(fd_, NVME_IOCTL_ADMIN_CMD, &cmd);
        if (status < 0) {
            result.error = errno;
        } else {
            result.status = static_cast<std::uint16_t>(status);
            result.result = cmd.result;
        }
        return result;
    }

  private:
    int fd_;
};

}  // namespace

std::unique_ptr<NvmeAdmin> open_nvme_admin(const std::string& path, std::string& error) {
    // Read-only: admin pass-through needs the capability, not a writable node.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = std::strerror(errno);
        return nullptr;
    }
    return std::make_unique<LinuxNvmeAdmin>(fd);
}

}  // namespace torvik::usbdev
