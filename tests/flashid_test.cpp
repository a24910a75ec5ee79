// The flash ID decoder and its tables, checked against descriptions and table contents written
// out here independently of the decoder's own tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <set>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "flashid/flash_id.h"
#include "flashid/maker_rules.h"
#include "flashid/part_tables.h"
#include "tests/support/flash_id_examples.h"

namespace torvik::testing {
namespace {

using Id = std::array<std::uint8_t, 8>;

// "2C C4 18 32" -> bytes from position first on; the rest of the ID stays zero.
Id id_from(const std::string& hex, Id id = {}, std::size_t first = 0) {
    std::istringstream in(hex);
    unsigned value = 0;
    for (std::size_t i = first; in >> std::hex >> value; ++i)
        id.at(i) = static_cast<std::uint8_t>(value);
    return id;
}

Id id_of(unsigned b0, unsigned b1, unsigned b2, unsigned b3, unsigned b4, unsigned b5) {
    const auto byte = [](unsigned v) { return static_cast<std::uint8_t>(v); };
    return {byte(b0), byte(b1), byte(b2), byte(b3), byte(b4), byte(b5), 0, 0};
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, separator);)
        parts.push_back(part);
    return parts;
}

std::string describe(const Id& id, int* result = nullptr) {
    char text[kFlashDescriptionSize];
    const int r = decode_flash_id(id.data(), text);
    if (result != nullptr)
        *result = r;
    return text;
}

FlashFields fields_of(const Id& id) {
    FlashFields fields;
    decode_flash_fields(id.data(), fields);
    return fields;
}

std::string text_or_empty(const char* text) {
    return text != nullptr ? text : "";
}

// Whether a list of hex bytes such as "43 C3" holds the value.
bool lists(const char* codes, unsigned value) {
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", value);
    const std::vector<std::string> parts = split(codes, ' ');
    return std::find(parts.begin(), parts.end(), hex) != parts.end();
}

TEST(FlashId, DocumentedExamples) {
    for (const FlashIdExample& c : kFlashIdExamples) {
        int result = -1;
        EXPECT_EQ(describe(id_from(c.id), &result), c.text) << c.id;
        EXPECT_EQ(result, c.result) << c.id;
    }
}

TEST(FlashId, PartExamples) {
    for (const FlashPartExample& c : kFlashPartExamples) {
        EXPECT_EQ(text_or_empty(fields_of(id_from(c.id)).part), text_or_empty(c.part)) << c.id;
    }
}

// The part tables as grouped rows: text, key start, keys in row order.
struct PartGroup {
    const char* text;
    int start;
    const char* keys;
};

