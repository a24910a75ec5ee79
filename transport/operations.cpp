#include "transport/operations.h"

#include <array>
#include <cstring>

#include "common/bytes.h"
#include "platform/pass_through_record.h"
#include "transport/commands.h"
#include "transport/request.h"

namespace torvik {

namespace {

enum class FailureLine { plain, tunnel };

void print_failure(DriveLink& link, FailureLine line) {
    const unsigned error = link.platform.last_error();
    if (line == FailureLine::tunnel) {
        std::fprintf(link.console, "IOCtl: ASM Id/Smart failed 0x%x!\n", error);
    } else {
        std::fprintf(link.console, "IOCtl: failed 0x%x!\n", error);
    }
}

// One request of a command with the transfer limit. buffer supplies the data of a data-out
// request and receives the data of a data-in request; after a failure it is not written.
bool transfer(DriveLink& link, const RequestParams& params, std::uint8_t* buffer,
              FailureLine line) {
    const std::uint32_t length = params.transfer_length;
    if (length > kMaxTransfer) {
        std::fprintf(link.console, "Max Size exceed(%u>%u)!\n", static_cast<unsigned>(length),
                     static_cast<unsigned>(kMaxTransfer));
        return false;
    }
    Request request(params);
    const bool has_data = length != 0 && buffer != nullptr;
    if (!params.data_in && has_data) {
        std::memcpy(request.data(), buffer, length);
    }
    if (!request.send(link)) {
        print_failure(link, line);
        return false;
    }
    if (params.data_in && has_data) {
        std::memcpy(buffer, request.data(), length);
    }
    return true;
}

RequestParams vendor_params(const Cdb& cdb, std::uint32_t length, Direction direction) {
    // No sense data is asked for. Anything but data out reads: the safe direction.
    return RequestParams{cdb, 0, false, direction != Direction::data_out, length};
}

}  // namespace

int scsi_inquiry(DriveLink& link, std::uint8_t* dest, std::uint32_t length) {
    if (link.disk == kInvalidDriveHandle) {
        return 0;
    }
    if (length > kMaxInquiryLength) {
        if (dest != nullptr) {
            std::memset(dest, 0, length);
        }
        return 0;
    }
    const RequestParams params{inquiry_cdb(static_cast<std::uint8_t>(length)), kSenseAreaSize, true,
                               true, length};
    Request request(params);
    const bool ok = request.send(link);
    // After a failed call these are the zeros the buffer was cleared to.
    if (dest != nullptr && length != 0) {
        std::memcpy(dest, request.data(), length);
    }
    return ok ? 1 : 0;
}

std::uint32_t scsi_read_capacity10(DriveLink& link, std::uint8_t* dest) {
    constexpr std::uint32_t kLength = command_info(CommandId::read_capacity10).length;
    std::array<std::uint8_t, kLength> reply{};
    const RequestParams params{read_capacity10_cdb(), kSenseAreaSize, false, true, kLength};
    if (!transfer(link, params, reply.data(), FailureLine::plain)) {
        return 0;
    }
    if (dest != nullptr) {
        std::memcpy(dest, reply.data(), kLength);
    }
    return get_be32(reply.data());
}

int scsi_read_capacity16(DriveLink& link, std::uint8_t* dest) {
    constexpr std::uint32_t kLength = command_info(CommandId::read_capacity16).length;
    const RequestParams params{read_capacity16_cdb(kLength), kSenseAreaSize, false, true, kLength};
    return transfer(link, params, dest, FailureLine::plain) ? 1 : 0;
}

int vendor_command12(DriveLink& link, std::uint8_t* buffer, std::uint16_t code,
                     std::uint32_t length, Direction direction) {
    return transfer(link, vendor_params(vendor12_cdb(code), length, direction), buffer,
                    FailureLine::plain)
               ? 1
               : 0;
}

int vendor_command16(DriveLink& link, std::uint8_t* buffer, std::uint32_t code,
                     std::uint32_t length, Direction direction) {
    return transfer(link, vendor_params(vendor16_cdb(code), length, direction), buffer,
                    FailureLine::plain)
               ? 1
               : 0;
}

int nvme_tunnel(DriveLink& link, std::uint8_t* buffer, std::uint32_t length,
                const NvmeCommandBlock& block) {
    const RequestParams params{tunnel_cdb(block), kSenseAreaSize, false, true, length};
    return transfer(link, params, buffer, FailureLine::tunnel) ? 1 : 0;
}

int nvme_identify(DriveLink& link, std::uint8_t* buffer, bool* request_failed) {
    const CommandInfo& info = command_info(CommandId::nvme_identify);
    const NvmeCommandBlock block =
        nvme_command_block(static_cast<std::uint8_t>(info.code), 0, kNvmeIdentifyCnsController);
    std::array<std::uint8_t, command_info(CommandId::nvme_identify).length> reply{};
    const bool sent = nvme_tunnel(link, reply.data(), info.length, block) != 0;
    if (request_failed != nullptr)
        *request_failed = !sent;
    if (!sent) {
        return 0;
    }
    if (buffer != nullptr) {
        std::memcpy(buffer, reply.data(), reply.size());
    }
    // A bridge that completes the command without sending anything leaves only zeros.
    std::uint8_t any = 0;
    for (const std::uint8_t byte : reply) {
        any |= byte;
    }
    return any != 0 ? 1 : 0;
}

int nvme_smart_log(DriveLink& link, std::uint8_t* buffer) {
    const CommandInfo& info = command_info(CommandId::nvme_smart_log);
    // Command dword 10: the number of dwords minus one in the upper half, the log identifier in
    // the low byte.
    const std::uint32_t cdw10 = ((info.length / 4 - 1) << 16) | kNvmeSmartHealthLogId;
    const NvmeCommandBlock block =
        nvme_command_block(static_cast<std::uint8_t>(info.code), kNvmeAllNamespaces, cdw10);
    return nvme_tunnel(link, buffer, info.length, block);
}

}  // namespace torvik
