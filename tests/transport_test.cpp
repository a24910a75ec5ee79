// The command operations: what they put on the wire, byte for byte, and what the caller gets back
// after success, CHECK CONDITION, short data and failed calls.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "platform/pass_through_decoder.h"
#include "sim/sim_platform.h"
#include "tests/support/checked_drive.h"
#include "tests/support/fake_platform.h"
#include "tests/support/scratch.h"
#include "transport/operations.h"
#include "transport/request.h"

namespace torvik::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Keeps every pass-through request as it arrives; answers with `reply` in the data area, or fails
// with `error`.
class WirePlatform : public FakePlatform {
  public:
    struct Sent {
        Bytes in;  // the in_size bytes handed in
        std::uint32_t in_size = 0;
        std::uint32_t out_size = 0;
        bool same_buffer = false;
    };
    std::vector<Sent> sent;
    Bytes reply;
    std::uint32_t error = 0;  // non-zero: the call fails with it

    bool device_io_control(DriveHandle, std::uint32_t code, void* in, std::uint32_t in_size,
                           void* out, std::uint32_t out_size, std::uint32_t*) override {
        EXPECT_EQ(code, 0x4D004u);
        const auto* bytes = static_cast<const std::uint8_t*>(in);
        sent.push_back(Sent{Bytes(bytes, bytes + in_size), in_size, out_size, in == out});
        if (error != 0) {
            return false;
        }
        auto* buffer = static_cast<std::uint8_t*>(out);
        const std::uint32_t data_at = get_le32(buffer + 20);
        for (std::size_t i = 0; i < reply.size() && data_at + i < out_size; ++i) {
            buffer[data_at + i] = reply[i];
        }
        return true;
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
    Bytes cdb;  // CdbLength is its size
    std::uint8_t sense_length;
    std::uint32_t data_offset;
    std::uint32_t transfer;
    std::uint32_t in_size;
    std::uint32_t out_size;
};

const std::vector<WireCase>& wire_cases() {
    static const std::vector<WireCase> cases = {
        {"inquiry",
         [](DriveLink& l, std::uint8_t* b) { return scsi_inquiry(l, b, 56); },
         {0x12, 0x00, 0x00, 0x00, 0x38, 0x00},
         24,
         76,
         56,
         44,
         132},
        {"read capacity 10",
         [](DriveLink& l, std::uint8_t* b) { return scsi_read_capacity10(l, b); },
         zeros_after({0x25}, 10), 24, 68, 8, 76, 76},
        {"read capacity 16",
         [](DriveLink& l, std::uint8_t* b) { return scsi_read_capacity16(l, b); },
         {0x9E, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x00, 0x00, 0x20, 0, 0},
         24,
         68,
         32,
         100,
         100},
        {"fid", [](DriveLink& l, std::uint8_t* b) { return vendor_command12(l, b, 0x0656, 512); },
         zeros_after({0x06, 0x56}, 12), 0, 68, 512, 580, 580},
        {"info", [](DriveLink& l, std::uint8_t* b) { return vendor_command12(l, b, 0x0605, 528); },
         zeros_after({0x06, 0x05}, 12), 0, 68, 528, 596, 596},
        {"infoblock",
         [](DriveLink& l, std::uint8_t* b) { return vendor_command16(l, b, 0x0600B100, 6144); },
         zeros_after({0x06, 0x00, 0xB1, 0x00}, 16), 0, 68, 6144, 6212, 6212},
        {"id",
         [](DriveLink& l, std::uint8_t* b) { return vendor_command16(l, b, 0x0600FD13, 4096); },
         zeros_after({0x06, 0x00, 0xFD, 0x13}, 16), 0, 68, 4096, 4164, 4164},
        {"largest vendor transfer",
         [](DriveLink& l, std::uint8_t* b) { return vendor_command16(l, b, 0x06008000, 65536); },
         zeros_after({0x06, 0x00, 0x80, 0x00}, 16), 0, 68, 65536, 65604, 65604},
        {"empty vendor transfer",
         [](DriveLink& l, std::uint8_t* b) { return vendor_command12(l, b, 0x0656, 0); },
         zeros_after({0x06, 0x56}, 12), 0, 68, 0, 68, 68},
        {"nvme identify", [](DriveLink& l, std::uint8_t* b) { return nvme_identify(l, b).request; },
         zeros_after({0xE6, 0x06, 0x00, 0x01}, 16), 24, 68, 4096, 4164, 4164},
        {"nvme smart log", [](DriveLink& l, std::uint8_t* b) { return nvme_smart_log(l, b); },
         zeros_after({0xE6, 0x02, 0x00, 0x02}, 16), 24, 68, 512, 580, 580},
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

TEST_F(Transport, EveryCommandOnTheWireByteForByte) {
    if (kPassThroughLayout.record_size != 44) {
        GTEST_SKIP() << "the 44-byte record only";
    }
    for (const WireCase& c : wire_cases()) {
        SCOPED_TRACE(c.name);
        wire.sent.clear();
        wire.reply = {0x01};  // something, so the Identify succeeds
        Bytes buffer(65536, 0);
        DriveLink l = link();
        EXPECT_TRUE(c.run(l, buffer.data()).ok());
        ASSERT_EQ(wire.sent.size(), 1u);
        const WirePlatform::Sent& s = wire.sent[0];
        EXPECT_EQ(s.in_size, c.in_size);
        EXPECT_EQ(s.out_size, c.out_size);
        EXPECT_TRUE(s.same_buffer);
        const std::uint8_t* r = s.in.data();
        EXPECT_EQ(get_le16(r + 0), 44);
        EXPECT_EQ(Bytes(r + 2, r + 6), Bytes(4, 0));  // ScsiStatus, PathId, TargetId, Lun
        EXPECT_EQ(r[6], c.cdb.size());
        EXPECT_EQ(r[7], c.sense_length);
        EXPECT_EQ(r[8], 1);  // data in
        EXPECT_EQ(get_le32(r + 12), c.transfer);
        EXPECT_EQ(get_le32(r + 16), 2u);
        EXPECT_EQ(get_le32(r + 20), c.data_offset);
        EXPECT_EQ(get_le32(r + 24), 44u);
        EXPECT_EQ(Bytes(r + 28, r + 44), zeros_after(c.cdb, 16));
        EXPECT_EQ(Bytes(r + 44, r + s.in_size), Bytes(s.in_size - 44, 0));  // cleared
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

// The 64-bit Windows record moves DataBufferOffset, SenseInfoOffset and the CDB; every offset of
// the buffer follows from its 56 bytes.
TEST(RequestLayout, OffsetsFollowTheRecordSize) {
    struct Case {
        const char* name;
        RequestParams params;
        const PassThroughLayout* layout;
        std::uint32_t data_offset, in_size, out_size, buffer_size;
    };
    const RequestParams inquiry{inquiry_cdb(56), 24, true, 56};
    const RequestParams capacity{read_capacity10_cdb(), 24, false, 8};
    const RequestParams infoblock{vendor16_cdb(0x0600B100), 0, false, 6144};
    const Case cases[] = {
        {"inquiry, 44", inquiry, &kPassThroughLayout32, 76, 44, 132, 132},
        {"capacity, 44", capacity, &kPassThroughLayout32, 68, 76, 76, 76},
        {"infoblock, 44", infoblock, &kPassThroughLayout32, 68, 6212, 6212, 6212},
        {"inquiry, 56", inquiry, &kPassThroughLayout64, 88, 56, 144, 144},
        {"capacity, 56", capacity, &kPassThroughLayout64, 80, 88, 88, 88},
        {"infoblock, 56", infoblock, &kPassThroughLayout64, 80, 6224, 6224, 6224},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Request request(c.params, *c.layout);
        const RequestSizes& sizes = request.sizes();
        EXPECT_EQ(sizes.data_offset, c.data_offset);
        EXPECT_EQ(sizes.in_size, c.in_size);
        EXPECT_EQ(sizes.out_size, c.out_size);
        EXPECT_EQ(request.bytes().size(), c.buffer_size);

        const std::uint8_t* r = request.bytes().data();
        const bool wide = c.layout->record_size == 56;
        EXPECT_EQ(get_le16(r), wide ? 56 : 44);
        EXPECT_EQ(wide ? get_le64(r + 24) : get_le32(r + 20), c.data_offset);
        EXPECT_EQ(get_le32(r + (wide ? 32 : 24)), wide ? 56u : 44u);
        EXPECT_EQ(r[wide ? 36 : 28], c.params.cdb.bytes[0]);

        PassThroughView view;
        ASSERT_TRUE(decode_pass_through(r, sizes.in_size, sizes.out_size, view, *c.layout));
        EXPECT_EQ(view.cdb, c.params.cdb.bytes);
        EXPECT_EQ(view.data_offset, c.data_offset);
        EXPECT_EQ(view.sense_offset, c.params.sense_length != 0 ? (wide ? 56u : 44u) : 0u);
        EXPECT_EQ(view.timeout_seconds, 2u);
    }
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