constexpr PartGroup kMicronGroups[] = {
    {" 50nm(L52A)", 1, "D5 94 3E 74; D7 D5 3E 78"},
    {" 34nm(M62A)", 1, "48 00 26 89; 68 01 A6 89"},
    {" 34nm(L63B)", 1, "68 04 46 89; 88 05 C6 89; 68 04 46 A9"},
    {" 25nm(M73A)", 1, "68 00 27 A9; 88 01 A7 A9; 68 20 27 A9"},
    {" 25nm(L73A)", 1, "68 04 4A A9; 88 05 CA A9"},
    {" 25nm(L74A)", 1, "88 04 4B A9 00; A8 05 CB A9 00; 88 24 4B A9 00"},
    {" 20nm(L84A)", 1, "88 24 4B A9 84; 64 44 4B A9; 84 C5 4B A9"},
    {" 20nm(L84C)", 1, "64 64 3C A1; 64 64 3C A5; 84 E5 3C A5"},
    {" 20nm(L85A)", 1, "84 64 3C A5; A4 E5 3C A5"},
    {" 20nm(L85C)", 1, "84 64 3C A9; A4 E5 3C A9"},
    {" 16nm(L95B)", 1, "84 64 54 A9; A4 E5 54 A9"},
    {" 34nm(B63A)", 1, "68 08 56 8A"},
    {" 25nm(B74A)", 1, "88 08 5F A9; 88 08 5F 89; 88 28 5F A9; A8 09 DF 89; A8 09 DF A9"},
    {" 20nm(B85T)", 1, "84 78 63 A9; 84 78 7B A9; A4 F9 63 A9; A4 F9 7B A9"},
    {" 16nm(B95A)", 1, "84 48 63 A9"},
    {" 32L(L04A)", 1, "64 44 32 A5"},
    {" 32L(L05B)", 1, "84 44 34 AA"},
    {" 32L(B05A)", 1, "84 58 32 A1"},
    {" 32L(L05A)", 1, "A4 64 34 AA"},
    {" 32L(L06A)", 1, "A4 E4 34 8A"},
    {" 32L(L06B)", 1, "A4 64 32 AA; C4 E5 32 AA"},
    {" 32L(B0KB)", 1, "B4 78 32 AA; CC F9 32 AA"},
    {" 64L(B16A)", 1, "A4 08 32 A1; A4 88 32 A1; C4 89 32 A1"},
    {" 64L(B17A)", 1, "C4 08 32 A6; D4 89 32 A6; E4 8A 32 A6"},
    {" 64L(N18A)", 1, "D4 0C 32 AA"},
    {" 96L(B27A)", 1, "C4 18 32 A2; D4 99 32 A2; E4 9A 32 A2"},
    {" 96L(B27B)", 1, "C3 08 32 E6 00; D3 89 32 E6; E3 8A 32 E6"},
    {" 96L(N28A)", 1, "D3 1C 32 C6; D3 9C 32 C6; E3 9D 32 C6; F3 9E 32 C6"},
    {" 96L(M26A)", 1, "A3 60 32 C6"},
    {" 128L(B36R)", 1, "A3 78 32 E5"},
    {" 128L(B37R)", 1, "C3 78 32 EA"},
    {" 176L(B47R)", 1, "C3 08 32 EA; D3 89 32 EA; E3 8A 32 EA"},
    {" 176L(N48R)", 1, "D3 0C 32 EA; E3 8D 32 EA; F3 8E 32 EA"},
    {" 232L(B57T)", 1, "C3 08 32 E6 30"},
    {" 232L(B58R)", 1, "D3 08 32 E8 30; E3 89 32 E8 30; F3 8A 32 E8 30"},
    {" 232L(N58R)", 1, "D3 0C 42 EE 30; E3 8D 42 EE 30; F3 8E 42 EE 30"},
    {" 276L(B68S)", 1, "D3 08 32 E8 34; E3 89 32 E8 34; F3 8A 32 E8 34"},
    {" 144L(N38A)", 0, "89 D3 AC 32 C6"},
    {" 144L(N38B)", 0, "89 D3 AC 32 C2"},
    {" 192L(Q5171A)", 0, "89 09 28 32 C2; 89 09 29 32 C2; 89 09 2A 32 C2; 89 09 2B 32 C2"},
    {" 192L(N4PA)", 0, "89 05 04 32 C2; 89 05 05 32 C2; 89 05 06 32 C2; 89 05 07 32 C2"},
};

constexpr PartGroup kYmtcGroups[] = {
    {"(x1-9050)", 1, "C3 48 25 10"},
    {"(x2-6070)", 1, "D5 58 8D 20"},
    {"(x2-9060)", 1, "C4 28 49 20; C5 29 49 20"},
    {"-128L(x3-9060)", 1, "C4 28 49 30; C5 29 49 30"},
    {"-232L(x3-9070)", 1, "C5 58 71 30; C6 59 71 30"},
    {"-232L(x3-6070)", 1, "C5 5C 55 30"},
};

// Each key finds its own text, for every maker that searches the table, whatever the bytes the
// key does not fix; and every row of the table is reached by exactly one key.
template <std::size_t G>
void check_part_table(const PartTable& which, const PartGroup (&groups)[G],
                      std::vector<std::uint8_t> makers) {
    const std::span<const PartRow> table = part_rows(which);
    std::set<const char*> rows_found;
    std::size_t keys = 0;
    for (const PartGroup& group : groups) {
        for (const std::string& key : split(group.keys, ';')) {
            ++keys;
            for (std::uint8_t free_byte : {0x00, 0x30, 0x84, 0xFF}) {
                const Id filler = {0, 0, 0, 0, 0, free_byte, 0, 0};
                for (std::uint8_t maker : makers) {
                    Id id = id_from(key, filler, group.start);
                    if (group.start == 1)
                        id[0] = maker;
                    if (group.start == 0 && maker != id[0])
                        continue;
                    const char* text = find_part_text(which, id.data());
                    ASSERT_NE(text, nullptr) << key;
                    EXPECT_STREQ(text, group.text) << key;
                    EXPECT_EQ(text_or_empty(fields_of(id).part), group.text) << key;
                    rows_found.insert(text);
                }
                if (group.start == 0) {  // the maker code is part of the key
                    for (std::uint8_t other : {0x2C, 0xB5, 0x88}) {
                        Id id = id_from(key, filler);
                        id[0] = other;
                        EXPECT_EQ(find_part_text(which, id.data()), nullptr) << key;
                    }
                }
            }
        }
    }
    EXPECT_EQ(keys, table.size());
    EXPECT_EQ(rows_found.size(), table.size());
}

