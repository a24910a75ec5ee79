// The Windows backend's request buffer: each command of the transport as the OS receives it, in the
// 44-byte record (the sizes the documentation gives) and the 64-bit build's 56-byte one; and what
// the backend reads back from a buffer the OS has answered.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <vector>

#include "common/bytes.h"
#include "platform/windows_pass_through.h"
#include "tests/support/fake_platform.h"
#include "transport/operations.h"

namespace torvik::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Keeps the one request it is given and fails it.
class Recorder : public FakePlatform {
  public:
    std::optional<PassThroughRequest> request;
    PassThroughResult pass_through(DriveHandle, const PassThroughRequest& r) override {
        request = r;
        return failed_call(kErrorInvalidFunction, "");
    }

  private:
    static constexpr std::uint32_t kErrorInvalidFunction = 1;
};

using Operation = std::function<void(DriveLink&, std::uint8_t*)>;

TEST(WindowsPassThrough, EveryCommandInBothRecordLayouts) {
    struct Sizes {
        std::uint32_t data_offset, in_size, out_size;
    };
    struct Case {
        const char* name;
        Operation run;
        Sizes narrow;  // the 44-byte record
        Sizes wide;    // the 56-byte record
    };
    const Case cases[] = {
        {"inquiry",
         [](DriveLink& l, std::uint8_t* b) { scsi_inquiry(l, b, 56); },
         {76, 44, 132},
         {88, 56, 144}},
        {"read capacity 10",
         [](DriveLink& l, std::uint8_t* b) { scsi_read_capacity10(l, b); },
         {68, 76, 76},
         {80, 88, 88}},
        {"read capacity 16",
         [](DriveLink& l, std::uint8_t* b) { scsi_read_capacity16(l, b); },
         {68, 100, 100},
         {80, 112, 112}},
        {"fid",
         [](DriveLink& l, std::uint8_t* b) { vendor_command12(l, b, 0x0656, 512); },
         {68, 580, 580},
         {80, 592, 592}},
        {"infoblock",
         [](DriveLink& l, std::uint8_t* b) { vendor_command16(l, b, 0x0600B100, 6144); },
         {68, 6212, 6212},
         {80, 6224, 6224}},
        {"empty vendor transfer",
         [](DriveLink& l, std::uint8_t* b) { vendor_command12(l, b, 0x0656, 0); },
         {68, 68, 68},
         {80, 80, 80}},
        {"nvme smart log",
         [](DriveLink& l, std::uint8_t* b) { nvme_smart_log(l, b); },
         {68, 580, 580},
         {80, 592, 592}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Recorder recorder;
        std::FILE* console = std::tmpfile();
        DriveLink link{recorder, 7, console};
        Bytes buffer(8192, 0);
        c.run(link, buffer.data());
        std::fclose(console);
        ASSERT_TRUE(recorder.request);
        const PassThroughRequest& request = *recorder.request;
        for (const bool wide : {false, true}) {
            SCOPED_TRACE(wide ? "56" : "44");
            const PassThroughLayout& layout = wide ? kPassThroughLayout64 : kPassThroughLayout32;
            const Sizes& sizes = wide ? c.wide : c.narrow;
            const WindowsPassThrough sent = build_windows_pass_through(request, layout);
            EXPECT_EQ(sent.data_offset, sizes.data_offset);
            EXPECT_EQ(sent.in_size, sizes.in_size);
            EXPECT_EQ(sent.out_size, sizes.out_size);
            ASSERT_EQ(sent.buffer.size(), std::max(sizes.in_size, sizes.out_size));

            const std::uint8_t* r = sent.buffer.data();
            const std::uint32_t record = wide ? 56 : 44;
            EXPECT_EQ(get_le16(r), record);
            EXPECT_EQ(Bytes(r + 2, r + 6), Bytes(4, 0));  // ScsiStatus, PathId, TargetId, Lun
            EXPECT_EQ(r[6], request.cdb_length);
            EXPECT_EQ(r[7], request.sense_length);
            EXPECT_EQ(r[8], 1);  // data in
            EXPECT_EQ(get_le32(r + 12), request.transfer_length);
            EXPECT_EQ(get_le32(r + 16), 2u);
            EXPECT_EQ(wide ? get_le64(r + 24) : get_le32(r + 20), sizes.data_offset);
            EXPECT_EQ(get_le32(r + (wide ? 32 : 24)), record);  // the sense area right behind
            const std::uint32_t cdb_at = wide ? 36 : 28;
            EXPECT_EQ(Bytes(r + cdb_at, r + cdb_at + 16),
                      Bytes(request.cdb.begin(), request.cdb.end()));
            EXPECT_EQ(Bytes(r + record, r + sent.buffer.size()),
                      Bytes(sent.buffer.size() - record, 0));  // cleared
        }
    }
}

// The record as the OS leaves it after a call: status, sense and data go back to the request.
TEST(WindowsPassThrough, ReadsBackStatusSenseAndData) {
    Bytes data(512, 0xAA);
    PassThroughRequest request;
    request.cdb = {0xE6, 0x02, 0x00, 0x02};
    request.cdb_length = 16;
    request.direction = DataDirection::in;
    request.data = data.data();
    request.transfer_length = 512;
    request.sense_length = 24;
    for (const bool wide : {false, true}) {
        SCOPED_TRACE(wide ? "56" : "44");
        std::fill(data.begin(), data.end(), 0xAA);
        const PassThroughLayout& layout = wide ? kPassThroughLayout64 : kPassThroughLayout32;
        WindowsPassThrough sent = build_windows_pass_through(request, layout);
        std::uint8_t* r = sent.buffer.data();
        r[2] = 0x02;            // CHECK CONDITION
        r[7] = 18;              // sense bytes written
        put_le32(r + 12, 100);  // data bytes that came
        r[layout.record_size] = 0x70;
        r[layout.record_size + 12] = 0x24;
        std::fill_n(r + sent.data_offset, 512, 0x5A);

        const PassThroughResult result = read_windows_pass_through(sent, request, layout);
        EXPECT_TRUE(result.completed);
        EXPECT_EQ(result.scsi_status, 0x02);
        EXPECT_EQ(result.residual, 412u);
        ASSERT_EQ(result.sense_length, 18);
        EXPECT_EQ(result.sense[0], 0x70);
        EXPECT_EQ(result.sense[12], 0x24);
        EXPECT_EQ(Bytes(data.begin(), data.begin() + 100), Bytes(100, 0x5A));
        EXPECT_EQ(Bytes(data.begin() + 100, data.end()), Bytes(412, 0xAA));

        // A record that claims more than was asked for is held to the request.
        put_le32(r + 12, 4096);
        r[7] = 200;
        const PassThroughResult claimed = read_windows_pass_through(sent, request, layout);
        EXPECT_EQ(claimed.residual, 0u);
        EXPECT_EQ(claimed.sense_length, 24);
    }
}

// Data out, which no command of the tool uses yet: the bytes go into the data area, DataIn 0.
TEST(WindowsPassThrough, DataOutFillsTheDataArea) {
    Bytes data = {1, 2, 3, 4};
    PassThroughRequest request;
    request.cdb = {0x06, 0x01};
    request.cdb_length = 12;
    request.direction = DataDirection::out;
    request.data = data.data();
    request.transfer_length = 4;
    const WindowsPassThrough sent = build_windows_pass_through(request, kPassThroughLayout32);
    EXPECT_EQ(sent.buffer[8], 0);
    EXPECT_EQ(sent.in_size, 72u);
    EXPECT_EQ(Bytes(sent.buffer.begin() + 68, sent.buffer.end()), data);
}

}  // namespace
}  // namespace torvik::testing
