#include "tests/e2e/usbdev/standard_responder.h"

#include <algorithm>
#include <cstring>

#include "common/bytes.h"

namespace torvik::usbdev {

namespace {

constexpr std::uint8_t kOpTestUnitReady = 0x00;
constexpr std::uint8_t kOpRead6 = 0x08;
constexpr std::uint8_t kOpInquiry = 0x12;
constexpr std::uint8_t kOpModeSense6 = 0x1A;
constexpr std::uint8_t kOpStartStopUnit = 0x1B;
constexpr std::uint8_t kOpPreventAllow = 0x1E;
constexpr std::uint8_t kOpReadCapacity10 = 0x25;
constexpr std::uint8_t kOpRead10 = 0x28;
constexpr std::uint8_t kOpVerify10 = 0x2F;
constexpr std::uint8_t kOpSynchronizeCache10 = 0x35;
constexpr std::uint8_t kOpModeSense10 = 0x5A;
constexpr std::uint8_t kOpRead16 = 0x88;
constexpr std::uint8_t kOpSynchronizeCache16 = 0x91;
constexpr std::uint8_t kOpServiceActionIn16 = 0x9E;
constexpr std::uint8_t kServiceReadCapacity16 = 0x10;
constexpr std::uint8_t kOpReportLuns = 0xA0;
constexpr std::uint8_t kOpRead12 = 0xA8;

constexpr std::uint8_t kPageCaching = 0x08;
constexpr std::uint8_t kPageAll = 0x3F;
constexpr std::size_t kCachingPageSize = 20;
constexpr std::uint8_t kWriteProtect = 0x80;

// Writing commands: WRITE (6/10/12/16), WRITE AND VERIFY, WRITE SAME, UNMAP, FORMAT UNIT,
// MODE SELECT, WRITE BUFFER, COMPARE AND WRITE, SEND DIAGNOSTIC, SECURITY PROTOCOL OUT,
// WRITE LONG, REASSIGN BLOCKS.
constexpr std::uint8_t kWritingOpcodes[] = {0x04, 0x07, 0x0A, 0x15, 0x1D, 0x2A, 0x2E,
                                            0x3B, 0x3F, 0x41, 0x42, 0x55, 0x89, 0x8A,
                                            0x8E, 0x93, 0xAA, 0xAE, 0xB5};

// Copies `text` into `field` padded with spaces, as INQUIRY's ASCII fields are.
void put_padded(std::uint8_t* field, std::size_t width, const std::string& text) {
    std::memset(field, ' ', width);
    std::memcpy(field, text.data(), std::min(width, text.size()));
}

// Copies a reply built in `reply` (reply_size bytes) to data, cut to the allocation length.
std::uint32_t deliver(std::uint8_t* data, std::size_t capacity, const std::uint8_t* reply,
                      std::size_t reply_size, std::size_t allocation) {
    const std::size_t n = std::min({reply_size, allocation, capacity});
    std::memcpy(data, reply, n);
    return static_cast<std::uint32_t>(n);
}

ScsiReply good(std::uint32_t data_length = 0) {
    ScsiReply reply;
    reply.data_length = data_length;
    return reply;
}

}  // namespace

bool is_writing_opcode(std::uint8_t opcode) {
    return std::find(std::begin(kWritingOpcodes), std::end(kWritingOpcodes), opcode) !=
           std::end(kWritingOpcodes);
}

ScsiReply StandardResponder::inquiry(const ScsiCommand& command, std::uint8_t* data,
                                     std::size_t capacity) const {
    const bool evpd = (command.cdb[1] & 0x01) != 0;
    const std::uint8_t page = command.cdb[2];
    const std::size_t allocation = get_be16(command.cdb.data() + 3);
    std::uint8_t reply[255] = {};
    std::size_t size = 0;
    if (!evpd) {
        if (page != 0)
            return check_condition(kSenseIllegalRequest, kAscInvalidFieldInCdb);
        reply[0] = 0x00;  // direct-access block device, connected
        reply[1] = 0x00;  // not removable
        reply[2] = 0x06;  // SPC-4
        reply[3] = 0x02;  // response data format 2
        reply[4] = 31;    // additional length: 36 bytes in all
        put_padded(reply + 8, 8, identity_.vendor);
        put_padded(reply + 16, 16, identity_.product);
        put_padded(reply + 32, 4, identity_.revision);
        size = 36;
    } else if (page == 0x00) {
        const std::uint8_t pages[] = {0x00, 0x80};  // supported pages
        reply[1] = 0x00;
        reply[3] = sizeof pages;
        std::memcpy(reply + 4, pages, sizeof pages);
        size = 4 + sizeof pages;
    } else if (page == 0x80) {
        const std::size_t n = std::min<std::size_t>(identity_.serial.size(), 200);
        reply[1] = 0x80;
        reply[3] = static_cast<std::uint8_t>(n);
        std::memcpy(reply + 4, identity_.serial.data(), n);
        size = 4 + n;
    } else {
        return check_condition(kSenseIllegalRequest, kAscInvalidFieldInCdb);
    }
    return good(deliver(data, capacity, reply, size, allocation));
}

ScsiReply StandardResponder::mode_sense(const ScsiCommand& command, std::uint8_t* data,
                                        std::size_t capacity) const {
    const bool ten = command.cdb[0] == kOpModeSense10;
    const std::uint8_t page = command.cdb[2] & 0x3F;
    if (page != kPageCaching && page != kPageAll) {
        return check_condition(kSenseIllegalRequest, kAscInvalidFieldInCdb);
    }
    std::uint8_t reply[64] = {};
    const std::size_t header = ten ? 8 : 4;  // no block descriptor
    if (identity_.write_protected)
        reply[ten ? 3 : 2] = kWriteProtect;  // the device-specific parameter byte
    std::uint8_t* caching = reply + header;
    caching[0] = kPageCaching;
    caching[1] = kCachingPageSize - 2;
    // Every setting byte is zero in all page-control forms: write cache off (WCE 0), so the host
    // never has anything to flush, read cache on (RCD 0), and nothing changeable.
    const std::size_t size = header + kCachingPageSize;
    std::size_t allocation = 0;
    if (ten) {
        put_be16(reply, static_cast<std::uint16_t>(size - 2));
        allocation = get_be16(command.cdb.data() + 7);
    } else {
        reply[0] = static_cast<std::uint8_t>(size - 1);
        allocation = command.cdb[4];
    }
    return good(deliver(data, capacity, reply, size, allocation));
}

ScsiReply StandardResponder::read_medium(const ScsiCommand& command) const {
    const std::uint8_t* cdb = command.cdb.data();
    std::uint64_t lba = 0;
    std::uint64_t count = 0;
    switch (cdb[0]) {
        case kOpRead6:
            lba = get_be32(cdb) & 0x1FFFFF;
            count = cdb[4] == 0 ? 256 : cdb[4];
            break;
        case kOpRead10:
            lba = get_be32(cdb + 2);
            count = get_be16(cdb + 7);
            break;
        case kOpRead12:
            lba = get_be32(cdb + 2);
            count = get_be32(cdb + 6);
            break;
        default:  // READ (16)
            lba = get_be64(cdb + 2);
            count = get_be32(cdb + 10);
            break;
    }
    if (lba > identity_.last_lba || count > identity_.last_lba - lba + 1) {
        return check_condition(kSenseIllegalRequest, kAscLbaOutOfRange);
    }
    // A blank medium: the data buffer is already zero.
    return good(static_cast<std::uint32_t>(
        std::min<std::uint64_t>(count * identity_.block_size, 0xFFFFFFFFu)));
}

ScsiReply StandardResponder::answer(const ScsiCommand& command, std::uint8_t* data,
                                    std::size_t capacity) {
    const std::uint8_t* cdb = command.cdb.data();
    std::uint8_t reply[32] = {};
    switch (cdb[0]) {
        case kOpTestUnitReady:
        case kOpStartStopUnit:
        case kOpPreventAllow:
        case kOpVerify10:
        case kOpSynchronizeCache10:
        case kOpSynchronizeCache16:
            return good();
        case kOpInquiry:
            return inquiry(command, data, capacity);
        case kOpModeSense6:
        case kOpModeSense10:
            return mode_sense(command, data, capacity);
        case kOpReadCapacity10:
            put_be32(reply, static_cast<std::uint32_t>(
                                std::min<std::uint64_t>(identity_.last_lba, 0xFFFFFFFFu)));
            put_be32(reply + 4, identity_.block_size);
            return good(deliver(data, capacity, reply, 8, 8));
        case kOpServiceActionIn16:
            if ((cdb[1] & 0x1F) != kServiceReadCapacity16)
                break;
            put_be64(reply, identity_.last_lba);
            put_be32(reply + 8, identity_.block_size);
            return good(deliver(data, capacity, reply, 32, get_be32(cdb + 10)));
        case kOpReportLuns:
            put_be32(reply, 8);  // one LUN, number 0
            return good(deliver(data, capacity, reply, 16, get_be32(cdb + 6)));
        case kOpRead6:
        case kOpRead10:
        case kOpRead12:
        case kOpRead16:
            return read_medium(command);
        default:
            if (is_writing_opcode(cdb[0])) {
                return check_condition(kSenseDataProtect, kAscWriteProtected);
            }
            break;
    }
    return check_condition(kSenseIllegalRequest, kAscInvalidOpcode);
}

}  // namespace torvik::usbdev