TEST(FlashPartTables, EveryRowFoundByItsOwnKey) {
    check_part_table(kMicronParts, kMicronGroups, {0x2C, 0x89, 0xB5});
    check_part_table(kYmtcParts, kYmtcGroups, {0x9B});
}

// The maker table: code and name.
constexpr struct {
    std::uint8_t code;
    const char* name;
} kMakers[] = {
    {0x01, "Spansion"}, {0x04, "Fujitsu"},         {0x07, "Renesas"},  {0x20, "STMicro"},
    {0x2C, "Micron"},   {0x45, "Sandisk"},         {0x4A, "SMIC"},     {0x51, "Qimonda"},
    {0x89, "Intel"},    {0x92, "ESMT(PowerChip)"}, {0x98, "Toshiba"},  {0x9B, "YMTC"},
    {0xAD, "Hynix"},    {0xB5, "Spectek"},         {0xC2, "Macronix"}, {0xC8, "ESMT(MIRA-PSC)"},
    {0xEC, "Samsung"},  {0xEF, "Winbond"},
};

TEST(FlashId, MakerTableAndMakersWithoutFurtherDecoding) {
    const std::set<unsigned> decoding = {0x2C, 0x89, 0xB5, 0x98, 0x45, 0xAD, 0xEC, 0x9B};
    const char* const cells[] = {" SLC", " MLC", " TLC", " QLC"};
    for (unsigned code = 0; code < 256; ++code) {
        const auto* maker = std::find_if(std::begin(kMakers), std::end(kMakers),
                                         [&](const auto& m) { return m.code == code; });
        for (unsigned c = 0; c < 4; ++c) {
            // Bytes that would name a node, part, page, capacity and planes for a decoding maker.
            const Id id = id_of(code, 0xD5, c << 2, 0x01, 0x10, 0x44);
            int result = -1;
            const std::string text = describe(id, &result);
            if (maker == std::end(kMakers)) {
                EXPECT_EQ(result, 0) << code;
                EXPECT_EQ(text, "") << code;
                continue;
            }
            EXPECT_EQ(result, 1) << code;
            if (decoding.count(code) == 0) {
                EXPECT_EQ(text, std::string(maker->name) + cells[c]) << code;
            } else {
                EXPECT_EQ(text.rfind(std::string(maker->name) + " ", 0), 0u) << text;
            }
        }
    }
}

// The description's length bound counts the node texts of the families with a node key: every
// family that names nodes must have one, and only those.
TEST(FlashId, FamiliesWithNodesAreTheOnesWithANodeKey) {
    for (const MakerFamilyRules& rules : kMakerFamilyRules)
        EXPECT_EQ(rules.nodes != nullptr, rules.node_key.mask != 0)
            << static_cast<int>(rules.family);
}

