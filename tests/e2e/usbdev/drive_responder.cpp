#include "tests/e2e/usbdev/drive_responder.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "common/bytes.h"

namespace torvik::usbdev {

namespace {

constexpr std::uint8_t kOpInquiry = 0x12;
constexpr std::uint8_t kOpReadCapacity10 = 0x25;
constexpr std::uint8_t kOpServiceActionIn16 = 0x9E;
constexpr std::uint8_t kServiceReadCapacity16 = 0x10;
constexpr std::uint8_t kOpVendor = 0x06;
constexpr std::uint8_t kOpBridgeTunnel = 0xE6;

std::string text_field(const std::uint8_t* p, std::size_t width) {
    return std::string(reinterpret_cast<const char*>(p), width);
}

SimAnswer run_model(const DriveModel& model, const std::vector<std::uint8_t>& cdb,
                    std::uint32_t length, std::vector<std::uint8_t>& data) {
    ScsiCommand command;
    std::copy(cdb.begin(), cdb.end(), command.cdb.begin());
    command.cdb_length = static_cast<std::uint8_t>(cdb.size());
    command.transfer_length = length;
    data.assign(length, 0);
    return model(to_sim_request(command), data.data());
}

}  // namespace

bool is_drive_command(const ScsiCommand& command) {
    const std::uint8_t* cdb = command.cdb.data();
    switch (cdb[0]) {
        case kOpInquiry:
            return (cdb[1] & 0x01) == 0;  // vital product data pages are the bridge's business
        case kOpReadCapacity10:
        case kOpVendor:
        case kOpBridgeTunnel:
            return true;
        case kOpServiceActionIn16:
            return (cdb[1] & 0x1F) == kServiceReadCapacity16;
        default:
            return false;
    }
}

SimRequest to_sim_request(const ScsiCommand& command) {
    SimRequest request;
    request.cdb = command.cdb;
    request.cdb_length = command.cdb_length;
    request.data_in = command.data_in;
    request.transfer_length = command.transfer_length;
    return request;
}

DiskIdentity identity_of(const DriveModel& model, DiskIdentity base) {
    std::vector<std::uint8_t> data;
    if (run_model(model, {kOpInquiry, 0, 0, 0, 36, 0}, 36, data).status ==
        SimAnswer::Status::good) {
        base.vendor = text_field(data.data() + 8, 8);
        base.product = text_field(data.data() + 16, 16);
        base.revision = text_field(data.data() + 32, 4);
    }
    if (run_model(model, {kOpReadCapacity10, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8, data).status ==
            SimAnswer::Status::good &&
        get_be32(data.data() + 4) != 0) {
        base.last_lba = get_be32(data.data());
        base.block_size = get_be32(data.data() + 4);
        if (base.last_lba == 0xFFFFFFFF && run_model(model,
                                                     {kOpServiceActionIn16, kServiceReadCapacity16,
                                                      0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 32, 0, 0},
                                                     32, data)
                                                   .status == SimAnswer::Status::good) {
            base.last_lba = get_be64(data.data());
        }
    }
    return base;
}

ScsiReply DriveResponder::answer(const ScsiCommand& command, std::uint8_t* data,
                                 std::size_t capacity) {
    if (!is_drive_command(command))
        return host_commands_.answer(command, data, capacity);
    ScsiCommand bounded = command;
    bounded.transfer_length =
        static_cast<std::uint32_t>(std::min<std::size_t>(command.transfer_length, capacity));
    const SimAnswer answer = model_(to_sim_request(bounded), data);
    ScsiReply reply;
    switch (answer.status) {
        case SimAnswer::Status::good:
            reply.data_length = std::min(answer.data_length, bounded.transfer_length);
            break;
        case SimAnswer::Status::check_condition:
            reply.kind = ScsiReply::Kind::check_condition;
            std::copy(answer.sense.begin(), answer.sense.end(), reply.sense.begin());
            break;
        case SimAnswer::Status::platform_error:
            reply.kind = ScsiReply::Kind::no_reply;
            break;
    }
    return reply;
}

}  // namespace torvik::usbdev
