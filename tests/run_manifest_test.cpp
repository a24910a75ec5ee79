// The run's manifest as text: what a run writes reads back the same, and what is not a manifest
// is refused with the line at fault.
#include <gtest/gtest.h>

#include <string>

#include "common/crc32.h"
#include "common/utc_time.h"
#include "scsi/run_manifest.h"

namespace torvik::testing {
namespace {

constexpr std::uint8_t kCheckInput[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
static_assert(crc32(kCheckInput, sizeof kCheckInput) == 0xCBF43926u);  // the standard check value

TEST(RunManifest, WhatIsWrittenReadsBackTheSame) {
    RunManifest written;
    written[0] =
        ManifestEntry{true, CommandOutcome::data, 56, 0, false, ManifestDump{56, 0xA87E7F92}};
    written[3] =
        ManifestEntry{true, CommandOutcome::failed, 0, 0xFFFFFFFF, true, ManifestDump{512, 0}};
    written[7] = ManifestEntry{true, CommandOutcome::check_condition, 100, 0, false, std::nullopt};
    written[11] = ManifestEntry{true, CommandOutcome::data, 4096, 0, true, std::nullopt};
    written.run_time = 951825600;
    const std::string text = format_manifest(written);
    EXPECT_EQ(text,
              "torvik_pssd_manifest 1\n"
              "run_time 2000-02-29T12:00:00Z\n"
              "inq data=56 dump=56 crc32=a87e7f92\n"
              "cap not_sent\ncap16 not_sent\n"
              "fid failed=0xffffffff dump=512 crc32=00000000 zeros\n"
              "info not_sent\nsysinfo not_sent\nfidall not_sent\n"
              "infoblock check_condition=100\n"
              "id not_sent\nsmart not_sent\nsmartext not_sent\n"
              "nvme_id data=4096 zeros\n"
              "nvme_smart not_sent\n");
    RunManifest read;
    std::string error;
    ASSERT_TRUE(parse_manifest(text, read, error)) << error;
    EXPECT_EQ(read, written);
}

TEST(RunManifest, WhatIsNotAManifestIsRefusedWithItsLine) {
    const std::string head = "torvik_pssd_manifest 1\n";
    struct Case {
        std::string text;
        const char* error;  // nullptr: accepted
    } cases[] = {
        {head + "fid data=512\r\ncap16 not_sent\n\n", nullptr},
        {"", "empty"},
        {"torvik_pssd_manifest 2\n", "line 1: "},
        {head + "fid\n", "line 2: "},
        {head + "fidx data=1\n", "line 2: unknown page"},
        {head + "fid data=1\nfid data=1\n", "line 3: page named twice"},
        {head + "fid data=-1\n", "line 2: malformed"},
        {head + "fid data=4294967296\n", "line 2: malformed"},
        {head + "fid failed=1f\n", "line 2: malformed"},
        {head + "fid data=1 failed=0x1\n", "line 2: malformed"},
        {head + "fid data=1 dump=512\n", "line 2: malformed"},
        {head + "fid data=1 crc32=0000000g dump=1\n", "line 2: malformed"},
        {head + "fid data=1 dump=1 crc32=1234\n", "line 2: malformed"},
        {head + "fid not_sent zeros\n", "line 2: malformed"},
        {head + std::string(70000, 'x'), "larger than"},
        {head + "run_time 2026-03-14T09:26:53Z\nfid data=1\n", nullptr},
        {head + "run_time 2026-03-14T09:26:53Z\nrun_time 2026-03-14T09:26:53Z\n",
         "line 3: run time given twice"},
        {head + "run_time 2026-03-14 09:26:53\n", "line 2: a run time"},
        {head + "run_time 2026-03-14T09:26:53\n", "line 2: a run time"},
        {head + "run_time 2025-02-29T00:00:00Z\n", "line 2: a run time"},
        {head + "run_time 2026-04-31T00:00:00Z\n", "line 2: a run time"},
        {head + "run_time 2026-03-14T24:00:00Z\n", "line 2: a run time"},
        {head + "run_time +026-03-14T09:26:53Z\n", "line 2: a run time"},
        {head + "run_time\n", "line 2: a page name without"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 80));
        RunManifest manifest;
        std::string error;
        EXPECT_EQ(parse_manifest(c.text, manifest, error), c.error == nullptr);
        if (c.error != nullptr) {
            EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
        }
    }
}

// The run's time as the manifest, the JSON and the HTML page write it, and read back.
TEST(RunManifest, RunTimesAreIso8601InUtcBothWays) {
    const struct {
        std::int64_t seconds;
        const char* text;
    } cases[] = {
        {0, "1970-01-01T00:00:00Z"},
        {-1, "1969-12-31T23:59:59Z"},
        {951825600, "2000-02-29T12:00:00Z"},
        {1773480413, "2026-03-14T09:26:53Z"},
        {4107542400, "2100-03-01T00:00:00Z"},  // 2100 is no leap year
        {kLastUtcSecond, "9999-12-31T23:59:59Z"},
        {kFirstUtcSecond, "0000-01-01T00:00:00Z"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(format_utc_time(c.seconds), c.text);
        std::int64_t back = 0;
        EXPECT_TRUE(parse_utc_time(c.text, back)) << c.text;
        EXPECT_EQ(back, c.seconds) << c.text;
    }
    EXPECT_EQ(format_utc_time(kLastUtcSecond + 1), "9999-12-31T23:59:59Z");
}

}  // namespace
}  // namespace torvik::testing
