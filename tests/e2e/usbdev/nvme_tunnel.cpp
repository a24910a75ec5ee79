#include "tests/e2e/usbdev/nvme_tunnel.h"

#include <algorithm>
#include <cstring>

#include "common/bytes.h"

namespace torvik::usbdev {

namespace {

// Status code types and codes of the NVMe status field.
constexpr std::uint16_t kStatusMask = 0x07FF;  // without More, Do Not Retry and retry delay
constexpr std::uint16_t kInvalidOpcode = 0x0001;
constexpr std::uint16_t kInvalidField = 0x0002;
constexpr std::uint16_t kInvalidLogPage = 0x0109;  // command specific, code 09h

constexpr std::uint8_t kSenseHardwareError = 0x04;
constexpr std::uint8_t kAscInternalTargetFailure = 0x44;
constexpr std::uint8_t kAscInvalidFieldInParameterList = 0x26;
constexpr std::uint8_t kAscCommandSequenceError = 0x2C;

constexpr TunnelForm kForms[] = {TunnelForm::e6, TunnelForm::e4, TunnelForm::a1};

// The admin read of `opcode` with the CDB's dword 10 byte, `transfer_length` bytes in.
std::optional<NvmeAdminCommand> admin_read(std::uint8_t opcode, std::uint8_t cdw10_low,
                                           std::uint32_t transfer_length,
                                           std::optional<std::uint8_t> log_id_override) {
    NvmeAdminCommand admin;
    admin.opcode = opcode;
    switch (opcode) {
        case kNvmeIdentify:
            admin.cdw10 = cdw10_low;
            admin.data_length = kNvmeIdentifySize;
            return admin;
        case kNvmeGetLogPage: {
            if (transfer_length == 0 || transfer_length % 4 != 0)
                return std::nullopt;
            const std::uint32_t dwords_minus_one = transfer_length / 4 - 1;
            admin.nsid = kNvmeAllNamespaces;
            const std::uint8_t log_id = log_id_override.value_or(cdw10_low);
            admin.cdw10 = (dwords_minus_one & 0xFFFF) << 16 | log_id;
            admin.cdw11 = dwords_minus_one >> 16;
            admin.data_length = transfer_length;
            return admin;
        }
        default:
            return std::nullopt;
    }
}

std::uint32_t get_be24(const std::uint8_t* p) {
    return std::uint32_t{p[0]} << 16 | std::uint32_t{p[1]} << 8 | p[2];
}

}  // namespace

std::optional<TunnelForm> parse_tunnel_form(std::string_view name) {
    for (const TunnelForm form : kForms) {
        if (name == tunnel_form_name(form))
            return form;
    }
    return std::nullopt;
}

const char* tunnel_form_name(TunnelForm form) {
    switch (form) {
        case TunnelForm::e6:
            return "e6";
        case TunnelForm::e4:
            return "e4";
        case TunnelForm::a1:
            break;
    }
    return "a1";
}

bool is_tunnel_opcode(std::uint8_t opcode) {
    return std::any_of(std::begin(kForms), std::end(kForms), [opcode](TunnelForm form) {
        return static_cast<std::uint8_t>(form) == opcode;
    });
}

std::optional<NvmeAdminCommand> tunnel_to_admin(const ScsiCommand& command,
                                                std::optional<std::uint8_t> log_id_override) {
    if (!command.data_in || command.transfer_length == 0)
        return std::nullopt;
    const std::uint8_t* cdb = command.cdb.data();
    switch (cdb[0]) {
        case static_cast<std::uint8_t>(TunnelForm::e6):
            return admin_read(cdb[1], cdb[3], command.transfer_length, log_id_override);
        case static_cast<std::uint8_t>(TunnelForm::e4):
            if (get_le16(cdb + 1) != command.transfer_length)
                return std::nullopt;
            return admin_read(cdb[3], cdb[4], command.transfer_length, log_id_override);
        default:
            return std::nullopt;
    }
}

A1Block a1_block_to_admin(const std::uint8_t* block, NvmeAdminCommand& admin) {
    if (get_le32(block) != kA1BlockSignature)
        return A1Block::no_signature;
    const std::uint32_t opcode = get_le32(block + 8);
    for (std::size_t dword = 14; dword < 18; ++dword) {
        if (get_le32(block + 4 * dword) != 0)
            return A1Block::not_forwarded;
    }
    NvmeAdminCommand parsed;
    parsed.opcode = static_cast<std::uint8_t>(opcode);
    parsed.nsid = get_le32(block + 12);
    parsed.cdw10 = get_le32(block + 48);
    parsed.cdw11 = get_le32(block + 52);
    if (opcode == kNvmeIdentify) {
        parsed.data_length = kNvmeIdentifySize;
    } else if (opcode == kNvmeGetLogPage) {
        const std::uint32_t dwords = ((parsed.cdw11 & 0xFFFF) << 16 | parsed.cdw10 >> 16) + 1;
        parsed.data_length = dwords * 4;
    } else {
        admin = parsed;
        return A1Block::not_forwarded;
    }
    admin = parsed;
    return A1Block::command;
}

std::array<std::uint8_t, kA1BlockBytes> a1_completion_block(const NvmeAdminResult& result) {
    std::array<std::uint8_t, kA1BlockBytes> block{};
    put_le32(block.data(), kA1BlockSignature);
    put_le32(block.data() + 8, result.result);
    // Dword 5 is the completion entry's dword 3: the phase tag in bit 16, the status above it.
    put_le32(block.data() + 20, std::uint32_t{result.status} << 17);
    return block;
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

NvmeAdminResult NvmeTunnelResponder::forward(const NvmeAdminCommand& admin, std::uint32_t wanted,
                                             std::uint8_t* data, std::size_t capacity,
                                             std::uint32_t& sent) {
    sent = 0;
    // The controller always moves its whole structure; the host gets what it asked for of it.
    std::array<std::uint8_t, kNvmeIdentifySize> identify{};
    std::uint8_t* target = admin.opcode == kNvmeIdentify ? identify.data() : data;
    NvmeAdminResult result;
    if (target == data && admin.data_length > capacity) {
        if (log_ != nullptr)
            std::fprintf(log_, "nvme: not forwarded, opcode=%02x len=%u: more than the buffer\n",
                         admin.opcode, admin.data_length);
        result.status = kInvalidField;
        return result;
    }
    result = admin_->run(admin, target);
    if (log_ != nullptr) {
        std::fprintf(log_,
                     "nvme: opcode=%02x nsid=%08x cdw10=%08x cdw11=%08x len=%u -> status=%04x "
                     "error=%d\n",
                     admin.opcode, admin.nsid, admin.cdw10, admin.cdw11, admin.data_length,
                     result.status, result.error);
    }
    if (result.error != 0 || result.status != 0)
        return result;
    sent = static_cast<std::uint32_t>(std::min<std::size_t>({wanted, admin.data_length, capacity}));
    if (target != data)
        std::memcpy(data, target, sent);
    return result;
}

ScsiReply NvmeTunnelResponder::one_cdb(const ScsiCommand& command, std::uint8_t* data,
                                       std::size_t capacity) {
    const std::optional<NvmeAdminCommand> admin = tunnel_to_admin(command, log_id_override_);
    if (!admin) {
        if (log_ != nullptr) {
            const std::uint8_t opcode = command.cdb[0] == static_cast<std::uint8_t>(TunnelForm::e4)
                                            ? command.cdb[3]
                                            : command.cdb[1];
            std::fprintf(log_, "nvme: not forwarded, opcode=%02x form=%s\n", opcode,
                         tunnel_form_name(*form_));
        }
        return check_condition(kSenseIllegalRequest, kAscInvalidFieldInCdb);
    }
    ScsiReply reply;
    const NvmeAdminResult result =
        forward(*admin, command.transfer_length, data, capacity, reply.data_length);
    if (result.error != 0)
        return check_condition(kSenseHardwareError, kAscInternalTargetFailure);
    if (result.status != 0)
        return reply_for_status(result.status);
    return reply;
}

ScsiReply NvmeTunnelResponder::a1_phase(const ScsiCommand& command, std::uint8_t* data,
                                        std::size_t capacity) {
    const std::uint8_t* cdb = command.cdb.data();
    const std::uint8_t phase = cdb[1] & 0x0F;
    const bool well_formed = (cdb[1] & 0xF0) == kA1AdminFlag &&
                             get_be24(cdb + 3) == command.transfer_length &&
                             command.transfer_length <= capacity;
    const bool block_phase = phase == kA1CommandPhase || phase == kA1CompletionPhase;
    if (!well_formed || (block_phase && command.transfer_length != kA1BlockBytes) ||
        command.data_in != (phase != kA1CommandPhase)) {
        if (log_ != nullptr)
            std::fprintf(log_, "tunnel: a1 CDB refused: byte 1 %02x, length %u\n", cdb[1],
                         command.transfer_length);
        return check_condition(kSenseIllegalRequest, kAscInvalidFieldInCdb);
    }
    switch (phase) {
        case kA1CommandPhase: {
            a1_pending_.reset();
            a1_done_.reset();
            NvmeAdminCommand admin;
            switch (a1_block_to_admin(data, admin)) {
                case A1Block::command:
                    if (log_ != nullptr)
                        std::fprintf(log_,
                                     "nvme: a1 command block, opcode=%02x nsid=%08x "
                                     "cdw10=%08x cdw11=%08x\n",
                                     admin.opcode, admin.nsid, admin.cdw10, admin.cdw11);
                    if (admin.opcode == kNvmeGetLogPage && log_id_override_)
                        admin.cdw10 = (admin.cdw10 & 0xFFFFFF00) | *log_id_override_;
                    a1_pending_ = admin;
                    return ScsiReply{};
                case A1Block::no_signature:
                    if (log_ != nullptr)
                        std::fprintf(log_, "nvme: a1 command block without the signature (%08x)\n",
                                     get_le32(data));
                    break;
                case A1Block::not_forwarded:
                    if (log_ != nullptr)
                        std::fprintf(log_, "nvme: not forwarded, opcode=%02x form=a1\n",
                                     static_cast<unsigned>(get_le32(data + 8) & 0xFF));
                    break;
            }
            return check_condition(kSenseIllegalRequest, kAscInvalidFieldInParameterList);
        }
        case kA1DataPhase: {
            if (!a1_pending_)
                break;
            const NvmeAdminCommand admin = *a1_pending_;
            a1_pending_.reset();
            ScsiReply reply;
            const NvmeAdminResult result =
                forward(admin, command.transfer_length, data, capacity, reply.data_length);
            if (result.error != 0)
                return check_condition(kSenseHardwareError, kAscInternalTargetFailure);
            // A status of the controller's goes back in the completion block; the data phase
            // itself ends well, with whatever the controller left (nothing).
            a1_done_ = result;
            if (result.status != 0)
                reply.data_length = 0;
            return reply;
        }
        case kA1CompletionPhase: {
            if (!a1_done_)
                break;
            const std::array<std::uint8_t, kA1BlockBytes> block = a1_completion_block(*a1_done_);
            if (log_ != nullptr)
                std::fprintf(log_, "nvme: a1 completion status=%04x result=%08x\n",
                             a1_done_->status, a1_done_->result);
            a1_done_.reset();
            std::memcpy(data, block.data(), block.size());
            ScsiReply reply;
            reply.data_length = kA1BlockBytes;
            return reply;
        }
        default:
            return check_condition(kSenseIllegalRequest, kAscInvalidFieldInCdb);
    }
    if (log_ != nullptr)
        std::fprintf(log_, "tunnel: a1 phase %x out of sequence\n", phase);
    a1_pending_.reset();
    a1_done_.reset();
    return check_condition(kSenseIllegalRequest, kAscCommandSequenceError);
}

ScsiReply NvmeTunnelResponder::answer(const ScsiCommand& command, std::uint8_t* data,
                                      std::size_t capacity) {
    const std::uint8_t opcode = command.cdb[0];
    if (!is_tunnel_opcode(opcode))
        return inner_.answer(command, data, capacity);
    if (!form_ || opcode != static_cast<std::uint8_t>(*form_)) {
        if (log_ != nullptr)
            std::fprintf(log_, "tunnel: %02x refused: the bridge speaks %s\n", opcode,
                         form_ ? tunnel_form_name(*form_) : "no tunnel");
        return check_condition(kSenseIllegalRequest, kAscInvalidOpcode);
    }
    if (*form_ == TunnelForm::a1)
        return a1_phase(command, data, capacity);
    return one_cdb(command, data, capacity);
}

}  // namespace torvik::usbdev
