#include "transport/operations.h"

#include <array>
#include <cstring>

#include "common/bytes.h"
#include "scsi/commands.h"

namespace torvik {

namespace {

enum class FailureLine { plain, tunnel };

void print_failure(DriveLink& link, FailureLine line, std::uint32_t error) {
    if (line == FailureLine::tunnel) {
        std::fprintf(link.console, "IOCtl: ASM Id/Smart failed 0x%x!\n",
                     static_cast<unsigned>(error));
    } else {
        std::fprintf(link.console, "IOCtl: failed 0x%x!\n", static_cast<unsigned>(error));
    }
}

// A request that was never sent: it fails, and the last error stays what it was.
CommandResult refused(DriveLink& link) {
    CommandResult result;
    result.error = link.platform.last_error();
    return result;
}

// One request of a command with the transfer limit; buffer receives the data when the command is
// done and is not written after a failure.
CommandResult transfer(DriveLink& link, const RequestParams& params, std::uint8_t* buffer,
                       FailureLine line) {
    const std::uint32_t length = params.transfer_length;
    if (length > kMaxTransfer) {
        std::fprintf(link.console, "Max Size exceed(%u>%u)!\n", static_cast<unsigned>(length),
                     static_cast<unsigned>(kMaxTransfer));
        return refused(link);
    }
    const CommandResult result = send_request(link, params, buffer);
    if (!result.ok()) {
        print_failure(link, line, result.error);
    }
    return result;
}

RequestParams vendor_params(const Cdb& cdb, std::uint32_t length) {
    return RequestParams{cdb, 0, length};  // no sense data is asked for
}

}  // namespace

CommandResult scsi_inquiry(DriveLink& link, std::uint8_t* dest, std::uint32_t length) {
    if (link.disk == kInvalidDriveHandle) {
        return refused(link);
    }
    if (length > kMaxInquiryLength) {
        if (dest != nullptr) {
            std::memset(dest, 0, length);
        }
        return refused(link);
    }
    const RequestParams params{inquiry_cdb(static_cast<std::uint8_t>(length)), kRequestSenseLength,
                               length};
    // After a failed call the caller gets these zeros.
    std::uint8_t reply[kMaxInquiryLength] = {};
    const CommandResult result = send_request(link, params, reply);
    if (dest != nullptr && length != 0) {
        std::memcpy(dest, reply, length);
    }
    return result;
}

CommandResult scsi_read_capacity10(DriveLink& link, std::uint8_t* dest) {
    constexpr std::uint32_t kLength = command_info(CommandId::read_capacity10).length;
    const RequestParams params{read_capacity10_cdb(), kRequestSenseLength, kLength};
    return transfer(link, params, dest, FailureLine::plain);
}

CommandResult scsi_read_capacity16(DriveLink& link, std::uint8_t* dest) {
    constexpr std::uint32_t kLength = command_info(CommandId::read_capacity16).length;
    const RequestParams params{read_capacity16_cdb(kLength), kRequestSenseLength, kLength};
    return transfer(link, params, dest, FailureLine::plain);
}

CommandResult vendor_command12(DriveLink& link, std::uint8_t* buffer, std::uint16_t code,
                               std::uint32_t length) {
    return transfer(link, vendor_params(vendor12_cdb(code), length), buffer, FailureLine::plain);
}

CommandResult vendor_command16(DriveLink& link, std::uint8_t* buffer, std::uint32_t code,
                               std::uint32_t length) {
    return transfer(link, vendor_params(vendor16_cdb(code), length), buffer, FailureLine::plain);
}

namespace {

// A framed form's read, in the 0xA1 form's blocks: the command block goes out, the page comes in,
// then the completion block.
CommandResult framed_read(DriveLink& link, const TunnelFormInfo& form, std::uint8_t* buffer,
                          std::uint32_t length, const NvmeCommandBlock& block) {
    const A1CommandBlock command = a1_command_block(block);
    const RequestParams out{form.cdb(block, TunnelStep::command, kA1BlockLength),
                            kRequestSenseLength, kA1BlockLength};
    CommandResult sent = send_data_out(link, out, command.data());
    if (!sent.ok()) {
        print_failure(link, FailureLine::tunnel, sent.error);
        return sent;
    }
    if (sent.outcome == CommandOutcome::check_condition) {
        if (buffer != nullptr)
            std::memset(buffer, 0, length);
        return sent;
    }
    const RequestParams in{form.cdb(block, TunnelStep::data, length), kRequestSenseLength, length};
    CommandResult page = transfer(link, in, buffer, FailureLine::tunnel);
    if (!page.ok() || page.outcome == CommandOutcome::check_condition)
        return page;
    std::array<std::uint8_t, kA1BlockLength> completion{};
    const RequestParams done{form.cdb(block, TunnelStep::completion, kA1BlockLength),
                             kRequestSenseLength, kA1BlockLength};
    const CommandResult ended = transfer(link, done, completion.data(), FailureLine::tunnel);
    if (!ended.ok() || ended.outcome == CommandOutcome::check_condition) {
        if (ended.ok() && buffer != nullptr)
            std::memset(buffer, 0, length);
        return ended;
    }
    const A1Completion check = a1_completion(completion.data());
    if (check.ok())
        return page;
    if (link.err != nullptr) {
        if (!check.signature) {
            std::fprintf(link.err,
                         "NVMe read 0x%02x through the USB bridge: its completion block lacks "
                         "the signature; read failed\n",
                         static_cast<unsigned>(block[kNvmeOpcodeByte]));
        } else {
            std::fprintf(link.err,
                         "NVMe read 0x%02x through the USB bridge ended with NVMe status 0x%x; "
                         "read failed\n",
                         static_cast<unsigned>(block[kNvmeOpcodeByte]),
                         static_cast<unsigned>(check.status));
        }
    }
    if (buffer != nullptr)
        std::memset(buffer, 0, length);
    page.outcome = CommandOutcome::check_condition;
    page.received = 0;
    return page;
}

// One bridge read of the command table through the tunnel of the given form.
CommandResult bridge_read(DriveLink& link, CommandId id, std::uint8_t* buffer, BridgeForm form) {
    const CommandInfo& info = command_info(id);
    const NvmeCommandBlock block = nvme_command_block(static_cast<std::uint8_t>(info.code),
                                                      info.nvme_namespace, info.nvme_cdw10);
    return nvme_tunnel(link, buffer, info.length, block, form);
}

}  // namespace

CommandResult nvme_tunnel(DriveLink& link, std::uint8_t* buffer, std::uint32_t length,
                          const NvmeCommandBlock& block, BridgeForm form) {
    const TunnelFormInfo& tunnel = tunnel_form(form);
    if (length > tunnel.max_transfer) {
        std::fprintf(link.console, "Max Size exceed(%u>%u)!\n", static_cast<unsigned>(length),
                     static_cast<unsigned>(tunnel.max_transfer));
        return refused(link);
    }
    if (tunnel.framed)
        return framed_read(link, tunnel, buffer, length, block);
    const RequestParams params{tunnel.cdb(block, TunnelStep::data, length), kRequestSenseLength,
                               length};
    return transfer(link, params, buffer, FailureLine::tunnel);
}

IdentifyResult nvme_identify(DriveLink& link, std::uint8_t* buffer, BridgeForm form) {
    ReplyArea<CommandId::nvme_identify> reply{};
    IdentifyResult result;
    result.request = bridge_read(link, CommandId::nvme_identify, reply.data(), form);
    if (!result.request.ok()) {
        return result;
    }
    if (buffer != nullptr) {
        std::memcpy(buffer, reply.data(), reply.size());
    }
    // A bridge that completes the command without sending anything leaves only zeros.
    std::uint8_t any = 0;
    for (const std::uint8_t byte : reply) {
        any |= byte;
    }
    result.identified = any != 0;
    return result;
}

CommandResult nvme_smart_log(DriveLink& link, std::uint8_t* buffer, BridgeForm form) {
    return bridge_read(link, CommandId::nvme_smart_log, buffer, form);
}

}  // namespace torvik
