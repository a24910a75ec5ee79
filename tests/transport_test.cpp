// The command operations: what they put on the wire, byte for byte, and what the caller gets back
// after success, CHECK CONDITION, short data and failed calls.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "sim/sim_platform.h"
#include "tests/support/checked_drive.h"
#include "tests/support/fake_platform.h"
#include "tests/support/scratch.h"
#include "transport/operations.h"
#include "transport/request.h"

namespace torvik::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Keeps every pass-through request as it arrives; answers with `reply` as the data that came, or
// fails with `error`. Either way it first scribbles over the whole data area, as an OS may.
class WirePlatform : public FakePlatform {
  public:
    struct Sent {
        Bytes cdb;  // cdb_length bytes
        DataDirection direction = DataDirection::none;
        std::uint32_t transfer_length = 0;
        std::uint8_t sense_length = 0;
        std::uint32_t timeout_seconds = 0;
        bool has_data = false;
    };
    std::vector<Sent> sent;
    Bytes reply;
    std::uint32_t error = 0;  // non-zero: the call fails with it

    PassThroughResult pass_through(DriveHandle, const PassThroughRequest& r) override {
        sent.push_back(Sent{Bytes(r.cdb.begin(), r.cdb.begin() + r.cdb_length), r.direction,
                            r.transfer_length, r.sense_length, r.timeout_seconds,
                            r.data != nullptr});
        if (r.data != nullptr) {
            std::fill_n(r.data, r.transfer_length, 0xEE);
        }
        if (error != 0) {
            return failed_call(error, "failed");
        }
        const std::size_t n = std::min<std::size_t>(reply.size(), r.transfer_length);
        std::copy_n(reply.begin(), n, r.data);
        PassThroughResult result;
        result.completed = true;
        result.residual = r.transfer_length - static_cast<std::uint32_t>(n);
        return result;
    }
    std::uint32_t last_error() override { return error; }
};

Bytes zeros_after(Bytes head, std::size_t total) {
    head.resize(total, 0);
    return head;
}

using Operation = std::function<CommandResult(DriveLink&, std::uint8_t*)>;

struct WireCase {
    const char* name;
    Operation run;
    Bytes cdb;
    std::uint8_t sense_length;
    std::uint32_t transfer;
};

const std::vector<WireCase>& wire_cases() {
    static const std::vector<WireCase> cases = {
        {"inquiry",
         [](DriveLink& l, std::uint8_t* b) { return scsi_inquiry(l, b, 56); },
         {0x12, 0x00, 0x00, 0x00, 0x38, 0x00},
         24,
         56},
        {"read capacity 10",
         [](DriveLink& l, std::uint8_t* b) { return scsi_read_capacity10(l, b); },
         zeros_after({0x25}, 10), 24, 8},
        {"read capacity 16",
         [](DriveLink& l, std::uint8_t* b) { return scsi_read_capacity16(l, b); },
         {0x9E, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x00, 0x00, 0x20, 0, 0},
         24,
         32},
        {"fid", [](DriveLink& l, std::uint8_t* b) { return vendor_command12(l, b, 0x0656, 512); },
         zeros_after({0x06, 0x56}, 12), 0, 512},
        {"info", [](DriveLink& l, std::uint8_t* b) { return vendor_command12(l, b, 0x0605, 528); },
         zeros_after({0x06, 0x05}, 12), 0, 528},
        {"infoblock",
         [](DriveLink& l, std::uint8_t* b) { return vendor_command16(l, b, 0x0600B100, 6144); },
         zeros_after({0x06, 0x00, 0xB1, 0x00}, 16), 0, 6144},
        {"id",
         [](DriveLink& l, std::uint8_t* b) { return vendor_command16(l, b, 0x0600FD13, 4096); },
         zeros_after({0x06, 0x00, 0xFD, 0x13}, 16), 0, 4096},
        {"largest vendor transfer",
         [](DriveLink& l, std::uint8_t* b) { return vendor_command16(l, b, 0x06008000, 65536); },
         zeros_after({0x06, 0x00, 0x80, 0x00}, 16), 0, 65536},
        {"empty vendor transfer",
         [](DriveLink& l, std::uint8_t* b) { return vendor_command12(l, b, 0x0656, 0); },
         zeros_after({0x06, 0x56}, 12), 0, 0},
        {"nvme identify", [](DriveLink& l, std::uint8_t* b) { return nvme_identify(l, b).request; },
         zeros_after({0xE6, 0x06, 0x00, 0x01}, 16), 24, 4096},
        {"nvme smart log", [](DriveLink& l, std::uint8_t* b) { return nvme_smart_log(l, b); },
         zeros_after({0xE6, 0x02, 0x00, 0x02}, 16), 24, 512},
    };
    return cases;
}

