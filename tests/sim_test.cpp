// The simulated drive and its platform: the request decoder's bounds, the drive's answers by CDB,
// the faults, and what the platform hands back in the record, sense area and data area.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "platform/pass_through_decoder.h"
#include "platform/storage_descriptor.h"
#include "sim/sim_platform.h"
#include "tests/support/fake_platform.h"
#include "tests/support/scratch.h"
#include "transport/request.h"

namespace torvik::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A request buffer written out by hand in the 44-byte layout: sense area at 44, data at 68.
struct Raw {
    Bytes buffer;
    std::uint32_t in_size = 0;
    std::uint32_t out_size = 0;
};

Raw raw_request(const Bytes& cdb, std::uint32_t transfer, std::uint8_t sense_length = 24,
                std::uint8_t data_in = 1) {
    Raw raw;
    raw.buffer.assign(68 + transfer, 0);
    std::uint8_t* r = raw.buffer.data();
    put_le16(r, 44);
    r[6] = static_cast<std::uint8_t>(cdb.size());
    r[7] = sense_length;
    r[8] = data_in;
    put_le32(r + 12, transfer);
    put_le32(r + 16, 2);
    put_le32(r + 20, 68);
    put_le32(r + 24, 44);
    for (std::size_t i = 0; i < cdb.size(); ++i) {
        r[28 + i] = cdb[i];
    }
    raw.in_size = raw.out_size = static_cast<std::uint32_t>(raw.buffer.size());
    return raw;
}

Bytes cdb16(Bytes head) {
    head.resize(16, 0);
    return head;
}

class Sim : public ::testing::Test {
  protected:
    void SetUp() override {
        if (kPassThroughLayout.record_size != 44) {
            GTEST_SKIP() << "the 44-byte record only";
        }
        handle = platform.open_drive("\\\\.\\PhysicalDrive0", 0);
        ASSERT_NE(handle, kInvalidDriveHandle);
    }

    bool send(Raw& raw, std::uint32_t* returned = nullptr) {
        std::uint32_t n = 0;
        return platform.device_io_control(handle, 0x4D004, raw.buffer.data(), raw.in_size,
                                          raw.buffer.data(), raw.out_size,
                                          returned != nullptr ? returned : &n);
    }

    FakePlatform host;
    SimDrive drive;
    SimPlatform platform{host, drive};
    DriveHandle handle = kInvalidDriveHandle;
};