TEST(FlashId, NodeAndGenerationKeys) {
    const char* const toshiba[] = {" A19nm",      " 15nm",       " 70nm",       " 56nm",
                                   " 43nm",       " 32nm",       " 24nm",       " 19nm",
                                   nullptr,       " 48L BiCS2",  " 64L BiCS3",  " 96L BiCS4",
                                   " 112L BiCS5", " 162L BiCS6", " 218L BiCS8", nullptr};
    const char* const samsung[] = {" 51nm",     " 42nm",      " 32nm",      " 27nm",
                                   " 21nm",     " 19nm",      " 16nm",      " 3dv1-24L",
                                   " 3dv2-32L", " 3dv3-48L",  " 14nm",      " 3dv4-64L",
                                   " 3dv5-92L", " 3dv6-136L", " 3dv7-176L", " 3dv8-236L"};
    const char* const ymtc[] = {nullptr, " 3dv2-64L", " 3dv3-128L", " 3dv4",
                                " 3dv5", nullptr,     nullptr,      nullptr};
    const struct {
        const char* text;
        const char* values;
        bool per_die;
    } hynix[] = {
        {" 41nm", "41", false},
        {" 32nm", "42", false},
        {" 26nm", "43 C3", false},
        {" 20nm", "44 C4", false},
        {" 16nm", "25 40 45 48 49 4A 65 E5", false},
        {" 14nm", "50 E0", false},
        {" 3dv1", "60", false},
        {" 3dv2-36L", "70", true},
        {" 3dv3-48L", "80", true},
        {" 3dv4-72L", "90", true},
        {" 3dv5-96L", "A0 A2", true},
        {" 3dv6-128L", "B0 B2", true},
        {" 3dv7-176L", "C0 C2", true},
        {" 3dv8-238L", "D0", true},
    };
    for (unsigned b = 0; b < 256; ++b) {
        for (unsigned maker : {0x98, 0x45}) {
            EXPECT_EQ(text_or_empty(fields_of(id_of(maker, 0, 0, 0, 0, b)).node),
                      text_or_empty(toshiba[(b & 7) | ((b & 0x20) >> 2)]))
                << b;
        }
        const unsigned key = b & 0x7F;
        EXPECT_EQ(text_or_empty(fields_of(id_of(0xEC, 0, 0, 0, 0, b)).node),
                  text_or_empty(key >= 0x40 && key <= 0x4F ? samsung[key - 0x40] : nullptr))
            << b;
        EXPECT_EQ(text_or_empty(fields_of(id_of(0x9B, 0, 0, 0, b, 0)).node),
                  text_or_empty(ymtc[(b >> 4) & 7]))
            << b;

        // 256 Gb per CE, two dies: a per-die row doubles the CE capacity instead.
        const FlashFields f = fields_of(id_of(0xAD, 0x3C, 0x01, 0, 0, b));
        const auto* row = std::find_if(std::begin(hynix), std::end(hynix),
                                       [&](const auto& r) { return lists(r.values, b); });
        EXPECT_EQ(text_or_empty(f.node), row == std::end(hynix) ? "" : row->text) << b;
        ASSERT_TRUE(f.capacity);
        const bool per_die = row != std::end(hynix) && row->per_die;
        EXPECT_EQ(f.capacity->per_ce_gb, per_die ? 512u : 256u) << b;
        EXPECT_EQ(f.capacity->per_die_gb, per_die ? 256u : 128u) << b;
    }
}

TEST(FlashId, CapacityCodesOfEveryMakerColumn) {
    // Value, terabit, per die; then the codes of the columns Toshiba/Sandisk, Hynix, Samsung,
    // Micron/Intel/Spectek, YMTC.
    const struct {
        std::uint32_t gb;
        bool terabit;
        bool per_die;
        const char* codes[5];
    } table[] = {
        {8, false, false, {"D3", "D3", "D3", "", ""}},
        {16, false, false, {"D5", "D5", "D5", "48 D5", ""}},
        {32, false, false, {"D7", "D7", "D7", "68 D7", ""}},
        {64, false, false, {"DE", "DE EE", "DE", "64 88 D9", ""}},
        {128, false, false, {"3A 4A 4C", "3A 5A", "1A 3A", "84 A8", ""}},
        {256, false, false, {"3C 3D", "3C 5C", "1C 3C 5C", "A3 A4", "C3"}},
        {384, false, false, {"", "", "", "B4", ""}},
        {512, false, false, {"3E 4E", "3E 5E 7E", "1E 5E", "C3 C4", "C4"}},
        {768, false, false, {"", "", "", "CC", ""}},
        {1024, false, false, {"48", "89", "1F 5F", "D3 D4", "C5"}},
        {1024, false, true, {"", "", "", "05", ""}},
        {2048, false, false, {"49", "", "51", "E3 E4", "C6"}},
        {4096, false, false, {"FF", "", "11", "F3", ""}},
        {1365, true, false, {"73 7A", "", "", "", "D5"}},
        {1365, true, true, {"", "", "", "09", ""}},
    };
    const struct {
        unsigned maker;
        int column;  // -1: the maker has no capacity codes
    } makers[] = {{0x98, 0}, {0x45, 0}, {0xAD, 1}, {0xEC, 2},  {0x2C, 3},
                  {0x89, 3}, {0xB5, 3}, {0x9B, 4}, {0xEF, -1}, {0xC2, -1}};
    for (const auto& m : makers) {
        for (unsigned code = 0; code < 256; ++code) {
            const auto* row = std::end(table);
            if (m.column >= 0) {
                row = std::find_if(std::begin(table), std::end(table),
                                   [&](const auto& r) { return lists(r.codes[m.column], code); });
            }
            // Four dies per CE (byte 2 = 0x02); Hynix byte 5 names no per-die node.
            const FlashFields f = fields_of(id_of(m.maker, code, 0x02, 0, 0, 0));
            ASSERT_EQ(f.capacity.has_value(), row != std::end(table)) << m.maker << " " << code;
            if (!f.capacity)
                continue;
            EXPECT_EQ(f.capacity->terabit, row->terabit) << code;
            EXPECT_EQ(f.capacity->per_ce_gb, row->per_die ? row->gb * 4 : row->gb) << code;
            EXPECT_EQ(f.capacity->per_die_gb, row->per_die ? row->gb : row->gb / 4) << code;
        }
    }
}

