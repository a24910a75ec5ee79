// The whole-number fields: an exact half rounds away from zero, everything else as printf would.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "model/flash_figures.h"
#include "report/number_format.h"

namespace torvik::testing {
namespace {

TEST(WholeNumber, RoundsHalvesAwayFromZeroAndIsExactForLargeValues) {
    struct Case {
        double value;
        int width;
        const char* text;
    } cases[] = {
        {62.5, 1, "63"},
        {-62.5, 1, "-63"},
        {0.5, 1, "1"},
        {1.5, 1, "2"},
        {2.5, 1, "3"},
        {-0.5, 1, "-1"},
        {62.49, 1, "62"},
        {62.51, 1, "63"},
        {0.49999999999999994, 1, "0"},  // the largest double below one half
        {0.0, 1, "0"},
        {1000.0, 13, "         1000"},
        {63.0, 1, "63"},
        {4503599627370495.5, 1, "4503599627370496"},  // 2^52 - 0.5
        {4503599627370497.0, 1, "4503599627370497"},  // odd, above 2^52: adding 0.5 would round
        {9007199254740993.0, 1, "9007199254740992"},  // 2^53 + 1 is no double: nearest is 2^53
        {9007199254740994.0, 13, "9007199254740994"},
        {18446744073709549568.0, 1, "18446744073709549568"},  // the largest double below 2^64
        {18446744073709551616.0, 1, "18446744073709551616"},  // 2^64
        {-9223372036854775808.0, 1, "-9223372036854775808"},  // -2^63
        {79228162514264337593543950336.0, 1, "79228162514264337593543950336"},  // 2^96
        {-1e22, 1, "-10000000000000000000000"},
        {1.7976931348623157e308, 1,  // the largest double, every digit of it
         "1797693134862315708145274237317043567980705675258449965989174768031572607800285387605895"
         "5863276687817154045895351438246423432132688946418276846754670353751698604991057655128207"
         "6245490090389328944075868508455133942304583236903222948165808559332123348274797826204144"
         "723168738177180919299881250404026184124858368"},
        {-1.0, 1, "-1"},
        {-2.4, 13, "           -2"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(std::string(whole_number(c.value, c.width).text), c.text) << c.text;
    }
}

TEST(DecimalText, Exact128BitValues) {
    constexpr std::uint64_t kAll = ~std::uint64_t{0};
    struct Case {
        Uint128 value;
        const char* text;
    } cases[] = {
        {{0, 0}, "0"},
        {{0, 9}, "9"},
        {{0, 10}, "10"},
        {{0, 4294967296}, "4294967296"},                                           // 2^32
        {{0, 9007199254740993}, "9007199254740993"},                               // 2^53 + 1
        {{0, kAll}, "18446744073709551615"},                                       // 2^64 - 1
        {{1, 0}, "18446744073709551616"},                                          // 2^64
        {{5, 7766279631452241920}, "100000000000000000000"},                       // 10^20
        {{0xFFFFFFFF, kAll}, "79228162514264337593543950335"},                     // 2^96 - 1
        {{kAll, kAll}, "340282366920938463463374607431768211455"},                 // 2^128 - 1
        {{std::uint64_t{1} << 63, 0}, "170141183460469231731687303715884105728"},  // 2^127
    };
    for (const Case& c : cases) {
        EXPECT_EQ(std::string(decimal_text(c.value).text), c.text) << c.text;
    }
}

// The flash line's figures: tenths of a gigabyte rounded half up (with its carry into the next
// digit and past 64 bits), thousands grouped, signed tenths of a percent, and bank ranges.
TEST(FlashFigureTexts, CapacitiesPercentagesAndBanks) {
    const struct {
        Uint128 bytes;
        const char* text;
    } capacities[] = {
        {{0, 0}, "0.0 GB"},
        {{0, 49999999}, "0.0 GB"},
        {{0, 50000000}, "0.1 GB"},
        {{0, 999950000}, "1.0 GB"},  // the carry runs into the whole gigabytes
        {{0, 1099511627776}, "1,099.5 GB"},
        {{0, 4000787030016}, "4,000.8 GB"},
        {{1, 0}, "18,446,744,073.7 GB"},  // 2^64 bytes
    };
    for (const auto& c : capacities)
        EXPECT_EQ(gigabytes_text(c.bytes), c.text);
    const struct {
        std::int64_t permille;
        const char* text;
    } percents[] = {
        {0, "0.0%"}, {90, "9.0%"}, {667, "66.7%"}, {-5, "-0.5%"}, {-13555, "-1,355.5%"}};
    for (const auto& c : percents)
        EXPECT_EQ(permille_percent_text(c.permille), c.text);
    const struct {
        std::uint32_t banks;
        const char* text;
    } banks[] = {
        {0xF, "0-3"}, {0xE5, "0, 2, 5-7"}, {0x80000000, "31"}, {0xFFFFFFFF, "0-31"}, {0, ""}};
    for (const auto& c : banks)
        EXPECT_EQ(bank_list_text(c.banks), c.text);
    EXPECT_EQ(flash_id_hex({0x98, 0x49, 0x9A, 0xB3, 0x7E, 0xF4, 0x08, 0x00}),
              "98 49 9a b3 7e f4 08 00");
}

}  // namespace
}  // namespace torvik::testing
