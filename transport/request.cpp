#include "transport/request.h"

#include <cstring>
#include <memory>

namespace torvik {

namespace {

constexpr std::uint8_t kStatusCheckCondition = 0x02;

// Sends the request with the data area given and reads the result's outcome; received is left
// to the caller, which alone knows what came.
CommandResult send(DriveLink& link, const RequestParams& params, DataDirection direction,
                   std::uint8_t* area, PassThroughResult& reply, PassThroughRequest& request) {
    const std::uint32_t length = params.transfer_length;
    request.cdb = params.cdb.bytes;
    request.cdb_length = params.cdb.length;
    request.direction = direction;
    request.data = length != 0 ? area : nullptr;
    request.transfer_length = length;
    request.sense_length = params.sense_length;
    request.timeout_seconds = kRequestTimeoutSeconds;
    reply = link.platform.pass_through(link.disk, request);

    CommandResult result;
    result.error = link.platform.last_error();
    if (!reply.completed)
        return result;
    result.outcome = reply.scsi_status == kStatusCheckCondition
                         ? CommandResult::Outcome::check_condition
                         : CommandResult::Outcome::data;
    return result;
}

}  // namespace

CommandResult send_request(DriveLink& link, const RequestParams& params, std::uint8_t* data) {
    // A private area: the OS may write into it even when the call then fails.
    const std::uint32_t length = params.transfer_length;
    const auto area = std::make_unique_for_overwrite<std::uint8_t[]>(length);
    PassThroughRequest request;
    PassThroughResult reply;
    CommandResult result = send(link, params, DataDirection::in, area.get(), reply, request);
    if (!reply.completed)
        return result;
    result.received = reply.transferred(request);
    if (data != nullptr && length != 0) {
        std::memcpy(data, area.get(), result.received);
        std::memset(data + result.received, 0, length - result.received);
    }
    return result;
}

CommandResult send_data_out(DriveLink& link, const RequestParams& params,
                            const std::uint8_t* data) {
    // A private copy: the request's buffer is writable for data in, and the OS gets its own.
    const std::uint32_t length = params.transfer_length;
    const auto area = std::make_unique_for_overwrite<std::uint8_t[]>(length);
    if (length != 0)
        std::memcpy(area.get(), data, length);
    PassThroughRequest request;
    PassThroughResult reply;
    return send(link, params, DataDirection::out, area.get(), reply, request);
}

}  // namespace torvik
