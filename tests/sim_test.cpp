// The simulated drive and its platform: the requests the platform refuses, the drive's answers by
// CDB, the faults, and what the platform hands back: status, sense, residual, data and errors.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "platform/storage_descriptor.h"
#include "sim/sim_platform.h"
#include "tests/support/fake_platform.h"
#include "tests/support/scratch.h"

namespace torvik::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes cdb16(Bytes head) {
    head.resize(16, 0);
    return head;
}

// A data-in request into data, as the transport makes one.
PassThroughRequest read_request(const Bytes& cdb, Bytes& data, std::uint8_t sense_length = 24) {
    PassThroughRequest r;
    std::copy(cdb.begin(), cdb.end(), r.cdb.begin());
    r.cdb_length = static_cast<std::uint8_t>(cdb.size());
    r.direction = DataDirection::in;
    r.data = data.empty() ? nullptr : data.data();
    r.transfer_length = static_cast<std::uint32_t>(data.size());
    r.sense_length = sense_length;
    r.timeout_seconds = 2;
    return r;
}

class Sim : public ::testing::Test {
  protected:
    void SetUp() override {
        handle = platform.open_drive("\\\\.\\PhysicalDrive0", 0);
        ASSERT_NE(handle, kInvalidDriveHandle);
    }

    FakePlatform host;
    SimDrive drive;
    SimPlatform platform{host, drive};
    DriveHandle handle = kInvalidDriveHandle;
};

