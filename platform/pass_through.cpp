#include "platform/pass_through.h"

#include <utility>

namespace torvik {

std::uint32_t refusal(const PassThroughRequest& request, const PassThroughRefusals& refusals) {
    const bool malformed = request.cdb_length == 0 || request.cdb_length > kMaxCdbLength ||
                           request.sense_length > kMaxSenseLength ||
                           (request.transfer_length != 0 &&
                            (request.direction == DataDirection::none || request.data == nullptr ||
                             request.transfer_length > kMaxPassThroughTransfer));
    if (malformed)
        return refusals.invalid_parameter;
    const bool reads =
        request.direction == DataDirection::in && is_read_only_opcode(request.cdb[0]);
    return reads ? 0 : refusals.access_denied;
}

PassThroughResult failed_call(std::uint32_t error, std::string error_text) {
    PassThroughResult result;
    result.error = error;
    result.error_text = std::move(error_text);
    return result;
}

}  // namespace torvik
