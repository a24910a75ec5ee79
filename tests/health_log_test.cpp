// The health log: its four sections, their gates and exact lines, and the file around them.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "model/drive_model.h"
#include "report/health_log.h"
#include "tests/support/fake_platform.h"
#include "tests/support/scratch.h"

namespace torvik::testing {
namespace {

using Page = std::vector<std::uint8_t>;

constexpr const char* kNvmeHeading = "-------- NVME SMART --------\n";
constexpr const char* kExtHeadings =
    "-------- EXT.SMART -------- (possible incorrect)\n"
    " # IntId     HexRaw        DecRaw       Description\n";
constexpr const char* kSystemHeading = "-------- SYSTEM STATUS LOG -------- (possible incorrect)\n";

std::string nvme_of(const Page& smart) {
    return written_text(
        [&](OutputFile* log) { write_nvme_smart_section(log, decode_nvme_smart(smart.data())); });
}

std::string ext_of(const Page& smartext) {
    return written_text([&](OutputFile* log) {
        write_ext_smart_section(log, decode_extended_smart(smartext.data()));
    });
}

std::string status_of(const Page& sysinfo) {
    return written_text(
        [&](OutputFile* log) { write_status_logs(log, decode_status_counters(sysinfo.data())); });
}

// The health log of a run whose three pages were read as given.
void write_log_of(FileStore& files, std::FILE* console, const Page& smart, const Page& smartext,
                  const Page& sysinfo) {
    DriveModel model;
    const CommandResult done{CommandResult::Outcome::data, 0, 0};
    model.sent(CommandId::smart, smart.data(), done);
    model.sent(CommandId::smartext, smartext.data(), done);
    model.sent(CommandId::sysinfo, sysinfo.data(), done);
    write_health_log(files, console, model);
}

// An extended SMART record: number, IntId, 64-bit raw value.
void put_ext_record(Page& smartext, std::size_t k, std::uint16_t number, std::uint16_t int_id,
                    std::uint64_t raw) {
    put_le16(&smartext[16 * k], number);
    put_le16(&smartext[16 * k + 2], int_id);
    put_le64(&smartext[16 * k + 8], raw);
}

TEST(NvmeSmartSection, WholeSectionFromAFilledPage) {
    Page smart(512, 0);
    smart[0] = 0x06;
    put_le16(&smart[1], 323);
    smart[3] = 100;
    smart[4] = 10;
    smart[5] = 3;
    put_le32(&smart[0x20], 2048);
    put_le32(&smart[0x2C], 0xFFFFFFFF);  // the top word of each 128-bit counter is not read
    put_le32(&smart[0x30], 128);
    put_le32(&smart[0x44], 1);
    put_le32(&smart[0x50], 5);
    put_le32(&smart[0x58], 1);
    const std::uint32_t counters[] = {7, 8, 9, 10, 11, 12};  // 0x60..0xB0, 16 bytes apart
    for (std::size_t i = 0; i < 6; ++i) {
        put_le32(&smart[0x60 + 16 * i], counters[i]);
        put_le32(&smart[0x64 + 16 * i], 0xFFFFFFFF);
    }
    put_le32(&smart[0xC0], 13);
    put_le32(&smart[0xC4], 14);
    put_le16(&smart[0xC8], 45);
    put_le16(&smart[0xCC], 318);
    put_le16(&smart[0xCE], 250);
    put_le16(&smart[0xD6], 200);
    put_le32(&smart[0xD8], 15);
    put_le32(&smart[0xDC], 16);
    put_le32(&smart[0xE0], 17);
    put_le32(&smart[0xE4], 4294967295u);
    EXPECT_EQ(nvme_of(smart),
              "-------- NVME SMART --------\n"
              "0 Critical Warning\t\t\t\t: 6 (temperature outside threshold; significant "
              "media/internal error)\n"
              "1 Composite Temperature\t\t\t\t: 50\n"
              "2 Available Spare\t\t\t\t: 100\n"
              "3 Available Spare Threshold\t\t\t: 10\n"
              "4 Percentage Used\t\t\t\t: 3\n"
              "5 Data Units Read,MB\t\t\t\t: 1000\n"
              "6 Data Units Written,MB\t\t\t\t: 63\n"
              "7 Host Read Commands\t\t\t\t: 4294967296\n"
              "8 Host Write Commands\t\t\t\t: 18446744073709551616\n"
              "9 Controller Busy Time\t\t\t\t: 7\n"
              "10 Power Cycles\t\t\t\t\t: 8\n"
              "11 Power On Hours\t\t\t\t: 9\n"
              "12 Unsafe Shutdowns\t\t\t\t: 10\n"
              "13 Media and Data Integrity Errors\t\t: 11\n"
              "14 Number of Error Information Log Entries\t: 12\n"
              "15 Warning Composite Temperature Time\t\t: 13\n"
              "16 Critical Composite Temperature Time\t\t: 14\n"
              "17 Temperature Sensor 0\t*\t\t\t: 45\n"
              "19 Temperature Sensor 2\t\t\t\t: 45\n"
              "20 Temperature Sensor 3\t\t\t\t: 4294967273\n"
              "24 Temperature Sensor 7\t\t\t\t: 4294967223\n"
              "25 Thermal Management Temp 1 Transition Count\t: 15\n"
              "26 Thermal Management Temp 2 Transition Count\t: 16\n"
              "27 Total Time For Thermal Management Temp 1\t: 17\n"
              "28 Total Time For Thermal Management Temp 2\t: 4294967295\n");
}

TEST(NvmeSmartSection, PageWithOnlyUnprintedBytesGivesZerosAndNoSensors) {
    Page smart(512, 0);
    smart[0x100] = 1;
    EXPECT_EQ(nvme_of(smart),
              "-------- NVME SMART --------\n"
              "0 Critical Warning\t\t\t\t: 0\n"
              "1 Composite Temperature\t\t\t\t: 4294967023\n"
              "2 Available Spare\t\t\t\t: 0\n"
              "3 Available Spare Threshold\t\t\t: 0\n"
              "4 Percentage Used\t\t\t\t: 0\n"
              "5 Data Units Read,MB\t\t\t\t: 0\n"
              "6 Data Units Written,MB\t\t\t\t: 0\n"
              "7 Host Read Commands\t\t\t\t: 0\n"
              "8 Host Write Commands\t\t\t\t: 0\n"
              "9 Controller Busy Time\t\t\t\t: 0\n"
              "10 Power Cycles\t\t\t\t\t: 0\n"
              "11 Power On Hours\t\t\t\t: 0\n"
              "12 Unsafe Shutdowns\t\t\t\t: 0\n"
              "13 Media and Data Integrity Errors\t\t: 0\n"
              "14 Number of Error Information Log Entries\t: 0\n"
              "15 Warning Composite Temperature Time\t\t: 0\n"
              "16 Critical Composite Temperature Time\t\t: 0\n"
              "25 Thermal Management Temp 1 Transition Count\t: 0\n"
              "26 Thermal Management Temp 2 Transition Count\t: 0\n"
              "27 Total Time For Thermal Management Temp 1\t: 0\n"
              "28 Total Time For Thermal Management Temp 2\t: 0\n");
}

TEST(NvmeSmartSection, GateLooksAtAllFiveHundredTwelveBytes) {
    struct Case {
        std::size_t nonzero;  // the one non-zero byte, or 512 for none
        bool written;
    } cases[] = {{512, false}, {0x100, true}, {511, true}, {0, true}};
    for (const Case& c : cases) {
        Page smart(513, 0);
        smart[c.nonzero] = 0x80;  // byte 512 lies past the page
        EXPECT_EQ(!nvme_of(smart).empty(), c.written) << c.nonzero;
    }
}

TEST(NvmeSmartSection, CriticalWarningTexts) {
    struct Case {
        std::uint8_t warning;
        const char* line;
    } cases[] = {
        {0x00, "0 Critical Warning\t\t\t\t: 0\n"},
        {0x01, "0 Critical Warning\t\t\t\t: 1 (spare below threshold)\n"},
        {0x06,
         "0 Critical Warning\t\t\t\t: 6 (temperature outside threshold; significant "
         "media/internal error)\n"},
        {0x1F,
         "0 Critical Warning\t\t\t\t: 31 (spare below threshold; temperature outside "
         "threshold; significant media/internal error; read only mode; volatile memory "
         "failed)\n"},
        {0x20, "0 Critical Warning\t\t\t\t: 32 ()\n"},
        {0xE8, "0 Critical Warning\t\t\t\t: 232 (read only mode)\n"},
    };
    for (const Case& c : cases) {
        Page smart(512, 0);
        smart[0] = c.warning;
        smart[0x100] = 1;  // keeps the section when the warning byte is 0
        const std::string text = nvme_of(smart);
        EXPECT_EQ(text.substr(0, text.find('\n', std::string(kNvmeHeading).size()) + 1),
                  std::string(kNvmeHeading) + c.line);
    }
}

// Boundaries beyond the whole-section examples above.
TEST(NvmeSmartSection, TemperatureAndCounterBoundaries) {
    struct Case {
        std::size_t offset;
        std::vector<std::uint8_t> bytes;  // at offset
        const char* line;
    } cases[] = {
        {0x01, {0x10, 0x01}, "1 Composite Temperature\t\t\t\t: 4294967295\n"},
        {0xC8, {199, 0}, "17 Temperature Sensor 0\t*\t\t\t: 199\n"},
        {0xC8, {200, 0}, "17 Temperature Sensor 0\t\t\t\t: 4294967223\n"},
        {0xD6, {0x11, 0x01}, "24 Temperature Sensor 7\t\t\t\t: 0\n25"},
        {0x20, {0x80}, "5 Data Units Read,MB\t\t\t\t: 63\n"},
        {0x20, {0x81}, "5 Data Units Read,MB\t\t\t\t: 63\n"},    // 63.0 exactly
        {0x20, {0x7F}, "5 Data Units Read,MB\t\t\t\t: 62\n"},    // 62.01...
        {0x30, {0x03}, "6 Data Units Written,MB\t\t\t\t: 1\n"},  // 1.46...
        {0x30,
         {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},  // 2^64 - 1 becomes 2^64
         "6 Data Units Written,MB\t\t\t\t: 9007199254740992000\n"},
        {0x30,
         {0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0},
         "6 Data Units Written,MB\t\t\t\t: 9007199254740992000\n"},
        {0x50, {0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF}, "8 Host Write Commands\t\t\t\t: 1\n"},
        {0x80, {0x78, 0x56, 0x34, 0x12, 0xFF}, "11 Power On Hours\t\t\t\t: 305419896\n"},
    };
    for (const Case& c : cases) {
        Page smart(512, 0);
        std::copy(c.bytes.begin(), c.bytes.end(), smart.begin() + c.offset);
        EXPECT_TRUE(contains(nvme_of(smart), c.line)) << c.line << nvme_of(smart);
    }
}

TEST(ExtSmartSection, RecordLines) {
    struct Case {
        std::uint16_t number, int_id;
        std::uint64_t raw;
        const char* line;
    } cases[] = {
        {1, 0x0100, 0x123456789ABC,
         " 1 0100: 9abc_5678_1234 20015998343868 - Flash UNC Error Count\n"},
        {2, 0x0500, 7, " 2 0500: 0007_0000_0000             7 - Read Fail Count\n"},
        {12, 0x0601, 0xFFFF, "12 0601: ffff_0000_0000         65535\n"},
        {0xFFFF, 0xF012, 0x0001000000000005,  // bytes 14..15 show only in the decimal
         "65535 f012: 0005_0000_0000 281474976710661 - RAID ECC retry count\n"},
        {3, 0x0101, 0xFFFFFFFFFFFFFFFF,
         " 3 0101: ffff_ffff_ffff 18446744073709551616 - Number of ECC Error\n"},
    };
    for (const Case& c : cases) {
        Page smartext(4096, 0);
        put_ext_record(smartext, 0, 9, 0x0601, 0);
        put_ext_record(smartext, 1, c.number, c.int_id, c.raw);
        EXPECT_EQ(ext_of(smartext), std::string(kExtHeadings) +
                                        " 9 0601: 0000_0000_0000             0\n" + c.line +
                                        " 0 0000: 0000_0000_0000             0\n");
    }
}

TEST(ExtSmartSection, EndMarkCountsOnlyFromRecordThree) {
    const std::string zero_record = " 0 0000: 0000_0000_0000             0\n";
    {
        Page smartext(4096, 0);
        smartext[0x800] = 1;  // outside the records, but it opens the gate
        EXPECT_EQ(ext_of(smartext), kExtHeadings + zero_record + zero_record + zero_record);
    }
    {
        Page smartext(4096, 0);
        put_ext_record(smartext, 3, 3, 0x0601, 1);
        EXPECT_EQ(ext_of(smartext), kExtHeadings + zero_record + zero_record + zero_record +
                                        " 3 0601: 0001_0000_0000             1\n");
    }
    {
        Page smartext(4096, 0);
        for (std::uint16_t k = 0; k < 5; ++k)
            put_ext_record(smartext, k, k, 0x0601, k);
        put_ext_record(smartext, 5, 0, 0, 0xFFFF);  // the mark looks at bytes 0..3 only
        for (std::uint16_t k = 6; k < 128; ++k)
            put_ext_record(smartext, k, k, 0x0601, k);
        std::string expected = kExtHeadings;
        for (int k = 0; k < 5; ++k) {
            char line[64];
            std::snprintf(line, sizeof line, " %d 0601: 000%d_0000_0000             %d\n", k, k, k);
            expected += line;
        }
        EXPECT_EQ(ext_of(smartext), expected);
    }
    {
        Page smartext(4096, 0);
        put_ext_record(smartext, 3, 3, 0x0000, 0);  // only a zero word ends the records
        put_ext_record(smartext, 4, 0, 0x0601, 0);
        put_ext_record(smartext, 6, 6, 0x0601, 6);
        EXPECT_EQ(ext_of(smartext), kExtHeadings + zero_record + zero_record + zero_record +
                                        " 3 0000: 0000_0000_0000             0\n"
                                        " 0 0601: 0000_0000_0000             0\n");
    }
    {
        Page smartext(4096, 0xAB);  // every record in use, and bytes past the last one too
        for (std::uint16_t k = 0; k < 128; ++k)
            put_ext_record(smartext, k, k, 0x0601, k);
        const std::string text = ext_of(smartext);
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2 + 128);
        EXPECT_TRUE(text.ends_with("\n127 0601: 007f_0000_0000           127\n")) << text;
    }
}

TEST(ExtSmartSection, GateLooksAtTheWholePage) {
    struct Case {
        std::size_t nonzero;  // the one non-zero byte, or 4096 for none
        bool written;
    } cases[] = {{4096, false}, {0x800, true}, {4095, true}, {5, true}};
    for (const Case& c : cases) {
        Page smartext(4097, 0);
        smartext[c.nonzero] = 0x01;
        EXPECT_EQ(!ext_of(smartext).empty(), c.written) << c.nonzero;
    }
}

// Every field at its offset and width: byte i of the page holds i & 0xFF.
TEST(StatusLogs, WholeSectionsFromAPatternedPage) {
    Page sysinfo(4096);
    for (std::size_t i = 0; i < sysinfo.size(); ++i)
        sysinfo[i] = static_cast<std::uint8_t>(i);
    EXPECT_EQ(status_of(sysinfo),
              "-------- SYSTEM STATUS LOG -------- (possible incorrect)\n"
              "disk init fail\t\t\t\t: 9\n"
              "disk hw status\t\t\t\t: 2826\n"
              "write protect\t\t\t\t: 12\n"
              "ftl err path\t\t\t\t: 13\n"
              "hardware initial error\t\t\t: 3854\n"
              "fw code update count\t\t\t: 319951120\n"
              "security state\t\t\t\t: 20\n"
              "gpio\t\t\t\t\t: 21\n"
              "power cycle count\t\t\t: 589439264\n"
              "abnormal power cycle count\t\t: 656811300\n"
              "fw internal power cycle count\t\t: 724183336\n"
              "power on time\t\t\t\t: 791555372(219876h)\n"
              "flash ip reset count\t\t\t: 926299444\n"
              "host e3d err count\t\t\t: 993671480\n"
              "flash e3d err count\t\t\t: 1061043516\n"
              "ddr ecc err count\t\t\t: 1128415552\n"
              "dbuf ecc err count\t\t\t: 1195787588\n"
              "gc table trigger count\t\t\t: 1263159624\n"
              "d1 gc data trigger count\t\t: 1330531660\n"
              "d2 d3 gc data trigger count\t\t: 1397903696\n"
              "dynamic d1 gc data trigger count\t: 1465275732\n"
              "d1 gc block rate of data\t\t: 88\n"
              "d2 d3 gc block rate of data\t\t: 89\n"
              "dynamic d1 gc block rate of data\t: 90\n"
              "vendor aes set key status\t\t: 91\n"
              "axi err slave\t\t\t\t: 92\n"
              "axi err zone\t\t\t\t: 93\n"
              "d1 wear leveling check count\t\t: 1734763876\n"
              "d1 wear leveling trigger count\t\t: 1802135912\n"
              "d1 wear leveling block rate\t\t: 108\n"
              "d2 d3 wear leveling check count\t\t: 1936879984\n"
              "d2 d3 wear leveling trigger count\t: 2004252020\n"
              "d2 d3 wear leveling block rate\t\t: 120\n"
              "vuc protect mode\t\t\t: 121\n"
              "vuc protect state\t\t\t: 122\n"
              "-------- FLASH STATUS LOG -------- (possible incorrect)\n"
              "max erase count d1\t\t\t: 50462976\n"
              "max erase count d2 d3\t\t\t: 117835012\n"
              "average erase count d1\t\t\t: 185207048\n"
              "average erase count d2 d3\t\t: 252579084\n"
              "min erase count d1\t\t\t: 319951120\n"
              "min erase count d2 d3\t\t\t: 387323156\n"
              "total flash erase count d1\t\t: 2242261671028070656\n"
              "total flash erase count d2 d3\t\t: 2820983053732684288\n"
              "total flash program count d1\t\t: 3399704436437297664\n"
              "total flash program count d2 d3\t\t: 3978425819141911040\n"
              "total flash read count\t\t\t: 4557147201846524416\n"
              "total flash write count\t\t\t: 5135868584551137280\n"
              "read flash unc retry ok count d1\t: 5714589967255750656\n"
              "read flash unc retry ok count d2 d3\t: 6293311349960364032\n"
              "read flash unc retry fail count d1\t: 1532647768\n"
              "read flash unc retry fail count d2 d3\t: 1600019804\n"
              "raid ecc recovery ok count d1\t\t: 1667391840\n"
              "raid ecc recovery ok count d2 d3\t: 1734763876\n"
              "raid ecc recovery fail count d1\t\t: 1802135912\n"
              "raid ecc recovery fail count d2 d3\t: 1869507948\n"
              "logical good block count d1\t\t: 29040\n"
              "logical good block count d2 d3\t\t: 29554\n"
              "total early bad physical block count\t: 30068\n"
              "total later bad physical block count\t: 30582\n"
              "total read fail block count d1\t\t: 31096\n"
              "total read fail block count d2 d3\t: 31610\n"
              "total program fail block count d1\t: 32124\n"
              "total program fail block count d2 d3\t: 32638\n"
              "total erase fail block count d1\t\t: 33152\n"
              "total erase fail block count d2 d3\t: 33666\n"
              "raid ecc entry\t\t\t\t: 2273740164\n"
              "read disturb count\t\t\t: 2341112200\n"
              "flash max pecycle SLC\t\t\t: 36236\n"
              "flash max pecycle TLC\t\t\t: 37264\n");
}

TEST(StatusLogs, FieldEdgeCases) {
    struct Case {
        std::size_t offset;
        std::vector<std::uint8_t> bytes;
        const char* line;
    } cases[] = {
        {0x12C, {0x1F, 0x1C}, "power on time\t\t\t\t: 7199(1h)\n"},
        {0x12C, {0x20, 0x1C}, "power on time\t\t\t\t: 7200(2h)\n"},
        {0x12C, {0xFF, 0xFF, 0xFF, 0xFF}, "power on time\t\t\t\t: 4294967295(1193046h)\n"},
        {0x10A, {0x34, 0x12, 0xFF}, "disk hw status\t\t\t\t: 4660\n"},
        {0x218,
         {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
         "total flash erase count d1\t\t: -1\n"},
        {0x250,
         {0, 0, 0, 0, 0, 0, 0, 0x80},
         "read flash unc retry ok count d2 d3\t: "
         "-9223372036854775808\n"},
        {0x290, {0x10, 0x27, 0xFF, 0xFF}, "flash max pecycle TLC\t\t\t: 10000\n"},
        {0x000, {}, "power on time\t\t\t\t: 0(0h)\n"},
    };
    for (const Case& c : cases) {
        Page sysinfo(4096, 0);
        std::copy(c.bytes.begin(), c.bytes.end(), sysinfo.begin() + c.offset);
        const std::string text = status_of(sysinfo);
        EXPECT_TRUE(contains(text, c.line)) << c.line << text;
    }
}

TEST(HealthLog, SectionsInOrderInTheirOwnFile) {
    ScratchDir dir;
    FakePlatform platform;
    Capture console;
    Page smart(512, 0), smartext(4096, 0), sysinfo(4096, 0);
    smart[5] = 1;
    put_ext_record(smartext, 0, 0, 0x0100, 1);
    sysinfo[0x109] = 1;
    write_log_of(platform, console.file(), smart, smartext, sysinfo);
    EXPECT_EQ(console.text(), "");
    EXPECT_EQ(platform.count_calls("create torvik_pssd_flash_id_smart.txt"), 1);
    const std::string log = dir.read_text(kHealthLogFileName);  // complete only once closed
    EXPECT_EQ(log, nvme_of(smart) + ext_of(smartext) + status_of(sysinfo));
    EXPECT_TRUE(log.starts_with(kNvmeHeading));
    EXPECT_TRUE(contains(log, std::string(kExtHeadings) + " 0 0100:"));
}

TEST(HealthLog, ZeroPagesLeaveOnlyTheStatusLogs) {
    ScratchDir dir;
    FakePlatform platform;
    Capture console;
    const Page smart(512, 0), smartext(4096, 0), sysinfo(4096, 0);
    write_log_of(platform, console.file(), smart, smartext, sysinfo);
    const std::string log = dir.read_text(kHealthLogFileName);
    EXPECT_TRUE(log.starts_with(kSystemHeading)) << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2 + 35 + 34);
}

TEST(HealthLog, UncreatableFileIsReportedAndNothingIsWritten) {
    ScratchDir dir;
    FakePlatform platform;
    platform.uncreatable.insert(kHealthLogFileName);
    Capture console;
    const Page smart(512, 1), smartext(4096, 1), sysinfo(4096, 1);
    write_log_of(platform, console.file(), smart, smartext, sysinfo);
    EXPECT_EQ(console.text(), "Create Smart Log File Error\n");
    EXPECT_FALSE(dir.exists(kHealthLogFileName));
}

}  // namespace
}  // namespace torvik::testing
