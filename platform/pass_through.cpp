#include "platform/pass_through.h"

#include <utility>

#include "common/bytes.h"

namespace torvik {

namespace {

bool a1_rest_zero(const PassThroughRequest& request) {
    for (std::size_t i = 6; i < kA1CdbLength; ++i) {
        if (request.cdb[i] != 0)
            return false;
    }
    return request.cdb[2] == 0 && request.cdb_length == kA1CdbLength;
}

bool request_reads(const PassThroughRequest& request) {
    if (request.cdb[0] != kA1Opcode)
        return request.direction == DataDirection::in && is_read_only_opcode(request.cdb[0]);
    if (!a1_rest_zero(request) || get_be24(request.cdb.data() + 3) != request.transfer_length)
        return false;
    if (request.direction == DataDirection::out) {
        return request.cdb[1] == (kA1Admin | kA1PhaseCommand) &&
               request.transfer_length == kA1BlockLength && a1_command_block_reads(request.data);
    }
    return request.direction == DataDirection::in &&
           (request.cdb[1] == (kA1Admin | kA1PhaseData) ||
            (request.cdb[1] == (kA1Admin | kA1PhaseCompletion) &&
             request.transfer_length == kA1BlockLength));
}

}  // namespace

bool a1_command_block_reads(const std::uint8_t* block) {
    if (block == nullptr || get_le32(block) != kA1Signature ||
        !is_tunnel_nvme_opcode(get_le32(block + 8)))
        return false;
    for (std::size_t dword = 1; dword < kA1BlockLength / 4; ++dword) {
        const bool free = dword == 2 || dword == 3 || (dword >= 12 && dword <= 17);
        if (!free && get_le32(block + dword * 4) != 0)
            return false;
    }
    return true;
}

std::uint32_t refusal(const PassThroughRequest& request, const PassThroughRefusals& refusals) {
    const bool malformed = request.cdb_length == 0 || request.cdb_length > kMaxCdbLength ||
                           request.sense_length > kMaxSenseLength ||
                           (request.transfer_length != 0 &&
                            (request.direction == DataDirection::none || request.data == nullptr ||
                             request.transfer_length > kMaxPassThroughTransfer));
    if (malformed)
        return refusals.invalid_parameter;
    return request_reads(request) ? 0 : refusals.access_denied;
}

PassThroughResult failed_call(std::uint32_t error, std::string error_text) {
    PassThroughResult result;
    result.error = error;
    result.error_text = std::move(error_text);
    return result;
}

}  // namespace torvik
