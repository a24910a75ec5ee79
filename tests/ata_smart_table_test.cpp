// The ATA-style attribute configuration table and the attribute description table behind it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "model/attribute_table.h"
#include "report/ata_smart_table.h"
#include "tests/support/fake_platform.h"
#include "tests/support/scratch.h"

namespace torvik::testing {
namespace {

constexpr const char* kHeadings =
    "Torvik ATA-style smart configuration:\n"
    "Attr Tresh Flags ValId WrstId  RawId   Description\n";

using Page = std::vector<std::uint8_t>;

// Record bytes 0..9: Attr, Tresh, Flags, (unused), ValId (le), WrstId (le), RawId (be).
void put_record(Page& infoblock, std::size_t slot, std::vector<std::uint8_t> bytes) {
    std::copy(bytes.begin(), bytes.end(), infoblock.begin() + 0x600 + 16 * slot);
}

std::string table_of(const Page& infoblock) {
    return written_text([&](OutputFile* report) {
        write_ata_smart_table(report, decode_attribute_slots(infoblock.data()));
    });
}

TEST(AtaSmartTable, ShowsRawFieldsAndTheFirstMatchingDescription) {
    struct Case {
        std::uint8_t raw_hi, raw_lo;
        const char* line;
    } cases[] = {
        {0x05, 0x00, "0x05: 0x0A 0x33 0x0001 0x0002 0x0500 - Read Fail Count\n"},
        {0x01, 0x00, "0x05: 0x0A 0x33 0x0001 0x0002 0x0100 - Flash UNC Error Count\n"},
        {0x01, 0x01, "0x05: 0x0A 0x33 0x0001 0x0002 0x0101 - Number of ECC Error\n"},
        {0x00, 0x01, "0x05: 0x0A 0x33 0x0001 0x0002 0x0001 - Return All Zero Data\n"},
        {0x00, 0x00, "0x05: 0x0A 0x33 0x0001 0x0002 0x0000\n"},
        {0x06, 0x01, "0x05: 0x0A 0x33 0x0001 0x0002 0x0601\n"},
    };
    for (const Case& c : cases) {
        Page infoblock(6144, 0);
        put_record(infoblock, 0,
                   {0x05, 0x0A, 0x33, 0x00, 0x01, 0x00, 0x02, 0x00, c.raw_hi, c.raw_lo});
        EXPECT_EQ(table_of(infoblock), std::string(kHeadings) + c.line);
    }
}

TEST(AtaSmartTable, ListsOccupiedSlotsInOrderAndOnlyTheThirtyTwoSlots) {
    Page infoblock(6144, 0xEE);  // bytes around the slots are not part of the table
    std::fill(infoblock.begin() + 0x600, infoblock.begin() + 0x800, 0);
    put_record(infoblock, 0, {0xC2, 0x00, 0x22, 0x00, 0x34, 0x12, 0x78, 0x56, 0x08, 0x02});
    put_record(infoblock, 3, {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x05, 0x00});
    put_record(infoblock, 7, {0x09, 0xFF, 0x32, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF0, 0x14});
    put_record(infoblock, 31, {0xFF, 0x01, 0x02, 0x03, 0xCD, 0xAB, 0x01, 0xEF, 0x07, 0x0B});
    EXPECT_EQ(table_of(infoblock),
              std::string(kHeadings) +
                  "0xC2: 0x00 0x22 0x1234 0x5678 0x0802 - Highest temperature\n"
                  "0x09: 0xFF 0x32 0x0000 0x0000 0xF014 - Data read retry count\n"
                  "0xFF: 0x01 0x02 0xABCD 0xEF01 0x070B - Wear Leveling Count\n");
}

TEST(AtaSmartTable, EmptySlotsLeaveOnlyTheHeadings) {
    Page infoblock(6144, 0x5A);
    for (std::size_t slot = 0; slot < 32; ++slot)
        infoblock[0x600 + 16 * slot] = 0;
    EXPECT_EQ(table_of(infoblock), kHeadings);
}

TEST(AttributeTable, HoldsBothBlocksInOrderWithTheirDuplicates) {
    ASSERT_EQ(kAttributeDescriptionCount, 159u);
    const AttributeDescription* rows = kAttributeDescriptions;
    EXPECT_TRUE(std::is_sorted(rows, rows + 38, [](auto& a, auto& b) { return a.id < b.id; }));
    EXPECT_TRUE(
        std::is_sorted(rows + 38, rows + 159, [](auto& a, auto& b) { return a.id < b.id; }));
    EXPECT_EQ(rows[0].id, 0x0100);
    EXPECT_EQ(rows[37].id, 0xF014);
    EXPECT_EQ(rows[38].id, 0x0001);
    EXPECT_EQ(rows[158].id, 0xF012);
    std::set<std::uint16_t> ids;
    std::size_t longest = 0;
    for (std::size_t i = 0; i < 159; ++i) {
        ids.insert(rows[i].id);
        longest = std::max(longest, std::strlen(rows[i].text));
    }
    EXPECT_EQ(ids.size(), 128u);
    EXPECT_EQ(longest, 70u);
}

TEST(AttributeTable, FirstMatchingRowWinsAndShadowedRowsAreNeverReturned) {
    // Row numbers, counted from 1, of the second-block rows whose id the first block already has.
    const std::set<std::size_t> shadowed = {41,  44,  45,  48,  59,  60,  64,  66,  67,  69,  70,
                                            89,  90,  91,  109, 119, 124, 125, 126, 135, 136, 139,
                                            141, 142, 144, 146, 151, 152, 153, 154, 159};
    for (std::size_t row = 1; row <= 159; ++row) {
        const AttributeDescription& entry = kAttributeDescriptions[row - 1];
        const char* found = find_attribute_description(entry.id);
        ASSERT_NE(found, nullptr) << row;
        EXPECT_EQ(found == entry.text, shadowed.count(row) == 0) << "row " << row;
    }
    EXPECT_STREQ(find_attribute_description(0x0100), "Flash UNC Error Count");
    EXPECT_STREQ(find_attribute_description(0x0101), "Number of ECC Error");
    EXPECT_STREQ(find_attribute_description(0x0500), "Read Fail Count");
    EXPECT_STREQ(find_attribute_description(0xF012), "RAID ECC retry count");
    EXPECT_STREQ(find_attribute_description(0x0207),
                 "Erasecount MAX raw value/Erasecount Ave./Alternative block rest number");
    for (std::uint16_t absent : {0x0000, 0x0601, 0x0226, 0xF015, 0xFFFF}) {
        EXPECT_EQ(find_attribute_description(absent), nullptr) << absent;
    }
}

}  // namespace
}  // namespace torvik::testing