TEST(FlashId, CellTypeOverridesAndTheirFallThrough) {
    const struct {
        const char* id;
        const char* cells;  // for cell-type codes 0 to 3 in byte 2 bits 2-3
    } cases[] = {
        {"89 05 00 32 C2 00", "SLC TLC QLC PLC"},
        {"89 09 00 32 C2 00", "SLC TLC QLC PLC"},
        {"89 D3 00 32 C6 00", "SLC MLC TLC QLC"},  // other Intel capacity codes
        {"2C 09 00 32 C2 00", "SLC MLC TLC QLC"},  // the same codes for Micron
        {"B5 05 00 32 C2 00", "SLC MLC TLC QLC"},
        {"9B D5 00 8D 20 00", "SLC MLC TLC QLC"},  // byte 2 is part of the YMTC QLC key
        {"2C D5 00 8D 20 00", "SLC MLC TLC QLC"},
    };
    for (const auto& c : cases) {
        const std::vector<std::string> cells = split(c.cells, ' ');
        for (unsigned code = 0; code < 4; ++code) {
            Id id = id_from(c.id);
            id[2] = static_cast<std::uint8_t>(id[2] | (code << 2) | code);  // any die count
            EXPECT_EQ(std::string(cell_type_text(*fields_of(id).cell)), " " + cells[code])
                << c.id << " c=" << code;
        }
    }
    // The YMTC override needs all four bytes; each one changed falls back to the cell code.
    const Id qlc = id_from("9B D5 58 8D 20 00");
    EXPECT_EQ(fields_of(qlc).cell, CellType::qlc);
    for (std::size_t i = 1; i <= 4; ++i) {
        Id id = qlc;
        id[i] ^= 0x40;
        EXPECT_EQ(fields_of(id).cell, static_cast<CellType>((id[2] >> 2) & 3)) << i;
    }
}

TEST(FlashId, PageSizesAndPlanes) {
    for (unsigned code = 0; code < 4; ++code) {
        const std::uint16_t general[] = {2, 4, 8, 16};
        for (unsigned maker : {0x98, 0x45, 0xEC, 0xAD}) {
            EXPECT_EQ(fields_of(id_of(maker, 0, 0, 0xFC | code, 0, 0)).page_kib, general[code])
                << maker;
        }
        EXPECT_EQ(fields_of(id_of(0x9B, 0, 0, code, 0, 0)).page_kib,
                  code == 0   ? std::optional<std::uint16_t>(8)
                  : code == 1 ? std::optional<std::uint16_t>(16)
                              : std::nullopt);
        for (unsigned maker : {0x2C, 0x89, 0xB5, 0xEF}) {
            EXPECT_FALSE(fields_of(id_of(maker, 0, 0, code, 0, 0)).page_kib) << maker;
        }
    }
    // Toshiba and Sandisk: 2^p planes per CE over 2^d dies; none when p < d.
    for (unsigned p = 0; p < 4; ++p) {
        for (unsigned d = 0; d < 4; ++d) {
            for (unsigned maker : {0x98, 0x45}) {
                const FlashFields f = fields_of(id_of(maker, 0, 0xFC | d, 0, 0xF3 | (p << 2), 0));
                if (p < d) {
                    EXPECT_FALSE(f.planes_per_die) << p << d;
                } else {
                    EXPECT_EQ(f.planes_per_die, 1u << (p - d)) << p << d;
                }
            }
        }
    }
    // YMTC plane code in byte 3 bits 5-7: 000, 001, 010 give 1, 2, 4 planes; the rest nothing.
    const std::optional<std::uint32_t> ymtc_planes[] = {1, 2, 4, {}, {}, {}, {}, {}};
    for (unsigned code = 0; code < 8; ++code) {
        EXPECT_EQ(fields_of(id_of(0x9B, 0, 0x03, (code << 5) | 0x1F, 0xFF, 0)).planes_per_die,
                  ymtc_planes[code])
            << code;
    }
    for (unsigned maker : {0x2C, 0xAD, 0xEC, 0xEF}) {
        EXPECT_FALSE(fields_of(id_of(maker, 0, 0, 0, 0x0C, 0)).planes_per_die) << maker;
    }
}