// Only a well-formed data-in request with one of the five read opcodes reaches the drive; a
// malformed one fails as an invalid parameter (87), anything else with access denied (5).
TEST_F(Sim, OnlyReadsReachTheDrive) {
    struct Case {
        const char* name;
        std::function<void(PassThroughRequest&)> change;
        std::uint32_t error;  // 0: sent
    };
    const Case cases[] = {
        {"tunnel read", [](PassThroughRequest&) {}, 0},
        {"no data to read", [](PassThroughRequest& r) { r.transfer_length = 0; }, 0},
        {"INQUIRY",
         [](PassThroughRequest& r) {
             r.cdb = {0x12, 0, 0, 0, 56};
         },
         0},
        {"no CDB", [](PassThroughRequest& r) { r.cdb_length = 0; }, 87},
        {"CDB longer than 16", [](PassThroughRequest& r) { r.cdb_length = 17; }, 87},
        {"more sense than a result holds", [](PassThroughRequest& r) { r.sense_length = 33; }, 87},
        {"data with no direction", [](PassThroughRequest& r) { r.direction = DataDirection::none; },
         87},
        {"data with no buffer", [](PassThroughRequest& r) { r.data = nullptr; }, 87},
        {"transfer above 16 MiB",
         [](PassThroughRequest& r) { r.transfer_length = (16u << 20) + 1; }, 87},
        {"tunnel sending data", [](PassThroughRequest& r) { r.direction = DataDirection::out; }, 5},
        {"INQUIRY without data, no direction",
         [](PassThroughRequest& r) {
             r.cdb = {0x12};
             r.direction = DataDirection::none;
             r.transfer_length = 0;
         },
         5},
        {"WRITE (10) asking for data in", [](PassThroughRequest& r) { r.cdb = {0x2A}; }, 5},
        {"SYNCHRONIZE CACHE",
         [](PassThroughRequest& r) {
             r.cdb = {0x35};
             r.transfer_length = 0;
         },
         5},
        {"FORMAT UNIT", [](PassThroughRequest& r) { r.cdb = {0x04}; }, 5},
        {"UNMAP sending data",
         [](PassThroughRequest& r) {
             r.cdb = {0x42};
             r.direction = DataDirection::out;
         },
         5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        drive.clear_requests();
        Bytes data(512, 0);
        PassThroughRequest request = read_request(cdb16({0xE6, 0x02, 0x00, 0x02}), data);
        c.change(request);
        const PassThroughResult result = platform.pass_through(handle, request);
        EXPECT_EQ(result.completed, c.error == 0);
        EXPECT_EQ(drive.requests().size(), c.error == 0 ? 1u : 0u);
        EXPECT_EQ(result.error, c.error);
        if (c.error != 0) {
            EXPECT_EQ(platform.last_error(), c.error);
            EXPECT_EQ(result.error_text,
                      c.error == 87 ? "The parameter is incorrect" : "Access is denied");
        }
    }
    platform.close_drive(handle);
    Bytes data(512, 0);
    const PassThroughResult closed =
        platform.pass_through(handle, read_request(cdb16({0xE6, 0x02, 0x00, 0x02}), data));
    EXPECT_FALSE(closed.completed);
    EXPECT_EQ(closed.error, 6u);
    EXPECT_TRUE(drive.requests().empty());
}

TEST_F(Sim, CheckConditionCompletesWithStatusAndSense) {
    drive.set_fault(CommandId::nvme_smart_log,
                    Fault{FaultKind::check_condition, 0, 0, 0x03, 0x11, 0x00});
    const Bytes sense = {0x70, 0, 0x03, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x11, 0, 0, 0, 0, 0};
    for (const std::uint8_t asked : {24, 8, 0}) {
        SCOPED_TRACE(int{asked});
        Bytes data(512, 0xCC);
        const PassThroughResult result = platform.pass_through(
            handle, read_request(cdb16({0xE6, 0x02, 0x00, 0x02}), data, asked));
        ASSERT_TRUE(result.completed);
        EXPECT_EQ(result.scsi_status, 0x02);  // CHECK CONDITION
        EXPECT_EQ(result.residual, 512u);     // nothing transferred
        const std::size_t n = std::min<std::size_t>(asked, 18);
        ASSERT_EQ(result.sense_length, n);
        EXPECT_EQ(Bytes(result.sense.begin(), result.sense.begin() + n),
                  Bytes(sense.begin(), sense.begin() + n));
        EXPECT_EQ(data, Bytes(512, 0xCC));
    }
}

TEST_F(Sim, GoodAnswerHandsBackWhatWasSent) {
    drive.set_page(CommandId::read_fid, {0x98, 0x3C, 0x98, 0xB3});
    Bytes data(512, 0);
    const PassThroughResult result = platform.pass_through(
        handle, read_request({0x06, 0x56, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, data, 0));
    ASSERT_TRUE(result.completed);
    EXPECT_EQ(result.scsi_status, 0x00);
    EXPECT_EQ(result.residual, 508u);
    EXPECT_EQ(result.sense_length, 0u);
    EXPECT_EQ(Bytes(data.begin(), data.begin() + 4), (Bytes{0x98, 0x3C, 0x98, 0xB3}));

    ASSERT_EQ(drive.requests().size(), 1u);
    const SimRequest& seen = drive.requests()[0];
    EXPECT_EQ(seen.cdb_length, 12);
    EXPECT_EQ(seen.cdb[0], 0x06);
    EXPECT_EQ(seen.cdb[1], 0x56);
    EXPECT_TRUE(seen.data_in);
    EXPECT_EQ(seen.transfer_length, 512u);
}

// The fault's Windows error code, with the system's words for it where the simulator knows them.
TEST_F(Sim, PlatformErrorFaultFailsTheCall) {
    const struct {
        std::uint32_t code;
        const char* text;
    } cases[] = {{31, "A device attached to the system is not functioning"}, {0x79, "error 121"}};
    for (const auto& c : cases) {
        drive.set_fault(CommandId::sysinfo, Fault{FaultKind::platform_error, c.code});
        Bytes data(4096, 0xCC);
        const PassThroughResult result =
            platform.pass_through(handle, read_request(cdb16({0x06, 0x00, 0x80, 0x00}), data, 0));
        EXPECT_FALSE(result.completed);
        EXPECT_EQ(result.error, c.code);
        EXPECT_EQ(result.error_text, c.text);
        EXPECT_EQ(platform.last_error(), c.code);
        EXPECT_EQ(data, Bytes(4096, 0xCC));
    }
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
    // A bridge of the 0xE4 form, which reads only: its read sent as data out is an illegal
    // request, as the hardware answers it.
    const Case e4_cases[] = {
        {"e4 smart log", cdb16({0xE4, 0x00, 0x02, 0x02, 0x02}), true, 512, S::good, 512, 0},
        {"e4 smart log with data out", cdb16({0xE4, 0x00, 0x02, 0x02, 0x02}), false, 512,
         S::check_condition, 0, 0x24},
        {"e4 identify with data out", cdb16({0xE4, 0x00, 0x10, 0x06, 0x01}), false, 4096,
         S::check_condition, 0, 0x24},
    };
    SimDrive drive;
    SimDrive e4_bridge;
    e4_bridge.set_bridge(UsbId{0x0BDA, 0x9210}, BridgeForm::e4);
    const auto answers = [](SimDrive& target, const Case& c) {
        SCOPED_TRACE(c.name);
        SimRequest request;
        std::copy(c.cdb.begin(), c.cdb.end(), request.cdb.begin());
        request.cdb_length = static_cast<std::uint8_t>(c.cdb.size());
        request.data_in = c.data_in;
        request.transfer_length = c.transfer;
        Bytes data(c.transfer, 0xEE);
        const SimAnswer answer = target.execute(request, data.data());
        EXPECT_EQ(answer.status, c.status);
        EXPECT_EQ(answer.data_length, c.data_length);
        if (c.status == S::check_condition) {
            EXPECT_EQ(answer.sense[0], 0x70);
            EXPECT_EQ(answer.sense[2], 0x05);  // ILLEGAL REQUEST
            EXPECT_EQ(answer.sense[12], c.asc);
            EXPECT_EQ(data, Bytes(c.transfer, 0xEE));
        }
        EXPECT_EQ(target.requests().back().cdb[0], c.cdb[0]);
    };
    for (const Case& c : cases)
        answers(drive, c);
    for (const Case& c : e4_cases)
        answers(e4_bridge, c);
    EXPECT_EQ(drive.requests().size(), std::size(cases));
    EXPECT_EQ(e4_bridge.requests().size(), std::size(e4_cases));
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