const WireCase& wire_case(const std::string& name) {
    for (const WireCase& c : wire_cases()) {
        if (name == c.name) {
            return c;
        }
    }
    throw std::invalid_argument(name);
}

class Transport : public ::testing::Test {
  protected:
    DriveLink link() { return DriveLink{wire, 7, console.file()}; }

    WirePlatform wire;
    Capture console;
};

// Each command as the platform receives it, and what reaches the caller: the byte that came, then
// zeros to the full length, whatever else the area held.
TEST_F(Transport, EveryCommandAsThePlatformReceivesIt) {
    for (const WireCase& c : wire_cases()) {
        SCOPED_TRACE(c.name);
        wire.sent.clear();
        wire.reply = {0x01};  // something, so the Identify succeeds
        Bytes buffer(65536 + 1, 0xAA);
        DriveLink l = link();
        const CommandResult result = c.run(l, buffer.data());
        EXPECT_EQ(result.outcome, CommandResult::Outcome::data);
        EXPECT_EQ(result.received, c.transfer != 0 ? 1u : 0u);
        ASSERT_EQ(wire.sent.size(), 1u);
        const WirePlatform::Sent& s = wire.sent[0];
        EXPECT_EQ(s.cdb, c.cdb);
        EXPECT_EQ(s.direction, DataDirection::in);
        EXPECT_EQ(s.transfer_length, c.transfer);
        EXPECT_EQ(s.sense_length, c.sense_length);
        EXPECT_EQ(s.timeout_seconds, 2u);
        EXPECT_EQ(s.has_data, c.transfer != 0);
        const Bytes expected = c.transfer != 0 ? zeros_after({0x01}, c.transfer) : Bytes{};
        EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + c.transfer), expected);
        EXPECT_EQ(Bytes(buffer.begin() + c.transfer, buffer.end()),
                  Bytes(buffer.size() - c.transfer, 0xAA));
        EXPECT_EQ(console.text(), "");
    }
}

TEST_F(Transport, LengthsAbove65536AreRefusedWithoutSending) {
    const std::vector<std::pair<const char*, Operation>> ops = {
        {"vendor 12",
         [](DriveLink& l, std::uint8_t* b) { return vendor_command12(l, b, 0x0656, 65537); }},
        {"vendor 16",
         [](DriveLink& l, std::uint8_t* b) { return vendor_command16(l, b, 0x06008000, 65537); }},
        {"tunnel",
         [](DriveLink& l, std::uint8_t* b) {
             return nvme_tunnel(l, b, 65537, nvme_command_block(0x06, 0, 1));
         }},
    };
    for (const auto& [name, run] : ops) {
        SCOPED_TRACE(name);
        Capture out;
        DriveLink l{wire, 7, out.file()};
        Bytes buffer(65537, 0xAA);
        EXPECT_FALSE(run(l, buffer.data()).ok());
        EXPECT_EQ(out.text(), "Max Size exceed(65537>65536)!\n");
        EXPECT_TRUE(wire.sent.empty());
        EXPECT_EQ(buffer, Bytes(65537, 0xAA));
    }
}