TEST_F(Sim, MalformedRecordsAreInvalidParameters) {
    struct Case {
        const char* name;
        std::function<void(Raw&)> spoil;
    };
    const Case cases[] = {
        {"well formed", [](Raw&) {}},
        {"Length is not the record size", [](Raw& r) { r.buffer[0] = 56; }},
        {"no CDB", [](Raw& r) { r.buffer[6] = 0; }},
        {"CDB longer than 16", [](Raw& r) { r.buffer[6] = 17; }},
        {"unknown direction", [](Raw& r) { r.buffer[8] = 3; }},
        {"data with no direction", [](Raw& r) { r.buffer[8] = 2; }},
        {"input shorter than the record", [](Raw& r) { r.in_size = 43; }},
        {"output shorter than the record", [](Raw& r) { r.out_size = 43; }},
        {"data in past the output", [](Raw& r) { r.out_size -= 1; }},
        {"data out past the input",
         [](Raw& r) {
             r.buffer[8] = 0;
             r.in_size = 68;
         }},
        {"data inside the record", [](Raw& r) { put_le32(r.buffer.data() + 20, 40); }},
        {"data offset wraps", [](Raw& r) { put_le32(r.buffer.data() + 20, 0xFFFFFFF0); }},
        {"sense past the output", [](Raw& r) { put_le32(r.buffer.data() + 24, 600); }},
        {"sense over the data", [](Raw& r) { put_le32(r.buffer.data() + 24, 60); }},
        {"sense inside the record", [](Raw& r) { put_le32(r.buffer.data() + 24, 30); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        drive.clear_requests();
        Raw raw = raw_request(cdb16({0xE6, 0x02, 0x00, 0x02}), 512);
        c.spoil(raw);
        const bool well_formed = std::string(c.name) == "well formed";
        EXPECT_EQ(send(raw), well_formed);
        EXPECT_EQ(drive.requests().size(), well_formed ? 1u : 0u);
        if (!well_formed) {
            EXPECT_EQ(platform.last_error(), 87u);
        }
    }
    Raw raw = raw_request(cdb16({0xE6, 0x02, 0x00, 0x02}), 512);
    EXPECT_FALSE(platform.device_io_control(handle, 0x4D004, nullptr, raw.in_size,
                                            raw.buffer.data(), raw.out_size, nullptr));
    EXPECT_EQ(platform.last_error(), 87u);
}

TEST(Decoder, WideDataOffsetMustFitThirtyTwoBits) {
    Bytes record(56 + 24 + 16, 0);
    put_le16(record.data(), 56);
    record[6] = 6;
    record[8] = 1;
    put_le32(record.data() + 12, 16);
    put_le64(record.data() + 24, 80);
    PassThroughView view;
    ASSERT_TRUE(decode_pass_through(record.data(), 96, 96, view, kPassThroughLayout64));
    EXPECT_EQ(view.data_offset, 80u);
    put_le64(record.data() + 24, 0x100000050ull);
    EXPECT_FALSE(decode_pass_through(record.data(), 96, 96, view, kPassThroughLayout64));
}

TEST_F(Sim, CheckConditionCompletesWithStatusAndSense) {
    drive.set_fault(CommandId::nvme_smart_log,
                    Fault{FaultKind::check_condition, 0, 0, 0x03, 0x11, 0x00});
    Raw raw = raw_request(cdb16({0xE6, 0x02, 0x00, 0x02}), 512);
    std::fill(raw.buffer.begin() + 68, raw.buffer.end(), 0xCC);
    std::uint32_t returned = 0;
    ASSERT_TRUE(send(raw, &returned));
    const std::uint8_t* r = raw.buffer.data();
    EXPECT_EQ(r[2], 0x02);            // CHECK CONDITION
    EXPECT_EQ(r[7], 18);              // sense bytes written
    EXPECT_EQ(get_le32(r + 12), 0u);  // nothing transferred
    EXPECT_EQ(returned, 44u + 18u);
    const Bytes sense(r + 44, r + 62);
    EXPECT_EQ(sense, (Bytes{0x70, 0, 0x03, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x11, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Bytes(r + 68, r + 580), Bytes(512, 0xCC));  // the data area is not handed back
}

TEST_F(Sim, GoodAnswerHandsBackWhatWasSent) {
    drive.set_page(CommandId::read_fid, {0x98, 0x3C, 0x98, 0xB3});
    Raw raw = raw_request({0x06, 0x56, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 512, 0);
    std::uint32_t returned = 0;
    ASSERT_TRUE(send(raw, &returned));
    EXPECT_EQ(raw.buffer[2], 0x00);
    EXPECT_EQ(get_le32(raw.buffer.data() + 12), 4u);
    EXPECT_EQ(returned, 72u);
    EXPECT_EQ(Bytes(raw.buffer.begin() + 68, raw.buffer.begin() + 72),
              (Bytes{0x98, 0x3C, 0x98, 0xB3}));

    ASSERT_EQ(drive.requests().size(), 1u);
    const SimRequest& seen = drive.requests()[0];
    EXPECT_EQ(seen.cdb_length, 12);
    EXPECT_EQ(seen.cdb[0], 0x06);
    EXPECT_EQ(seen.cdb[1], 0x56);
    EXPECT_TRUE(seen.data_in);
    EXPECT_EQ(seen.transfer_length, 512u);
    EXPECT_EQ(seen.in_size, 580u);
    EXPECT_EQ(seen.out_size, 580u);
}

TEST_F(Sim, PlatformErrorFaultFailsTheCall) {
    drive.set_fault(CommandId::sysinfo, Fault{FaultKind::platform_error, 0x79});
    Raw raw = raw_request(cdb16({0x06, 0x00, 0x80, 0x00}), 4096, 0);
    const Bytes before = raw.buffer;
    EXPECT_FALSE(send(raw));
    EXPECT_EQ(platform.last_error(), 0x79u);
    EXPECT_EQ(raw.buffer, before);
}

// The drive's answer to each CDB, without the platform around it.
TEST(SimDriveAnswers, ByCdb) {
    struct Case {
        const char* name;
        Bytes cdb;
        bool data_in;
        std::uint32_t transfer;
        SimAnswer::Status status;
        std::uint32_t data_length;
        std::uint8_t asc;  // for check_condition
    };
    using S = SimAnswer::Status;
    const Case cases[] = {
        {"inquiry", {0x12, 0, 0, 0, 0x38, 0}, true, 56, S::good, 56, 0},
        {"inquiry cut to its allocation length",
         {0x12, 0, 0, 0, 0x24, 0},
         true,
         56,
         S::good,
         36,
         0},
        {"inquiry of a vital product data page",
         {0x12, 1, 0x80, 0, 0x38, 0},
         true,
         56,
         S::check_condition,
         0,
         0x20},
        {"capacity 10", {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, true, 8, S::good, 8, 0},
        {"capacity 16", cdb16({0x9E, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x20}), true, 32,
         S::good, 32, 0},
        {"page cut to the transfer length", cdb16({0x06, 0x00, 0x80, 0x00}), true, 100, S::good,
         100, 0},
        {"page shorter than the transfer",
         {0x06, 0x56, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
         true,
         600,
         S::good,
         512,
         0},
        {"write (10)", {0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0}, false, 512, S::check_condition, 0, 0x20},
        {"unknown vendor code",
         {0x06, 0x99, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
         true,
         512,
         S::check_condition,
         0,
         0x20},
        {"vendor code in the wrong form", cdb16({0x06, 0x56}), true, 512, S::check_condition, 0,
         0x20},
        {"known page with data out", cdb16({0x06, 0x00, 0x80, 0x00}), false, 512,
         S::check_condition, 0, 0x24},
        {"identify", cdb16({0xE6, 0x06, 0x00, 0x01}), true, 4096, S::good, 4096, 0},
        {"identify of a namespace", cdb16({0xE6, 0x06, 0x00, 0x00}), true, 4096, S::check_condition,
         0, 0x20},
        {"other log page", cdb16({0xE6, 0x02, 0x00, 0x03}), true, 512, S::check_condition, 0, 0x20},
    };
    SimDrive drive;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimRequest request;
        std::copy(c.cdb.begin(), c.cdb.end(), request.cdb.begin());
        request.cdb_length = static_cast<std::uint8_t>(c.cdb.size());
        request.data_in = c.data_in;
        request.transfer_length = c.transfer;
        Bytes data(c.transfer, 0xEE);
        const SimAnswer answer = drive.execute(request, data.data());
        EXPECT_EQ(answer.status, c.status);
        EXPECT_EQ(answer.data_length, c.data_length);
        if (c.status == S::check_condition) {
            EXPECT_EQ(answer.sense[0], 0x70);
            EXPECT_EQ(answer.sense[2], 0x05);  // ILLEGAL REQUEST
            EXPECT_EQ(answer.sense[12], c.asc);
            EXPECT_EQ(data, Bytes(c.transfer, 0xEE));
        }
        EXPECT_EQ(drive.requests().back().cdb[0], c.cdb[0]);
    }
    EXPECT_EQ(drive.requests().size(), std::size(cases));
}

TEST(SimDriveAnswers, FaultsAndTheMissingTunnel) {
    SimDrive drive;
    SimRequest request;
    request.cdb = {0x06, 0x05};
    request.cdb_length = 12;
    request.transfer_length = 528;
    Bytes data(528, 0);

    drive.set_fault(CommandId::read_info, Fault{FaultKind::short_data, 0, 7});
    EXPECT_EQ(drive.execute(request, data.data()).data_length, 7u);
    drive.set_fault(CommandId::read_info, Fault{FaultKind::platform_error, 0x1F});
    SimAnswer answer = drive.execute(request, data.data());
    EXPECT_EQ(answer.status, SimAnswer::Status::platform_error);
    EXPECT_EQ(answer.error_code, 0x1Fu);
    drive.clear_faults();
    EXPECT_EQ(drive.execute(request, data.data()).data_length, 528u);

    SimRequest tunnel;
    tunnel.cdb = {0xE6, 0x02, 0x00, 0x02};
    tunnel.cdb_length = 16;
    tunnel.transfer_length = 512;
    drive.set_tunnel_supported(false, 0x32);
    answer = drive.execute(tunnel, data.data());
    EXPECT_EQ(answer.status, SimAnswer::Status::platform_error);
    EXPECT_EQ(answer.error_code, 0x32u);
    // Any 0xE6 request, known or not.
    tunnel.cdb[3] = 0x7F;
    EXPECT_EQ(drive.execute(tunnel, data.data()).status, SimAnswer::Status::platform_error);
}

TEST(SimPlatformDrives, OnlyDriveZeroWithItsDescriptor) {
    FakePlatform host;
    SimDrive drive;
    drive.set_descriptor(SimDescriptor{"ACME    ", "BRIDGE          ", 0x11});
    SimPlatform platform(host, drive);

    for (const char* missing : {"\\\\.\\PhysicalDrive1", "\\\\.\\PhysicalDrive00", "sda"}) {
        SCOPED_TRACE(missing);
        EXPECT_EQ(platform.open_drive(missing, 0), kInvalidDriveHandle);
        EXPECT_EQ(platform.last_error(), 2u);
    }
    const DriveHandle h = platform.open_drive("\\\\.\\PhysicalDrive0", 0);
    ASSERT_NE(h, kInvalidDriveHandle);
    std::uint8_t query[12] = {};
    std::uint8_t out[512] = {};
    std::uint32_t returned = 0;
    ASSERT_TRUE(platform.device_io_control(h, 0x2D1400, query, 12, out, 512, &returned));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out + get_le32(out + 12))), "ACME    ");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out + get_le32(out + 16))), "BRIDGE          ");
    EXPECT_EQ(out[28], 0x11);
    EXPECT_EQ(returned, get_le32(out + 4));

    EXPECT_FALSE(platform.device_io_control(h, 0x70000, query, 12, out, 512, &returned));
    EXPECT_EQ(platform.last_error(), 1u);
    platform.close_drive(h);
    EXPECT_EQ(platform.open_handles(), 0u);
    EXPECT_FALSE(platform.device_io_control(h, 0x2D1400, query, 12, out, 512, &returned));
    EXPECT_EQ(platform.last_error(), 6u);
}

TEST(SimPlatformDrives, EverythingElseIsTheHosts) {
    FakePlatform host;
    SimDrive drive;
    SimPlatform platform(host, drive);
    EXPECT_EQ(platform.shell_open("report.txt"), 42);
    EXPECT_EQ(host.count_calls("shell report.txt"), 1);
}

}  // namespace
}  // namespace torvik::testing

