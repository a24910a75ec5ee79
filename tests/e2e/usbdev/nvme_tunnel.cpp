#include "tests/e2e/usbdev/nvme_tunnel.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace torvik::usbdev {

namespace {

constexpr std::uint8_t kOpBridgeTunnel = 0xE6;

// Status code types and codes of the NVMe status field.
constexpr std::uint16_t kStatusMask = 0x07FF;  // without More, Do Not Retry and retry delay
constexpr std::uint16_t kInvalidOpcode = 0x0001;
constexpr std::uint16_t kInvalidField = 0x0002;
constexpr std::uint16_t kInvalidLogPage = 0x0109;  // command specific, code 09h

constexpr std::uint8_t kSenseHardwareError = 0x04;
constexpr std::uint8_t kAscInternalTargetFailure = 0x44;

}  // namespace

std::optional<NvmeAdminCommand> tunnel_to_admin(const ScsiCommand& command,
                                                std::optional<std::uint8_t> log_id_override) {
    if (command.cdb[0] != kOpBridgeTunnel || !command.data_in || command.transfer_length == 0)
        return std::nullopt;
    NvmeAdminCommand admin;
    admin.opcode = command.cdb[1];
    switch (admin.opcode) {
        case kNvmeIdentify:
            admin.cdw10 = command.cdb[3];
            admin.data_length = kNvmeIdentifySize;
            return admin;
        case kNvmeGetLogPage: {
            if (command.transfer_length % 4 != 0)
                return std::nullopt;
            const std::uint32_t dwords_minus_one = command.transfer_length / 4 - 1;
            admin.nsid = kNvmeAllNamespaces;
            const std::uint8_t log_id = log_id_override.value_or(command.cdb[3]);
            admin.cdw10 = (dwords_minus_one & 0xFFFF) << 16 | log_id;
            admin.cdw11 = dwords_minus_one >> 16;
            admin.data_length = command.transfer_length;
            return admin;
        }
        default:
            return std::nullopt;
    }
}

ScsiReply reply_for_status(std::uint16_t status) {
    switch (status & kStatusMask) {
        case kInvalidOpcode:
            return check_condition(kSenseIllegalRequest, kAscInvalidOpcode);
        case kInvalidField:
        case kInvalidLogPage:
            return check_condition(kSenseIllegalRequest, kAscInvalidFieldInCdb);
        default:
            return check_condition(kSenseHardwareError, kAscInternalTargetFailure);
    }
}

ScsiReply NvmeTunnelResponder::answer(const ScsiCommand& command, std::uint8_t* data,
                                      std::size_t capacity) {
    if (command.cdb[0] != kOpBridgeTunnel)
        return inner_.answer(command, data, capacity);
    const std::optional<NvmeAdminCommand> admin = tunnel_to_admin(command, log_id_override_);
    if (!admin) {
        if (log_ != nullptr)
            std::fprintf(log_, "nvme: not forwarded, opcode=%02x\n", command.cdb[1]);
        return check_condition(kSenseIllegalRequest, kAscInvalidFieldInCdb);
    }
    // The controller always moves its whole structure; the host gets what it asked for of it.
    std::array<std::uint8_t, kNvmeIdentifySize> identify{};
    std::uint8_t* target = admin->opcode == kNvmeIdentify ? identify.data() : data;
    if (admin->data_length > capacity && target == data)
        return check_condition(kSenseIllegalRequest, kAscInvalidFieldInCdb);
    const NvmeAdminResult result = admin_.run(*admin, target);
    if (log_ != nullptr) {
        std::fprintf(log_,
                     "nvme: opcode=%02x nsid=%08x cdw10=%08x cdw11=%08x len=%u -> status=%04x "
                     "error=%d\n",
                     admin->opcode, admin->nsid, admin->cdw10, admin->cdw11, admin->data_length,
                     result.status, result.error);
    }
    if (result.error != 0)
        return check_condition(kSenseHardwareError, kAscInternalTargetFailure);
    if (result.status != 0)
        return reply_for_status(result.status);
    ScsiReply reply;
    reply.data_length = static_cast<std::uint32_t>(
        std::min<std::size_t>({command.transfer_length, admin->data_length, capacity}));
    if (target != data)
        std::memcpy(data, target, reply.data_length);
    return reply;
}

}  // namespace torvik::usbdev
