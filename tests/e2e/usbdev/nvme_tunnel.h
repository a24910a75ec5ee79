// The bridge's 0xE6 tunnel carried to a real NVMe controller: the tunnel CDB becomes an NVMe
// admin command, the controller's data go back over USB, and a status it reports becomes CHECK
// CONDITION, as a USB-to-NVMe bridge reports a rejected command. Everything else still goes to the
// drive model behind it, so the controller's vendor pages keep coming from the device's profile.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "tests/e2e/usbdev/responder.h"

namespace torvik::usbdev {

inline constexpr std::uint8_t kNvmeGetLogPage = 0x02;
inline constexpr std::uint8_t kNvmeIdentify = 0x06;
inline constexpr std::uint32_t kNvmeIdentifySize = 4096;
inline constexpr std::uint32_t kNvmeAllNamespaces = 0xFFFFFFFF;

// One admin command as the kernel's pass-through carries it; the other dwords are zero.
struct NvmeAdminCommand {
    std::uint8_t opcode = 0;
    std::uint32_t nsid = 0;
    std::uint32_t cdw10 = 0;
    std::uint32_t cdw11 = 0;
    std::uint32_t data_length = 0;  // bytes the controller moves to the host
};

// The controller's answer: `status` is the NVMe status field (0 for success; bits 10..8 the
// status code type, 7..0 the status code), `error` the system's error code when the call itself
// failed (the controller never saw the command).
struct NvmeAdminResult {
    int error = 0;
    std::uint16_t status = 0;
};

// The platform seam of the forwarding: one admin command with a data-in buffer.
class NvmeAdmin {
  public:
    virtual ~NvmeAdmin() = default;
    virtual NvmeAdminResult run(const NvmeAdminCommand& command, std::uint8_t* data) = 0;
};

// The admin command a tunnel CDB stands for, with `transfer_length` bytes in:
//   byte 0  0xE6             byte 3  bits 7..0 of command dword 10
//   byte 1  the NVMe opcode  others  not carried
// Identify (0x06): CNS from byte 3, namespace 0, always 4096 bytes from the controller.
// Get Log Page (0x02): log identifier from byte 3, all namespaces, the dword count (split over
// dwords 10 and 11) from the transfer length. `log_id_override`, when set, replaces the log
// identifier: a bridge that garbles it, so the controller rejects the command.
// None for a CDB that is not a data-in tunnel read of those two (the bridge never lets through
// an admin command that could change the controller), or a log length that is not whole dwords.
std::optional<NvmeAdminCommand> tunnel_to_admin(const ScsiCommand& command,
                                                std::optional<std::uint8_t> log_id_override);

// The reply to the host for a controller's non-zero status: CHECK CONDITION, ILLEGAL REQUEST with
// INVALID COMMAND OPERATION CODE (invalid opcode) or INVALID FIELD IN CDB (invalid field, invalid
// log page), HARDWARE ERROR with INTERNAL TARGET FAILURE for any other status.
ScsiReply reply_for_status(std::uint16_t status);

class NvmeTunnelResponder : public Responder {
  public:
    // `log` (may be null) gets one line per forwarded command.
    NvmeTunnelResponder(Responder& inner, NvmeAdmin& admin,
                        std::optional<std::uint8_t> log_id_override, std::FILE* log)
        : inner_(inner), admin_(admin), log_id_override_(log_id_override), log_(log) {}

    ScsiReply answer(const ScsiCommand& command, std::uint8_t* data, std::size_t capacity) override;

  private:
    Responder& inner_;
    NvmeAdmin& admin_;
    std::optional<std::uint8_t> log_id_override_;
    std::FILE* log_;
};

// The kernel's admin pass-through on an NVMe controller node (/dev/nvme0). Null, with the reason
// in `error`, when the node cannot be opened.
std::unique_ptr<NvmeAdmin> open_nvme_admin(const std::string& path, std::string& error);

}  // namespace torvik::usbdev
