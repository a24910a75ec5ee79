#include "tests/e2e/usbdev/bot.h"

#include <algorithm>
#include <cstring>

#include "common/bytes.h"

namespace torvik::usbdev {

Sense make_sense(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq) {
    Sense sense{};
    sense[0] = 0x70;  // current error, fixed format
    sense[2] = key;
    sense[7] = kSenseSize - 8;  // additional sense length
    sense[12] = asc;
    sense[13] = ascq;
    return sense;
}

ScsiReply check_condition(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq) {
    ScsiReply reply;
    reply.kind = ScsiReply::Kind::check_condition;
    reply.sense = make_sense(key, asc, ascq);
    return reply;
}

bool parse_cbw(const std::uint8_t* bytes, std::size_t size, Cbw& cbw) {
    if (size != kCbwSize || get_le32(bytes) != kCbwSignature)
        return false;
    const std::uint8_t cdb_length = bytes[14] & 0x1F;
    if (cdb_length < 1 || cdb_length > 16)
        return false;
    cbw = Cbw{};
    cbw.tag = get_le32(bytes + 4);
    cbw.command.transfer_length = get_le32(bytes + 8);
    cbw.command.data_in = (bytes[12] & 0x80) != 0;
    cbw.command.lun = bytes[13] & 0x0F;
    cbw.command.cdb_length = cdb_length;
    std::memcpy(cbw.command.cdb.data(), bytes + 15, cdb_length);
    return true;
}

std::array<std::uint8_t, kCswSize> make_csw(std::uint32_t tag, std::uint32_t residue,
                                            CswStatus status) {
    std::array<std::uint8_t, kCswSize> csw{};
    put_le32(csw.data(), kCswSignature);
    put_le32(csw.data() + 4, tag);
    put_le32(csw.data() + 8, residue);
    csw[12] = static_cast<std::uint8_t>(status);
    return csw;
}

std::uint32_t BotSession::request_sense(const ScsiCommand& command, std::uint8_t* data,
                                        std::size_t capacity) {
    // Without a failed command before it, REQUEST SENSE reports NO SENSE.
    const Sense sense = has_sense_ ? sense_ : make_sense(0, 0, 0);
    has_sense_ = false;
    const std::size_t allocation = command.cdb[4];
    const std::size_t n = std::min({allocation, sense.size(), capacity});
    std::memcpy(data, sense.data(), n);
    return static_cast<std::uint32_t>(n);
}

BotPlan BotSession::run(const Cbw& cbw, std::uint8_t* data, std::size_t capacity) {
    const ScsiCommand& command = cbw.command;
    ScsiReply reply;
    if (command.lun != 0) {
        reply = check_condition(kSenseIllegalRequest, kAscLunNotSupported);
    } else if (command.cdb[0] == kOpRequestSense) {
        reply.data_length = request_sense(command, data, capacity);
    } else {
        reply = responder_.answer(command, data, capacity);
    }

    BotPlan plan;
    if (reply.kind == ScsiReply::Kind::no_reply) {
        plan.send_csw = false;
        return plan;
    }
    // Any command but REQUEST SENSE replaces the sense of the one before it.
    if (command.cdb[0] != kOpRequestSense) {
        has_sense_ = reply.kind == ScsiReply::Kind::check_condition;
        sense_ = reply.sense;
    }

    const CswStatus status =
        reply.kind == ScsiReply::Kind::good ? CswStatus::passed : CswStatus::failed;
    std::uint32_t residue = 0;
    if (command.data_in && command.transfer_length > 0) {
        const auto sent = static_cast<std::uint32_t>(
            std::min<std::uint64_t>({reply.data_length, command.transfer_length, capacity}));
        plan.data_in_length = sent;
        plan.halt_in = sent < command.transfer_length;
        residue = command.transfer_length - sent;
    } else if (!command.data_in && status == CswStatus::failed) {
        residue = command.transfer_length;  // read from the host, but not processed
    }
    plan.csw = make_csw(cbw.tag, residue, status);
    return plan;
}

}  // namespace torvik::usbdev
