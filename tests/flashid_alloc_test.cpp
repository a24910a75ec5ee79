// The flash ID decoder allocates nothing. A program of its own, since it replaces operator new.
#include <gtest/gtest.h>

#include <cstdint>

#include "flashid/flash_id.h"
#include "tests/support/counting_new.h"

namespace torvik::testing {
namespace {

TEST(FlashIdAllocation, DecodingAllocatesNothing) {
    // Every decoding maker with part keys, terabit capacities and planes, and an unknown maker.
    const std::uint8_t ids[][8] = {
        {0x98, 0x3C, 0x98, 0xB3, 0x76, 0xF2, 0, 0}, {0x45, 0x7A, 0x03, 0x00, 0x0C, 0x25, 0, 0},
        {0x2C, 0x09, 0x1E, 0x00, 0x00, 0x00, 0, 0}, {0x89, 0x09, 0x29, 0x32, 0xC2, 0x00, 0, 0},
        {0xB5, 0xD3, 0x1C, 0x32, 0xC6, 0x00, 0, 0}, {0xAD, 0x5E, 0x29, 0x22, 0x10, 0x90, 0, 0},
        {0xEC, 0xD7, 0x98, 0x42, 0x76, 0x44, 0, 0}, {0x9B, 0xD5, 0x58, 0x8D, 0x20, 0x00, 0, 0},
        {0xEF, 0xAA, 0x20, 0x00, 0x00, 0x00, 0, 0}, {0x37, 0x00, 0x00, 0x00, 0x00, 0x00, 0, 0},
    };
    char text[kFlashDescriptionSize];
    int known = 0;
    const long before = allocation_count();
    for (const auto& id : ids)
        known += decode_flash_id(id, text);
    const long after = allocation_count();
    EXPECT_EQ(known, 9);
    EXPECT_EQ(after - before, 0);

    // The counter does count: a real allocation shows up.
    int* volatile probe = new int(1);
    EXPECT_EQ(allocation_count() - after, 1);
    delete probe;
}

}  // namespace
}  // namespace torvik::testing