TEST_F(Transport, FailedCallLeavesTheBufferAndPrintsOneLine) {
    const char* plain = "IOCtl: failed 0xabc!\n";
    const char* tunnel = "IOCtl: ASM Id/Smart failed 0xabc!\n";
    const std::vector<std::pair<const char*, const char*>> expected = {
        {"read capacity 10", plain}, {"read capacity 16", plain}, {"fid", plain},
        {"infoblock", plain},        {"nvme identify", tunnel},   {"nvme smart log", tunnel}};
    wire.error = 0xABC;
    for (const auto& [name, line] : expected) {
        const WireCase& c = wire_case(name);
        SCOPED_TRACE(c.name);
        Capture out;
        DriveLink l{wire, 7, out.file()};
        Bytes buffer(8192, 0xAA);
        const CommandResult result = c.run(l, buffer.data());
        EXPECT_EQ(result.outcome, CommandResult::Outcome::failed);
        EXPECT_EQ(result.error, 0xABCu);
        EXPECT_EQ(out.text(), line);
        EXPECT_EQ(buffer, Bytes(8192, 0xAA));
    }
}

TEST_F(Transport, FailedInquiryHandsBackZerosSilently) {
    wire.error = 5;
    Bytes buffer(64, 0xAA);
    DriveLink l = link();
    EXPECT_FALSE(scsi_inquiry(l, buffer.data(), 56).ok());
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 56), Bytes(56, 0));
    EXPECT_EQ(Bytes(buffer.begin() + 56, buffer.end()), Bytes(8, 0xAA));
    EXPECT_EQ(console.text(), "");
}

TEST_F(Transport, InquiryAboveTheOneByteLengthIsNotSent) {
    Bytes buffer(256, 0xAA);
    DriveLink l = link();
    EXPECT_FALSE(scsi_inquiry(l, buffer.data(), 256).ok());
    EXPECT_TRUE(wire.sent.empty());
    EXPECT_EQ(buffer, Bytes(256, 0));
    EXPECT_EQ(console.text(), "");
}

TEST_F(Transport, InquiryOnTheInvalidHandleSendsNothing) {
    Bytes buffer(64, 0xAA);
    DriveLink l{wire, kInvalidDriveHandle, console.file()};
    EXPECT_FALSE(scsi_inquiry(l, buffer.data(), 56).ok());
    EXPECT_TRUE(wire.sent.empty());
    EXPECT_EQ(buffer, Bytes(64, 0xAA));
}

// The operations against the simulated drive: what reaches the caller.
class AgainstSim : public ::testing::Test {
  protected:
    DriveLink open() {
        return DriveLink{platform, platform.open_drive(kSimDrivePath, 0), out.file()};
    }

    FakePlatform host;
    CheckedSimDrive drive;
    SimPlatform platform{host, drive};
    Capture out;
};

TEST_F(AgainstSim, CheckConditionIsSuccessWithZeros) {
    struct Case {
        CommandId id;
        Operation run;
    };
    const Case cases[] = {
        {CommandId::inquiry, wire_case("inquiry").run},
        {CommandId::read_capacity10, wire_case("read capacity 10").run},
        {CommandId::read_capacity16, wire_case("read capacity 16").run},
        {CommandId::infoblock, wire_case("infoblock").run},
        {CommandId::nvme_smart_log, wire_case("nvme smart log").run},
    };
    DriveLink l = open();
    for (const Case& c : cases) {
        SCOPED_TRACE(command_info(c.id).dump_name);
        drive.set_fault(c.id, Fault{FaultKind::check_condition});
        Bytes buffer(command_info(c.id).length, 0xAA);
        const CommandResult result = c.run(l, buffer.data());
        EXPECT_EQ(result.outcome, CommandResult::Outcome::check_condition);
        EXPECT_EQ(result.received, 0u);
        EXPECT_EQ(buffer, Bytes(buffer.size(), 0));
    }
    EXPECT_EQ(out.text(), "");
}

