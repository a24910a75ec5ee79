// Page field definitions: each width and byte order puts a value's bytes where the page layout
// says, reads them back, and leaves the bytes around the field alone.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model/page_field.h"

namespace torvik::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(PageField, WritesEachWidthAndByteOrderWhereTheLayoutSays) {
    const struct {
        FieldDef field;
        Uint128 value;
        Bytes bytes;  // page bytes 2 onwards after the write
    } cases[] = {
        {le("a", 2, 1), {0, 0xAB}, {0xAB, 0xEE}},
        {le("a", 2, 2), {0, 0x1234}, {0x34, 0x12, 0xEE}},
        {be("a", 2, 2), {0, 0x1234}, {0x12, 0x34, 0xEE}},
        {le("a", 2, 4), {0, 0x01020304}, {0x04, 0x03, 0x02, 0x01, 0xEE}},
        {be("a", 2, 4), {0, 0x01020304}, {0x01, 0x02, 0x03, 0x04, 0xEE}},
        {le("a", 2, 8), {0, 0x0102030405060708}, {8, 7, 6, 5, 4, 3, 2, 1, 0xEE}},
        {be("a", 2, 8), {0, 0x0102030405060708}, {1, 2, 3, 4, 5, 6, 7, 8, 0xEE}},
        {le("a", 2, 16),
         {0x1112131415161718, 0x0102030405060708},
         {8, 7, 6, 5, 4, 3, 2, 1, 0x18, 0x17, 0x16, 0x15, 0x14, 0x13, 0x12, 0x11, 0xEE}},
    };
    for (const auto& c : cases) {
        Bytes page(24, 0xEE);
        write_wide(page.data(), c.field, c.value);
        EXPECT_EQ(Bytes(page.begin() + 2, page.begin() + 2 + c.bytes.size()), c.bytes)
            << int(c.field.width);
        EXPECT_EQ(page[0], 0xEE);
        EXPECT_EQ(page[1], 0xEE);
        const Uint128 back = read_wide(page.data(), c.field);
        EXPECT_EQ(back.low, c.value.low) << int(c.field.width);
        EXPECT_EQ(back.high, c.value.high) << int(c.field.width);
    }
}

TEST(PageField, TextEndsAtItsFirstNulOrItsWidth) {
    const FieldDef field = text("t", 1, 4);
    Bytes page(8, 'x');
    write_text(page.data(), field, "ABCDEF");  // cut at the width
    EXPECT_EQ(std::string(page.begin(), page.end()), "xABCDxxx");
    EXPECT_EQ(read_text(page.data(), field), "ABCD");
    page[3] = 0;
    EXPECT_EQ(read_text(page.data(), field), "AB");
    write_text(page.data(), field, "Z");  // a shorter text leaves the rest
    EXPECT_EQ(read_text(page.data(), field), "ZB");
}

TEST(PageField, TablesThatDoNotFitAreRefused) {
    constexpr FieldDef fits[] = {le("a", 0, 2), text("b", 2, 6)};
    constexpr FieldDef past_end[] = {le("a", 7, 2)};
    constexpr FieldDef odd_width[] = {le("a", 0, 3)};
    constexpr FieldDef same_name[] = {le("a", 0, 1), le("a", 1, 1)};
    static_assert(fields_fit(fits, 8));
    static_assert(!fields_fit(past_end, 8));
    static_assert(!fields_fit(odd_width, 8));
    static_assert(!fields_fit(same_name, 8));
    static_assert(field_index(fits, "b") == 1);
}

}  // namespace
}  // namespace torvik::testing
