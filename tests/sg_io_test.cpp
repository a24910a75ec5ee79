// Pass-through requests on Linux: the SG_IO translation against a fake ioctl, on a fake sysfs tree.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/linux_platform.h"
#include "platform/linux_sg_io.h"
#include "tests/support/scratch.h"
#include "transport/operations.h"

namespace torvik::testing {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// What the fake ioctl saw, and what it answers.
struct FakeSgIo {
    // Seen.
    int calls = 0;
    std::string node;  // the device file the request went to
    SgIoCall request;
    Bytes cdb;
    // Answer.
    int error = 0;
    Bytes data;  // written to dxferp
    Bytes sense;
    std::uint8_t status = 0;
    std::uint8_t masked_status = 0;
    std::uint16_t host_status = 0;
    std::uint16_t driver_status = 0;
    std::optional<std::int32_t> resid;  // unset: what the data leaves of the transfer

    SgIoFunction function() {
        return [this](int fd, SgIoCall& call) {
            ++calls;
            node = fs::read_symlink("/proc/self/fd/" + std::to_string(fd)).filename().string();
            request = call;
            cdb.assign(call.cmdp, call.cmdp + call.cmd_len);
            if (error != 0) {
                return error;
            }
            for (std::size_t i = 0; i < data.size() && i < call.dxfer_len; ++i) {
                call.dxferp[i] = data[i];
            }
            for (std::size_t i = 0; i < sense.size() && i < call.mx_sb_len; ++i) {
                call.sbp[i] = sense[i];
            }
            call.sb_len_wr =
                static_cast<std::uint8_t>(std::min<std::size_t>(sense.size(), call.mx_sb_len));
            call.status = status;
            call.masked_status = masked_status;
            call.host_status = host_status;
            call.driver_status = driver_status;
            call.resid = resid.value_or(
                static_cast<std::int32_t>(call.dxfer_len) -
                static_cast<std::int32_t>(std::min<std::size_t>(data.size(), call.dxfer_len)));
            return 0;
        };
    }
};

void write_text(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

// sda: a SATA disk without an sg node; sdb: a USB disk whose SCSI generic node is sg2.
class SgIo : public ::testing::Test {
  protected:
    void SetUp() override {
        const fs::path root = dir.path();
        add_disk("sda", "pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0", "");
        add_disk("sdb", "pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host3/target3:0:0/3:0:0:0",
                 "sg2");
        platform.set_sg_io(fake.function());
    }

    void add_disk(const std::string& name, const std::string& device_path, const std::string& sg) {
        const fs::path root = dir.path();
        const fs::path device = root / "sys/devices" / device_path;
        fs::create_directories(device / "block" / name);
        if (!sg.empty()) {
            fs::create_directories(device / "scsi_generic" / sg);
        }
        fs::create_directory_symlink(device, device / "block" / name / "device");
        fs::create_directories(root / "sys/block");
        fs::create_directory_symlink(device / "block" / name, root / "sys/block" / name);
        write_text(root / "dev" / name, "");
        if (!sg.empty()) {
            write_text(root / "dev" / sg, "");
        }
    }

    DriveHandle open(int number) {
        const std::string path = "\\\\.\\PhysicalDrive" + std::to_string(number);
        return platform.open_drive(path.c_str(), 0x30000080);
    }

    ScratchDir dir;
    LinuxPlatform platform{(dir.path() / "sys").string(), (dir.path() / "dev").string(),
                           (dir.path() / "os-release").string()};
    FakeSgIo fake;
};

// A data-in request into data.
PassThroughRequest read_request(const Bytes& cdb, Bytes& data, std::uint8_t sense_length,
                                std::uint32_t timeout = 2) {
    PassThroughRequest r;
    std::copy(cdb.begin(), cdb.end(), r.cdb.begin());
    r.cdb_length = static_cast<std::uint8_t>(cdb.size());
    r.direction = DataDirection::in;
    r.data = data.data();
    r.transfer_length = static_cast<std::uint32_t>(data.size());
    r.sense_length = sense_length;
    r.timeout_seconds = timeout;
    return r;
}

TEST_F(SgIo, OnlyWellFormedReadsReachTheIoctl) {
    const DriveHandle h = open(1);
    ASSERT_NE(h, kInvalidDriveHandle);
    Bytes data(512, 0);
    PassThroughRequest write10 = read_request({0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0}, data, 24);
    PassThroughRequest inquiry_out = read_request({0x12, 0, 0, 0, 56, 0}, data, 24);
    inquiry_out.direction = DataDirection::out;
    PassThroughRequest no_cdb = read_request({}, data, 24);
    const std::pair<PassThroughRequest*, std::uint32_t> cases[] = {
        {&write10, 1}, {&inquiry_out, 1}, {&no_cdb, 22}};  // EPERM, EINVAL
    for (const auto& [request, error] : cases) {
        const PassThroughResult result = platform.pass_through(h, *request);
        EXPECT_FALSE(result.completed);
        EXPECT_EQ(result.error, error);
        EXPECT_EQ(platform.last_error(), error);
    }
    EXPECT_EQ(fake.calls, 0);
    platform.close_drive(h);
    EXPECT_EQ(platform.pass_through(h, read_request({0x25}, data, 24)).error, 9u);  // EBADF
}

TEST_F(SgIo, DataInRequestGoesToTheScsiGenericNode) {
    const DriveHandle h = open(1);
    ASSERT_NE(h, kInvalidDriveHandle);
    Bytes data(512, 0);
    fake.data = Bytes(512, 0x5A);
    const PassThroughResult result = platform.pass_through(
        h, read_request({0xE6, 0x02, 0x00, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, data, 24, 7));
    ASSERT_TRUE(result.completed);
    EXPECT_EQ(fake.node, "sg2");
    EXPECT_EQ(fake.request.dxfer_direction, -3);  // SG_DXFER_FROM_DEV
    EXPECT_EQ(fake.request.cmd_len, 16);
    EXPECT_EQ(fake.cdb, (Bytes{0xE6, 0x02, 0x00, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(fake.request.mx_sb_len, 24);
    EXPECT_EQ(fake.request.dxfer_len, 512u);
    EXPECT_EQ(fake.request.timeout, 7000u);
    EXPECT_EQ(result.residual, 0u);
    EXPECT_EQ(data, Bytes(512, 0x5A));
}

TEST_F(SgIo, WithoutAnSgNodeTheBlockNodeCarriesIt) {
    DriveLink link{platform, open(0), stdout};
    EXPECT_TRUE(vendor_command12(link, nullptr, 0x0656, 0).ok());
    EXPECT_EQ(fake.node, "sda");
    EXPECT_EQ(fake.request.dxfer_direction, -1);  // SG_DXFER_NONE
    EXPECT_EQ(fake.request.mx_sb_len, 0);
    EXPECT_EQ(fake.request.timeout, 2000u);
}

TEST_F(SgIo, RepliesMapOntoTheResult) {
    struct Case {
        const char* name;
        std::uint8_t status, masked;
        std::uint16_t host, driver;
        std::size_t data_bytes;  // of 4096
        int ioctl_error;
        bool completed;
        std::uint32_t error;
        std::optional<std::int32_t> resid{};  // as the driver reports it
        std::uint32_t residual = 0;           // with resid: what the result says
    };
    const Case cases[] = {
        {"all data", 0x00, 0x00, 0, 0, 4096, 0, true, 0},
        {"short reply with resid", 0x00, 0x00, 0, 0, 512, 0, true, 0},
        // A resid beyond the transfer is no data; a negative one, the whole transfer.
        {"resid beyond the transfer", 0x00, 0x00, 0, 0, 0, 0, true, 0, 4097, 4096},
        {"negative resid", 0x00, 0x00, 0, 0, 4096, 0, true, 0, -1, 0},
        {"check condition", 0x02, 0x01, 0, 0x08, 0, 0, true, 0},
        {"time-out", 0x00, 0x00, 0x03, 0, 0, 0, false, 110},
        {"host error", 0x00, 0x00, 0x07, 0, 0, 0, false, 5},
        {"no connection", 0x00, 0x00, 0x01, 0, 0, 0, false, 5},
        {"driver error", 0x00, 0x00, 0, 0x04, 0, 0, false, 5},
        {"ioctl refused", 0x00, 0x00, 0, 0, 0, 13, false, 13},
    };
    const DriveHandle h = open(1);
    const Bytes sense = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x20, 0, 0, 0, 0, 0};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake.status = c.status;
        fake.masked_status = c.masked;
        fake.host_status = c.host;
        fake.driver_status = c.driver;
        fake.error = c.ioctl_error;
        fake.data = Bytes(c.data_bytes, 0x11);
        fake.resid = c.resid;
        fake.sense = c.status == 0x02 ? sense : Bytes{};
        Bytes data(4096, 0);
        const PassThroughResult result = platform.pass_through(
            h,
            read_request({0xE6, 0x06, 0x00, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, data, 24));
        EXPECT_EQ(result.completed, c.completed);
        if (!c.completed) {
            EXPECT_EQ(result.error, c.error);
            EXPECT_EQ(result.error_text, std::strerror(static_cast<int>(c.error)));
            EXPECT_EQ(platform.last_error(), c.error);
            continue;
        }
        EXPECT_EQ(result.scsi_status, c.status);
        EXPECT_EQ(result.residual, c.resid ? c.residual : 4096 - c.data_bytes);
        EXPECT_EQ(Bytes(result.sense.begin(), result.sense.begin() + result.sense_length),
                  c.status == 0x02 ? sense : Bytes{});
        EXPECT_EQ(Bytes(data.begin(), data.begin() + c.data_bytes), Bytes(c.data_bytes, 0x11));
    }
}

TEST_F(SgIo, TransportSeesTimeOutAndCheckCondition) {
    Capture console;
    DriveLink link{platform, open(1), console.file()};
    Bytes page(512, 0xAA);
    fake.host_status = 0x03;
    EXPECT_FALSE(nvme_smart_log(link, page.data()).ok());
    EXPECT_EQ(console.text(), "IOCtl: ASM Id/Smart failed 0x6e!\n");
    EXPECT_EQ(page, Bytes(512, 0xAA));

    fake.host_status = 0;
    fake.status = 0x02;
    fake.masked_status = 0x01;
    fake.driver_status = 0x08;
    EXPECT_EQ(vendor_command16(link, page.data(), 0x06008901, 512).outcome,
              CommandResult::Outcome::check_condition);
    EXPECT_EQ(page, Bytes(512, 0));
    EXPECT_EQ(console.text(), "IOCtl: ASM Id/Smart failed 0x6e!\n");  // nothing more
}

TEST_F(SgIo, RealIoctlOnAPlainFileReportsItsErrno) {
    LinuxPlatform real{(dir.path() / "sys").string(), (dir.path() / "dev").string(),
                       (dir.path() / "os-release").string()};
    const DriveHandle h = real.open_drive("\\\\.\\PhysicalDrive1", 0);
    ASSERT_NE(h, kInvalidDriveHandle);
    Bytes data(8, 0);
    const PassThroughResult result =
        real.pass_through(h, read_request({0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, data, 24));
    EXPECT_FALSE(result.completed);
    EXPECT_EQ(result.error, 25u);  // ENOTTY: a plain file knows no SG_IO
    EXPECT_EQ(real.last_error(), 25u);
}

}  // namespace
}  // namespace torvik::testing