// All values of bytes 0 and 1, with bytes 2 to 5 taken from the table keys (part keys, node
// keys, generation keys) and from the bit fields at both ends of their ranges.
TEST(FlashId, NoDescriptionIsLongerThan67AndBytes6And7NeverCount) {
    std::vector<std::array<std::uint8_t, 4>> tails;
    for (std::span<const PartGroup> groups :
         {std::span<const PartGroup>(kMicronGroups), std::span<const PartGroup>(kYmtcGroups)}) {
        for (const PartGroup& group : groups) {
            for (const std::string& key : split(group.keys, ';')) {
                const Id id = id_from(key, Id{0, 0, 0, 0, 0, 0xB0, 0, 0}, group.start);
                tails.push_back({id[2], id[3], id[4], id[5]});
            }
        }
    }
    const std::uint8_t nodes[] = {0x24, 0x25, 0x26, 0xB0, 0x90, 0xC3, 0x4D, 0x4F, 0x47, 0x00};
    for (std::uint8_t b5 : nodes) {
        for (std::uint8_t b2 : {0x0C, 0x0F, 0x00}) {
            for (std::uint8_t b4 : {0x0C, 0x2C, 0x10})
                tails.push_back({b2, 0x41, b4, b5});
        }
    }
    std::size_t longest = 0;
    std::string longest_text;
    std::mt19937 random(4);
    char text[kFlashDescriptionSize];
    char again[kFlashDescriptionSize];
    for (unsigned b01 = 0; b01 < 0x10000; ++b01) {
        // Unknown makers cycle through the tails, one tail per value of byte 1.
        const bool known = std::any_of(std::begin(kMakers), std::end(kMakers),
                                       [&](const auto& m) { return m.code == (b01 >> 8); });
        for (std::size_t t = known ? 0 : b01 % tails.size(); t < tails.size();
             t += known ? 1 : tails.size()) {
            const auto& tail = tails[t];
            Id id = id_of(b01 >> 8, b01 & 0xFF, tail[0], tail[1], tail[2], tail[3]);
            if (decode_flash_id(id.data(), text) == 0) {
                ASSERT_EQ(text[0], '\0');
                continue;
            }
            const std::size_t length = std::strlen(text);
            if (length > longest) {
                longest = length;
                longest_text = text;
            }
            if ((b01 + t) % 4 != 0)
                continue;  // a quarter of the IDs again, with bytes 6 and 7 set
            id[6] = static_cast<std::uint8_t>(random());
            id[7] = static_cast<std::uint8_t>(random());
            decode_flash_id(id.data(), again);
            ASSERT_STREQ(again, text);
        }
    }
    EXPECT_LE(longest, 67u) << longest_text;
    EXPECT_GE(longest, 60u) << longest_text;  // the sample reached the long descriptions
}

TEST(FlashId, ReadsOnlySixBytesAndAlwaysTerminatesTheText) {
    // Six bytes on the heap: a read of byte 6 or 7 shows up in a sanitizer build.
    const auto six = std::make_unique<std::uint8_t[]>(6);
    const Id known = id_from("98 3C 98 B3 76 F2");
    std::copy_n(known.begin(), 6, six.get());
    char text[kFlashDescriptionSize];
    EXPECT_EQ(decode_flash_id(six.get(), text), 1);
    EXPECT_STREQ(text, "Toshiba 64L BiCS3 TLC 16k 256Gb/CE 256Gb/die 2Plane/die");

    std::fill(std::begin(text), std::end(text), 'x');
    six[0] = 0x37;
    EXPECT_EQ(decode_flash_id(six.get(), text), 0);
    EXPECT_EQ(text[0], '\0');

    // A short buffer gets a cut but terminated text.
    FlashFields fields;
    ASSERT_TRUE(decode_flash_fields(known.data(), fields));
    char small[12];
    format_flash_description(fields, small, sizeof small);
    EXPECT_STREQ(small, "Toshiba 64L");
}

}  // namespace
}  // namespace torvik::testing
