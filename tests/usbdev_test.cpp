// The user-space USB mass-storage device of the end-to-end test: Bulk-Only Transport wrappers,
// the data phase and sense handling, the host's own commands and the fault rules.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "common/bytes.h"
#include "sim/profiles.h"
#include "tests/e2e/usbdev/bot.h"
#include "tests/e2e/usbdev/drive_responder.h"
#include "tests/e2e/usbdev/fault_responder.h"
#include "tests/e2e/usbdev/ffs_device.h"
#include "tests/e2e/usbdev/profiles.h"
#include "tests/e2e/usbdev/standard_responder.h"

namespace torvik::testing {
namespace {

using namespace torvik::usbdev;
using Bytes = std::vector<std::uint8_t>;

// A CBW as the host sends it: signature, tag, length, flags, LUN, CDB length, CDB.
std::array<std::uint8_t, 31> cbw_bytes(std::uint32_t tag, std::uint32_t length, bool in,
                                       std::uint8_t lun, const Bytes& cdb) {
    std::array<std::uint8_t, 31> b{0x55, 0x53, 0x42, 0x43};
    put_le32(b.data() + 4, tag);
    put_le32(b.data() + 8, length);
    b[12] = in ? 0x80 : 0x00;
    b[13] = lun;
    b[14] = static_cast<std::uint8_t>(cdb.size());
    std::memcpy(b.data() + 15, cdb.data(), cdb.size());
    return b;
}

Cbw make_cbw(std::uint32_t length, bool in, const Bytes& cdb, std::uint8_t lun = 0) {
    const auto bytes = cbw_bytes(7, length, in, lun, cdb);
    Cbw cbw;
    EXPECT_TRUE(parse_cbw(bytes.data(), bytes.size(), cbw));
    return cbw;
}

TEST(UsbdevCbw, ReadsEveryField) {
    const auto bytes = cbw_bytes(0xA1B2C3D4, 6144, true, 0,
                                 {0x06, 0x00, 0xB1, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x5A});
    Cbw cbw;
    ASSERT_TRUE(parse_cbw(bytes.data(), bytes.size(), cbw));
    EXPECT_EQ(cbw.tag, 0xA1B2C3D4u);
    EXPECT_EQ(cbw.command.transfer_length, 6144u);
    EXPECT_TRUE(cbw.command.data_in);
    EXPECT_EQ(cbw.command.cdb_length, 16);
    EXPECT_EQ(cbw.command.cdb[2], 0xB1);
    EXPECT_EQ(cbw.command.cdb[15], 0x5A);

    const auto out = cbw_bytes(1, 512, false, 0, {0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0});
    ASSERT_TRUE(parse_cbw(out.data(), out.size(), cbw));
    EXPECT_FALSE(cbw.command.data_in);
    EXPECT_EQ(cbw.command.cdb_length, 10);
}

TEST(UsbdevCbw, RejectsMalformedWrappers) {
    struct Case {
        const char* what;
        std::size_t size;
        std::size_t patch_at;
        std::uint8_t patch;
    };
    const Case cases[] = {
        {"one byte short", 30, 0, 0x55},
        {"one byte long", 32, 0, 0x55},
        {"wrong signature", 31, 3, 0x53},  // "USBS" is the status wrapper's
        {"no CDB", 31, 14, 0},
        {"CDB longer than 16", 31, 14, 17},
    };
    for (const Case& c : cases) {
        std::array<std::uint8_t, 32> b{};
        const auto good = cbw_bytes(1, 36, true, 0, {0x12, 0, 0, 0, 36, 0});
        std::copy(good.begin(), good.end(), b.begin());
        b[c.patch_at] = c.patch;
        Cbw cbw;
        EXPECT_FALSE(parse_cbw(b.data(), c.size, cbw)) << c.what;
    }
}

TEST(UsbdevCsw, Layout) {
    const auto csw = make_csw(0x01020304, 3584, CswStatus::failed);
    const std::array<std::uint8_t, 13> expected = {0x55, 0x53, 0x42, 0x53, 0x04, 0x03, 0x02,
                                                   0x01, 0x00, 0x0E, 0x00, 0x00, 0x01};
    EXPECT_EQ(csw, expected);
}

// A responder that answers every command with a scripted reply and remembers the last command.
class ScriptedResponder : public Responder {
  public:
    ScsiReply answer(const ScsiCommand& command, std::uint8_t* data,
                     std::size_t capacity) override {
        last = command;
        ++calls;
        const std::size_t n = std::min<std::size_t>(fill, capacity);
        if (n != 0)  // data is null when there is no data phase
            std::memset(data, 0xAB, n);
        return reply;
    }
    ScsiReply reply;
    std::size_t fill = 0;  // bytes the responder writes into the buffer
    ScsiCommand last;
    int calls = 0;
};

TEST(UsbdevBot, DataPhaseAndStatus) {
    struct Case {
        const char* what;
        bool in;
        std::uint32_t transfer;
        ScsiReply::Kind kind;
        std::uint32_t data_length;  // what the responder claims to have placed
        std::uint32_t expect_sent;
        bool expect_halt;
        std::uint32_t expect_residue;
        std::uint8_t expect_status;
    };
    const Case cases[] = {
        {"all data", true, 4096, ScsiReply::Kind::good, 4096, 4096, false, 0, 0},
        {"short data", true, 4096, ScsiReply::Kind::good, 512, 512, true, 3584, 0},
        {"no data at all", true, 512, ScsiReply::Kind::good, 0, 0, true, 512, 0},
        {"more than asked is cut", true, 8, ScsiReply::Kind::good, 32, 8, false, 0, 0},
        {"check condition", true, 6144, ScsiReply::Kind::check_condition, 0, 0, true, 6144, 1},
        {"no data phase", true, 0, ScsiReply::Kind::good, 0, 0, false, 0, 0},
        {"data-out taken", false, 512, ScsiReply::Kind::good, 0, 0, false, 0, 0},
        {"data-out refused", false, 512, ScsiReply::Kind::check_condition, 0, 0, false, 512, 1},
    };
    for (const Case& c : cases) {
        ScriptedResponder responder;
        responder.reply.kind = c.kind;
        responder.reply.data_length = c.data_length;
        BotSession session(responder);
        std::vector<std::uint8_t> data(c.transfer);
        const Cbw cbw = make_cbw(c.transfer, c.in, {0x06, 0x56, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
        const BotPlan plan = session.run(cbw, data.data(), data.size());
        EXPECT_TRUE(plan.send_csw) << c.what;
        EXPECT_EQ(plan.data_in_length, c.expect_sent) << c.what;
        EXPECT_EQ(plan.halt_in, c.expect_halt) << c.what;
        EXPECT_EQ(get_le32(plan.csw.data() + 8), c.expect_residue) << c.what;
        EXPECT_EQ(plan.csw[12], c.expect_status) << c.what;
        EXPECT_EQ(get_le32(plan.csw.data() + 4), 7u) << c.what;  // the CBW's tag
    }
}

TEST(UsbdevBot, SenseWaitsForTheNextRequestSense) {
    ScriptedResponder responder;
    responder.reply = check_condition(0x05, 0x20, 0x00);
    BotSession session(responder);
    std::vector<std::uint8_t> data(96);
    const Bytes request_sense = {0x03, 0, 0, 0, 96, 0};

    session.run(make_cbw(4096, true, {0xE6, 0x06, 0, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
                data.data(), 0);
    std::fill(data.begin(), data.end(), 0);
    BotPlan plan = session.run(make_cbw(96, true, request_sense), data.data(), data.size());
    EXPECT_EQ(responder.calls, 1);  // REQUEST SENSE is the transport's own, not the drive's
    EXPECT_EQ(plan.csw[12], 0);
    EXPECT_EQ(plan.data_in_length, 18u);
    EXPECT_EQ(get_le32(plan.csw.data() + 8), 96u - 18u);
    const Bytes expected = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x20, 0, 0, 0, 0, 0};
    EXPECT_EQ(Bytes(data.begin(), data.begin() + 18), expected);

    // The sense is reported once; after that the unit has nothing to report.
    std::fill(data.begin(), data.end(), 0);
    session.run(make_cbw(96, true, request_sense), data.data(), data.size());
    EXPECT_EQ(data[0], 0x70);
    EXPECT_EQ(data[2], 0x00);
    EXPECT_EQ(data[12], 0x00);

    // A command that succeeds in between replaces the sense of a failed one.
    session.run(make_cbw(0, true, {0x00, 0, 0, 0, 0, 0}), data.data(), 0);
    responder.reply = ScsiReply{};
    session.run(make_cbw(0, true, {0x00, 0, 0, 0, 0, 0}), data.data(), 0);
    std::fill(data.begin(), data.end(), 0);
    session.run(make_cbw(18, true, {0x03, 0, 0, 0, 18, 0}), data.data(), 18);
    EXPECT_EQ(data[2], 0x00);
}

TEST(UsbdevBot, SilentCommandAndOtherLun) {
    ScriptedResponder responder;
    responder.reply.kind = ScsiReply::Kind::no_reply;
    BotSession session(responder);
    std::vector<std::uint8_t> data(512);
    EXPECT_FALSE(session
                     .run(make_cbw(512, true, {0x06, 0x56, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
                          data.data(), data.size())
                     .send_csw);

    responder.reply = ScsiReply{};
    const BotPlan plan =
        session.run(make_cbw(36, true, {0x12, 0, 0, 0, 36, 0}, 1), data.data(), 36);
    EXPECT_EQ(responder.calls, 1);  // LUN 1 never reaches the drive
    EXPECT_EQ(plan.csw[12], 1);
    session.run(make_cbw(18, true, {0x03, 0, 0, 0, 18, 0}), data.data(), 18);
    EXPECT_EQ(data[2], 0x05);
    EXPECT_EQ(data[12], 0x25);  // LOGICAL UNIT NOT SUPPORTED
}

struct StandardCase {
    const char* what;
    Bytes cdb;
    std::uint32_t transfer;
    std::uint8_t status;  // 0 good, 1 check condition
    Bytes expect;         // the first bytes of the data, or the sense key, ASC, ASCQ
    std::uint32_t expect_length;
};

TEST(UsbdevStandardResponder, HostCommands) {
    DiskIdentity identity;
    identity.vendor = "ACME";
    identity.product = "PORTABLE SSD";
    identity.revision = "1.0";
    identity.serial = "S123";
    identity.last_lba = 0x1'0000'0000;  // larger than READ CAPACITY (10) can say
    identity.block_size = 512;
    const StandardCase cases[] = {
        {"test unit ready", {0x00, 0, 0, 0, 0, 0}, 0, 0, {}, 0},
        {"inquiry",
         {0x12, 0, 0, 0, 36, 0},
         36,
         0,
         {0x00, 0x00, 0x06, 0x02, 31,  0,   0,   0,   'A', 'C', 'M', 'E',
          ' ',  ' ',  ' ',  ' ',  'P', 'O', 'R', 'T', 'A', 'B', 'L', 'E',
          ' ',  'S',  'S',  'D',  ' ', ' ', ' ', ' ', '1', '.', '0', ' '},
         36},
        {"inquiry cut to its allocation length", {0x12, 0, 0, 0, 5, 0}, 36, 0, {0, 0, 6, 2, 31}, 5},
        {"inquiry page list", {0x12, 1, 0x00, 0, 255, 0}, 255, 0, {0, 0, 0, 2, 0x00, 0x80}, 6},
        {"inquiry serial page", {0x12, 1, 0x80, 0, 255, 0}, 255, 0, {0, 0x80, 0, 4, 'S', '1'}, 8},
        {"inquiry unknown page", {0x12, 1, 0x83, 0, 255, 0}, 255, 1, {0x05, 0x24, 0}, 0},
        {"inquiry page without EVPD", {0x12, 0, 0x80, 0, 255, 0}, 255, 1, {0x05, 0x24, 0}, 0},
        {"mode sense all pages", {0x1A, 0, 0x3F, 0, 192, 0}, 192, 0, {23, 0, 0, 0, 0x08, 18}, 24},
        {"mode sense caching", {0x1A, 0, 0x08, 0, 192, 0}, 192, 0, {23, 0, 0, 0, 0x08, 18}, 24},
        {"mode sense header only", {0x1A, 0, 0x3F, 0, 4, 0}, 192, 0, {23, 0, 0, 0}, 4},
        {"mode sense (10)",
         {0x5A, 0, 0x08, 0, 0, 0, 0, 0, 255, 0},
         255,
         0,
         {0, 26, 0, 0, 0, 0, 0, 0, 0x08, 18},
         28},
        {"mode sense other page", {0x1A, 0, 0x1C, 0, 192, 0}, 192, 1, {0x05, 0x24, 0}, 0},
        {"read capacity (10) saturates",
         {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0},
         8,
         0,
         {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 2, 0},
         8},
        {"read capacity (16)",
         {0x9E, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 32, 0, 0},
         32,
         0,
         {0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 2, 0},
         32},
        {"read (10) of the medium", {0x28, 0, 0, 0, 0, 0, 0, 0, 8, 0}, 4096, 0, {0, 0}, 4096},
        {"read (16) of the last block",
         {0x88, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0},
         512,
         0,
         {0},
         512},
        {"read past the end",
         {0x88, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0},
         1024,
         1,
         {0x05, 0x21, 0},
         0},
        {"prevent medium removal", {0x1E, 0, 0, 0, 1, 0}, 0, 0, {}, 0},
        {"synchronize cache", {0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0, 0, {}, 0},
        {"report luns",
         {0xA0, 0, 0, 0, 0, 0, 0, 0, 0, 16, 0, 0},
         16,
         0,
         {0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
         16},
        {"write (10) is refused", {0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 512, 1, {0x07, 0x27, 0}, 0},
        {"write same (16) is refused",
         {0x93, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0},
         512,
         1,
         {0x07, 0x27, 0},
         0},
        {"unknown command", {0xC5, 0, 0, 0, 0, 0}, 0, 1, {0x05, 0x20, 0}, 0},
        {"vendor command", {0x06, 0x56, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 512, 1, {0x05, 0x20, 0}, 0},
    };
    for (const StandardCase& c : cases) {
        StandardResponder responder(identity);
        ScsiCommand command;
        std::copy(c.cdb.begin(), c.cdb.end(), command.cdb.begin());
        command.cdb_length = static_cast<std::uint8_t>(c.cdb.size());
        command.transfer_length = c.transfer;
        command.data_in = true;
        std::vector<std::uint8_t> data(c.transfer);
        const ScsiReply reply = responder.answer(command, data.data(), data.size());
        if (c.status == 0) {
            ASSERT_EQ(reply.kind, ScsiReply::Kind::good) << c.what;
            EXPECT_EQ(reply.data_length, c.expect_length) << c.what;
            EXPECT_EQ(Bytes(data.begin(), data.begin() + c.expect.size()), c.expect) << c.what;
        } else {
            ASSERT_EQ(reply.kind, ScsiReply::Kind::check_condition) << c.what;
            EXPECT_EQ(reply.data_length, 0u) << c.what;
            EXPECT_EQ(Bytes({reply.sense[2], reply.sense[12], reply.sense[13]}), c.expect)
                << c.what;
        }
    }
}

// A write-protected medium sets the WP bit of the device-specific parameter byte in both forms
// of MODE SENSE (the header is otherwise as in the table above).
TEST(UsbdevStandardResponder, WriteProtectedMedium) {
    DiskIdentity identity;
    identity.write_protected = true;
    const struct {
        Bytes cdb;
        Bytes header;
    } cases[] = {
        {{0x1A, 0, 0x3F, 0, 192, 0}, {23, 0, 0x80, 0, 0x08}},
        {{0x5A, 0, 0x08, 0, 0, 0, 0, 0, 255, 0}, {0, 26, 0, 0x80, 0, 0, 0, 0, 0x08}},
    };
    for (const auto& c : cases) {
        StandardResponder responder(identity);
        ScsiCommand command;
        std::copy(c.cdb.begin(), c.cdb.end(), command.cdb.begin());
        command.cdb_length = static_cast<std::uint8_t>(c.cdb.size());
        command.transfer_length = 255;
        command.data_in = true;
        std::vector<std::uint8_t> data(255);
        ASSERT_EQ(responder.answer(command, data.data(), data.size()).kind, ScsiReply::Kind::good);
        EXPECT_EQ(Bytes(data.begin(), data.begin() + c.header.size()), c.header);
    }
}

TEST(UsbdevFaults, RulesPickCommandsByTheirFirstBytes) {
    StandardResponder disk{DiskIdentity{}};
    std::vector<FaultRule> rules(3);
    ASSERT_TRUE(parse_cdb_prefix("06 00 FD 13", rules[0].cdb_prefix));
    rules[0].kind = ScsiReply::Kind::check_condition;
    ASSERT_TRUE(parse_cdb_prefix("0600,8901", rules[1].cdb_prefix));
    rules[1].kind = ScsiReply::Kind::no_reply;
    ASSERT_TRUE(parse_cdb_prefix("25 00 00 00 00 00 00 00 00 00 00", rules[2].cdb_prefix));
    rules[2].kind = ScsiReply::Kind::no_reply;
    FaultResponder faults(disk, rules);

    struct Case {
        const char* what;
        Bytes cdb;
        ScsiReply::Kind expect;
    };
    const Case cases[] = {
        {"refused",
         {0x06, 0x00, 0xFD, 0x13, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
         ScsiReply::Kind::check_condition},
        {"silent",
         {0x06, 0x00, 0x89, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
         ScsiReply::Kind::no_reply},
        {"no rule's: the disk answers", {0x00, 0, 0, 0, 0, 0}, ScsiReply::Kind::good},
        {"shorter than the prefix", {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, ScsiReply::Kind::good},
    };
    for (const Case& c : cases) {
        ScsiCommand command;
        std::copy(c.cdb.begin(), c.cdb.end(), command.cdb.begin());
        command.cdb_length = static_cast<std::uint8_t>(c.cdb.size());
        command.transfer_length = 8;
        std::uint8_t data[8] = {};
        EXPECT_EQ(faults.answer(command, data, sizeof data).kind, c.expect) << c.what;
    }
}

TEST(UsbdevFaults, CdbPrefixText) {
    struct Case {
        const char* text;
        bool ok;
        Bytes expect;
    };
    const Case cases[] = {
        {"0600fd13", true, {0x06, 0x00, 0xFD, 0x13}},
        {"E6:06", true, {0xE6, 0x06}},
        {"", false, {}},
        {"0", false, {}},
        {"0g", false, {}},
        {"00112233445566778899aabbccddeeff",
         true,
         {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE,
          0xFF}},
        {"00112233445566778899aabbccddeeff00", false, {}},
    };
    for (const Case& c : cases) {
        Bytes prefix;
        EXPECT_EQ(parse_cdb_prefix(c.text, prefix), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(prefix, c.expect) << c.text;
        }
    }
}

// A drive model that answers from a table by operation code and records what it was asked.
struct TableModel {
    std::vector<SimRequest> requests;
    SimAnswer operator()(const SimRequest& request, std::uint8_t* data) {
        requests.push_back(request);
        SimAnswer answer;
        switch (request.cdb[0]) {
            case 0x12: {
                const char inquiry[] = "\0\0\x06\x02\x33\0\0\0VENDOR01PRODUCT NAME 16 REV1";
                answer.data_length = std::min<std::uint32_t>(request.transfer_length, 36);
                std::memcpy(data, inquiry, answer.data_length);
                break;
            }
            case 0x25:
                put_be32(data, 0xFFFFFFFF);
                put_be32(data + 4, 512);
                answer.data_length = 8;
                break;
            case 0x9E:
                put_be64(data, 0x1'0000'0000);
                put_be32(data + 8, 512);
                answer.data_length = 32;
                break;
            case 0x06:
                if (request.cdb[1] == 0x56) {
                    std::memset(data, 0x5A, request.transfer_length);
                    answer.data_length = request.transfer_length + 100;  // claims too much
                } else if (request.cdb[1] == 0x05) {
                    answer.status = SimAnswer::Status::check_condition;
                    answer.sense[0] = 0x70;
                    answer.sense[2] = 0x05;
                    answer.sense[12] = 0x20;
                } else {
                    answer.status = SimAnswer::Status::platform_error;
                    answer.error_code = 0x79;
                }
                break;
            default:
                ADD_FAILURE() << "the model was asked a host command";
        }
        return answer;
    }
};

ScsiCommand command_of(const Bytes& cdb, std::uint32_t length, bool in = true) {
    ScsiCommand command;
    std::copy(cdb.begin(), cdb.end(), command.cdb.begin());
    command.cdb_length = static_cast<std::uint8_t>(cdb.size());
    command.transfer_length = length;
    command.data_in = in;
    return command;
}

TEST(UsbdevDriveResponder, WhichCommandsTheDriveAnswers) {
    struct Case {
        Bytes cdb;
        bool drive;
    };
    const Case cases[] = {
        {{0x12, 0x00, 0x00, 0x00, 0x38, 0x00}, true},   // standard INQUIRY
        {{0x12, 0x01, 0x80, 0x00, 0xFF, 0x00}, false},  // vital product data
        {{0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, true},
        {{0x9E, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 32, 0, 0}, true},
        {{0x9E, 0x11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 32, 0, 0}, false},
        {{0x06, 0x56, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, true},
        {{0x06, 0x00, 0xB1, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, true},
        {{0xE6, 0x06, 0x00, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, true},
        {{0x00, 0, 0, 0, 0, 0}, false},
        {{0x1A, 0, 0x3F, 0, 192, 0}, false},
        {{0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(is_drive_command(command_of(c.cdb, 0)), c.drive) << int{c.cdb[0]};
    }
}

TEST(UsbdevDriveResponder, RequestsCarryTheCdbAndTheTransfer) {
    struct Case {
        Bytes cdb;
        std::uint32_t length;
    };
    const Case cases[] = {
        {{0x12, 0, 0, 0, 56, 0}, 56},
        {{0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8},
        {{0x9E, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 32, 0, 0}, 32},
        {{0x06, 0x00, 0xB1, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 6144},
        {{0xE6, 0x02, 0x00, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 512},
    };
    for (const Case& c : cases) {
        const SimRequest request = to_sim_request(command_of(c.cdb, c.length));
        EXPECT_EQ(request.transfer_length, c.length);
        EXPECT_EQ(request.cdb_length, c.cdb.size());
        EXPECT_TRUE(std::equal(c.cdb.begin(), c.cdb.end(), request.cdb.begin()));
    }
}

TEST(UsbdevDriveResponder, AnswersMapOntoTheWire) {
    TableModel model;
    StandardResponder host{DiskIdentity{}};
    DriveResponder drive([&model](const SimRequest& r, std::uint8_t* d) { return model(r, d); },
                         host);
    std::vector<std::uint8_t> data(512);

    ScsiReply reply = drive.answer(command_of({0x06, 0x56, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 512),
                                   data.data(), data.size());
    EXPECT_EQ(reply.kind, ScsiReply::Kind::good);
    EXPECT_EQ(reply.data_length, 512u);  // never more than the host asked for
    EXPECT_EQ(data[511], 0x5A);

    reply = drive.answer(command_of({0x06, 0x05, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 528), data.data(),
                         data.size());
    EXPECT_EQ(reply.kind, ScsiReply::Kind::check_condition);
    EXPECT_EQ(reply.sense[2], 0x05);
    EXPECT_EQ(reply.sense[12], 0x20);

    reply =
        drive.answer(command_of({0x06, 0x00, 0xFD, 0x13, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 4096),
                     data.data(), data.size());
    EXPECT_EQ(reply.kind, ScsiReply::Kind::no_reply);
    // The data area the model saw was cut to what the device can carry.
    EXPECT_EQ(model.requests.back().transfer_length, 512u);

    const std::size_t asked = model.requests.size();
    reply = drive.answer(command_of({0x00, 0, 0, 0, 0, 0}, 0), data.data(), 0);
    EXPECT_EQ(reply.kind, ScsiReply::Kind::good);
    EXPECT_EQ(model.requests.size(), asked);  // TEST UNIT READY is the host responder's
}

TEST(UsbdevDriveResponder, IdentityFollowsTheModel) {
    TableModel model;
    const DriveModel drive = [&model](const SimRequest& r, std::uint8_t* d) { return model(r, d); };
    const DiskIdentity identity = identity_of(drive, DiskIdentity{});
    EXPECT_EQ(identity.vendor, "VENDOR01");
    EXPECT_EQ(identity.product, "PRODUCT NAME 16 ");
    EXPECT_EQ(identity.revision, "REV1");
    EXPECT_EQ(identity.last_lba, 0x1'0000'0000u);  // READ CAPACITY (16) after FFFFFFFF
    EXPECT_EQ(identity.block_size, 512u);

    // A model that refuses everything leaves the defaults.
    const DriveModel refusing = [](const SimRequest&, std::uint8_t*) {
        SimAnswer answer;
        answer.status = SimAnswer::Status::check_condition;
        return answer;
    };
    DiskIdentity base;
    base.vendor = "BASE";
    const DiskIdentity kept = identity_of(refusing, base);
    EXPECT_EQ(kept.vendor, "BASE");
    EXPECT_EQ(kept.last_lba, base.last_lba);
}

TEST(UsbdevProfiles, PatternedDrivePassesTheGateAndHasNoZeroRuns) {
    SimDrive drive;
    ASSERT_TRUE(apply_profile("patterned", drive));
    EXPECT_EQ(get_be16(drive.page(CommandId::read_info).data() + 382), 0x5017);
    EXPECT_EQ(
        Bytes(drive.page(CommandId::read_fid).begin(), drive.page(CommandId::read_fid).begin() + 8),
        (Bytes{0x98, 0x3C, 0x98, 0xB3, 0x76, 0xF2, 0x00, 0x00}));
    const Bytes& fidall = drive.page(CommandId::fidall);
    ASSERT_EQ(fidall.size(), 512u);
    for (std::size_t bank = 0; bank < 64; ++bank) {
        EXPECT_EQ(fidall[bank * 8], bank < 4 ? 0x98 : 0x00) << bank;
    }
    // Pages whose bytes only travel: every byte non-zero, and no two pages alike.
    const CommandId travelling[] = {CommandId::sysinfo,  CommandId::infoblock,
                                    CommandId::id,       CommandId::smart,
                                    CommandId::smartext, CommandId::nvme_smart_log};
    for (const CommandId id : travelling) {
        const Bytes& page = drive.page(id);
        EXPECT_EQ(page.size(), command_info(id).length);
        EXPECT_EQ(std::count(page.begin(), page.end(), 0), 0) << command_info(id).dump_name;
    }
    EXPECT_NE(Bytes(drive.page(CommandId::smart).begin(), drive.page(CommandId::smart).end()),
              Bytes(drive.page(CommandId::nvme_smart_log).begin(),
                    drive.page(CommandId::nvme_smart_log).end()));

    SimDrive untouched;
    EXPECT_FALSE(apply_profile("no such profile", untouched));
    EXPECT_EQ(
        std::count(untouched.page(CommandId::id).begin(), untouched.page(CommandId::id).end(), 0),
        4096);
}

TEST(UsbdevProfiles, TheToolsOwnSimulatedDrives) {
    // "sim" is the tool's default profile, "sim:NAME" any other: the same pages as --sim loads.
    SimDrive by_default;
    ASSERT_TRUE(apply_profile("sim", by_default));
    SimDrive named;
    ASSERT_TRUE(apply_profile(std::string("sim:") + sim_profiles().front().name, named));
    SimDrive large;
    ASSERT_TRUE(apply_profile("sim:large", large));
    for (const CommandInfo& info : kCommands) {
        EXPECT_EQ(by_default.page(info.id), named.page(info.id)) << info.dump_name;
    }
    EXPECT_EQ(get_be32(large.page(CommandId::read_capacity10).data()), 0xFFFFFFFFu);
    EXPECT_NE(by_default.page(CommandId::read_capacity10), large.page(CommandId::read_capacity10));

    SimDrive unknown;
    EXPECT_FALSE(apply_profile("sim:no such profile", unknown));
    EXPECT_FALSE(apply_profile("simx", unknown));
}

TEST(UsbdevProfiles, FaultText) {
    struct Case {
        const char* text;
        bool ok;
        CommandId command;
        FaultKind kind;
        std::uint32_t code;
    };
    const Case cases[] = {
        {"id=check_condition", true, CommandId::id, FaultKind::check_condition, 0},
        {"nvme_id=platform_error:110", true, CommandId::nvme_identify, FaultKind::platform_error,
         110},
        {"fid=platform_error:2", true, CommandId::read_fid, FaultKind::platform_error, 2},
        {"inq=check_condition", true, CommandId::inquiry, FaultKind::check_condition, 0},
        {"idx=check_condition", false, {}, {}, 0},
        {"id=", false, {}, {}, 0},
        {"=check_condition", false, {}, {}, 0},
        {"id", false, {}, {}, 0},
        {"id=platform_error:", false, {}, {}, 0},
        {"id=platform_error:12a", false, {}, {}, 0},
        {"id=platform_error:99999999999", false, {}, {}, 0},
        {"id=timeout", false, {}, {}, 0},
    };
    for (const Case& c : cases) {
        CommandId command = CommandId::smartext;
        Fault fault;
        ASSERT_EQ(parse_fault(c.text, command, fault), c.ok) << c.text;
        if (!c.ok) {
            EXPECT_EQ(command, CommandId::smartext) << c.text;  // left as it was
            continue;
        }
        EXPECT_EQ(command, c.command) << c.text;
        EXPECT_EQ(fault.kind, c.kind) << c.text;
        EXPECT_EQ(fault.error_code, c.code) << c.text;
    }
}

TEST(UsbdevFunctionFs, DescriptorBlock) {
    const Bytes d = ffs_descriptors();
    ASSERT_EQ(d.size(), 20u + 2 * (9 + 7 + 7));
    EXPECT_EQ(get_le32(d.data()), 3u);  // descriptors, format 2
    EXPECT_EQ(get_le32(d.data() + 4), d.size());
    EXPECT_EQ(get_le32(d.data() + 8), 3u);  // full and high speed
    EXPECT_EQ(get_le32(d.data() + 12), 3u);
    EXPECT_EQ(get_le32(d.data() + 16), 3u);
    for (const auto& [at, max_packet] : {std::pair{20u, 64u}, std::pair{43u, 512u}}) {
        const Bytes interface(d.begin() + at, d.begin() + at + 9);
        EXPECT_EQ(interface, (Bytes{9, 4, 0, 0, 2, 0x08, 0x06, 0x50, 0}));
        EXPECT_EQ(Bytes(d.begin() + at + 9, d.begin() + at + 13), (Bytes{7, 5, 0x81, 2}));
        EXPECT_EQ(get_le16(d.data() + at + 13), max_packet);
        EXPECT_EQ(Bytes(d.begin() + at + 16, d.begin() + at + 20), (Bytes{7, 5, 0x02, 2}));
        EXPECT_EQ(get_le16(d.data() + at + 20), max_packet);
    }
    const Bytes s = ffs_strings();
    EXPECT_EQ(s, (Bytes{2, 0, 0, 0, 16, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

}  // namespace
}  // namespace torvik::testing