TEST_F(AgainstSim, ShortDataLeavesZerosBehindWhatCame) {
    Bytes page(6144);
    for (std::size_t i = 0; i < page.size(); ++i) {
        page[i] = static_cast<std::uint8_t>(i % 251 + 1);
    }
    drive.set_page(CommandId::infoblock, page);
    drive.set_fault(CommandId::infoblock, Fault{FaultKind::short_data, 0, 100});
    Bytes buffer(6144, 0xAA);
    DriveLink l = open();
    const CommandResult result = vendor_command16(l, buffer.data(), 0x0600B100, 6144);
    EXPECT_EQ(result.outcome, CommandResult::Outcome::data);
    EXPECT_EQ(result.received, 100u);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 100), Bytes(page.begin(), page.begin() + 100));
    EXPECT_EQ(Bytes(buffer.begin() + 100, buffer.end()), Bytes(6044, 0));
}

TEST_F(AgainstSim, ReadCapacity10ReturnsTheLbaAndKeepsTheBlockLength) {
    drive.set_page(CommandId::read_capacity10, {0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x02, 0x00});
    std::uint8_t reply[8] = {};
    DriveLink l = open();
    EXPECT_TRUE(scsi_read_capacity10(l, reply).ok());
    EXPECT_EQ(get_be32(reply), 65535u);
    EXPECT_EQ(Bytes(reply + 4, reply + 8), (Bytes{0x00, 0x00, 0x02, 0x00}));
}

TEST_F(AgainstSim, IdentifyCountsOnlyWhenSomeByteIsSet) {
    struct Case {
        const char* name;
        Bytes page;
        bool identified;
    };
    Bytes last_set(4096, 0);
    last_set[4095] = 0x80;
    const Case cases[] = {
        {"all zeros", Bytes(4096, 0), false},
        {"no data at all", Bytes{}, false},
        {"last byte set", last_set, true},
        {"first byte set", zeros_after({0x4B}, 4096), true},
    };
    DriveLink l = open();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        drive.set_page(CommandId::nvme_identify, c.page);
        Bytes buffer(4096, 0);
        const IdentifyResult result = nvme_identify(l, buffer.data());
        EXPECT_TRUE(result.request.ok());
        EXPECT_EQ(result.identified, c.identified);
    }
    EXPECT_EQ(out.text(), "");
}

TEST_F(AgainstSim, BridgeWithoutTheTunnelPrintsOnceForEachRead) {
    drive.set_tunnel_supported(false, 0x45D);
    Bytes identify(4096, 0xAA);
    Bytes smart(512, 0xAA);
    DriveLink l = open();
    EXPECT_FALSE(nvme_identify(l, identify.data()).request.ok());
    EXPECT_FALSE(nvme_smart_log(l, smart.data()).ok());
    EXPECT_EQ(out.text(), "IOCtl: ASM Id/Smart failed 0x45d!\nIOCtl: ASM Id/Smart failed 0x45d!\n");
    EXPECT_EQ(identify, Bytes(4096, 0xAA));
    EXPECT_EQ(smart, Bytes(512, 0xAA));
    EXPECT_EQ(drive.requests().size(), 2u);
}

TEST_F(AgainstSim, PlatformErrorReachesTheFailureLine) {
    drive.set_fault(CommandId::read_fid, Fault{FaultKind::platform_error, 0x1F});
    Bytes buffer(512, 0xAA);
    DriveLink l = open();
    EXPECT_EQ(vendor_command12(l, buffer.data(), 0x0656, 512).error, 0x1Fu);
    EXPECT_EQ(out.text(), "IOCtl: failed 0x1f!\n");
    EXPECT_EQ(platform.last_error(), 0x1Fu);
    EXPECT_EQ(buffer, Bytes(512, 0xAA));
}

}  // namespace
}  // namespace torvik::testing