namespace torvik::testing {
namespace {

Cdb raw_cdb(std::initializer_list<std::uint8_t> head, std::uint8_t length) {
    Cdb cdb;
    std::copy(head.begin(), head.end(), cdb.bytes.begin());
    cdb.length = length;
    return cdb;
}

// The read-only rule of the platform: only a data-in request with one of the five read opcodes
// reaches the drive; anything else is refused with access denied before it.
TEST(SimReadOnlyRule, OnlyReadsReachTheDrive) {
    struct Case {
        const char* what;
        Cdb cdb;
        std::uint32_t transfer;
        std::uint8_t data_in;
        bool sent;
    };
    const Case cases[] = {
        {"INQUIRY", inquiry_cdb(56), 56, kScsiIoctlDataIn, true},
        {"vendor read", vendor16_cdb(0x06008000), 4096, kScsiIoctlDataIn, true},
        {"vendor code sending data", vendor12_cdb(0x0601), 5, kScsiIoctlDataOut, false},
        {"INQUIRY without data, no direction", inquiry_cdb(0), 0, kScsiIoctlDataUnspecified, false},
        {"WRITE (10) asking for data in", raw_cdb({0x2A}, 10), 512, kScsiIoctlDataIn, false},
        {"SYNCHRONIZE CACHE", raw_cdb({0x35}, 10), 0, kScsiIoctlDataIn, false},
        {"FORMAT UNIT", raw_cdb({0x04}, 6), 0, kScsiIoctlDataIn, false},
        {"UNMAP", raw_cdb({0x42}, 10), 24, kScsiIoctlDataOut, false},
    };
    FakePlatform host;
    SimDrive drive;
    SimPlatform platform{host, drive};
    const DriveHandle disk = platform.open_drive(kSimDrivePath, 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        drive.clear_requests();
        // Built as the transport builds it (in the build's record layout), then DataIn set.
        const Request request(RequestParams{c.cdb, kSenseAreaSize, false, c.transfer});
        Bytes buffer = request.bytes();
        buffer[kSptDataIn] = c.data_in;
        std::uint32_t returned = 0;
        const bool ok = platform.device_io_control(disk, kIoctlScsiPassThrough, buffer.data(),
                                                   request.sizes().in_size, buffer.data(),
                                                   request.sizes().out_size, &returned);
        EXPECT_EQ(ok, c.sent);
        EXPECT_EQ(drive.requests().size(), c.sent ? 1u : 0u);
        EXPECT_EQ(platform.last_error(), c.sent ? 0u : 5u);
    }
}

}  // namespace
}  // namespace torvik::testing
