#include "flashid/part_tables.h"

#include <array>
#include <span>

namespace torvik {

namespace {

// The rows are searched in order and the first match wins. Where keys overlap, a five-byte key
// also fixes the byte after the four compared by its neighbours (88 24 4B A9 with byte 5 0x00
// or 0x84; C3 08 32 E6 with byte 5 0x00 or 0x30). Rows that start at byte 0 include the maker
// code and so match Intel IDs only.

// clang-format off
// text, key start, key length, key; row number
constexpr PartRow kMicronPartTable[] = {
    {" 50nm(L52A)", 1, 4, {0xD5, 0x94, 0x3E, 0x74}},          // 1
    {" 50nm(L52A)", 1, 4, {0xD7, 0xD5, 0x3E, 0x78}},          // 2
    {" 34nm(M62A)", 1, 4, {0x48, 0x00, 0x26, 0x89}},          // 3
    {" 34nm(M62A)", 1, 4, {0x68, 0x01, 0xA6, 0x89}},          // 4
    {" 34nm(L63B)", 1, 4, {0x68, 0x04, 0x46, 0x89}},          // 5
    {" 34nm(L63B)", 1, 4, {0x88, 0x05, 0xC6, 0x89}},          // 6
    {" 34nm(L63B)", 1, 4, {0x68, 0x04, 0x46, 0xA9}},          // 7
    {" 25nm(M73A)", 1, 4, {0x68, 0x00, 0x27, 0xA9}},          // 8
    {" 25nm(M73A)", 1, 4, {0x88, 0x01, 0xA7, 0xA9}},          // 9
    {" 25nm(M73A)", 1, 4, {0x68, 0x20, 0x27, 0xA9}},          // 10
    {" 25nm(L73A)", 1, 4, {0x68, 0x04, 0x4A, 0xA9}},          // 11
    {" 25nm(L73A)", 1, 4, {0x88, 0x05, 0xCA, 0xA9}},          // 12
    {" 25nm(L74A)", 1, 5, {0x88, 0x04, 0x4B, 0xA9, 0x00}},    // 13
    {" 25nm(L74A)", 1, 5, {0xA8, 0x05, 0xCB, 0xA9, 0x00}},    // 14
    {" 25nm(L74A)", 1, 5, {0x88, 0x24, 0x4B, 0xA9, 0x00}},    // 15
    {" 20nm(L84A)", 1, 5, {0x88, 0x24, 0x4B, 0xA9, 0x84}},    // 16
    {" 20nm(L84A)", 1, 4, {0x64, 0x44, 0x4B, 0xA9}},          // 17
    {" 20nm(L84A)", 1, 4, {0x84, 0xC5, 0x4B, 0xA9}},          // 18
    {" 20nm(L84C)", 1, 4, {0x64, 0x64, 0x3C, 0xA1}},          // 19
    {" 20nm(L84C)", 1, 4, {0x64, 0x64, 0x3C, 0xA5}},          // 20
    {" 20nm(L84C)", 1, 4, {0x84, 0xE5, 0x3C, 0xA5}},          // 21
    {" 20nm(L85A)", 1, 4, {0x84, 0x64, 0x3C, 0xA5}},          // 22
    {" 20nm(L85A)", 1, 4, {0xA4, 0xE5, 0x3C, 0xA5}},          // 23
    {" 20nm(L85C)", 1, 4, {0x84, 0x64, 0x3C, 0xA9}},          // 24
    {" 20nm(L85C)", 1, 4, {0xA4, 0xE5, 0x3C, 0xA9}},          // 25
    {" 16nm(L95B)", 1, 4, {0x84, 0x64, 0x54, 0xA9}},          // 26
    {" 16nm(L95B)", 1, 4, {0xA4, 0xE5, 0x54, 0xA9}},          // 27
    {" 34nm(B63A)", 1, 4, {0x68, 0x08, 0x56, 0x8A}},          // 28
    {" 25nm(B74A)", 1, 4, {0x88, 0x08, 0x5F, 0xA9}},          // 29
    {" 25nm(B74A)", 1, 4, {0x88, 0x08, 0x5F, 0x89}},          // 30
    {" 25nm(B74A)", 1, 4, {0x88, 0x28, 0x5F, 0xA9}},          // 31
    {" 25nm(B74A)", 1, 4, {0xA8, 0x09, 0xDF, 0x89}},          // 32
    {" 25nm(B74A)", 1, 4, {0xA8, 0x09, 0xDF, 0xA9}},          // 33
    {" 20nm(B85T)", 1, 4, {0x84, 0x78, 0x63, 0xA9}},          // 34
    {" 20nm(B85T)", 1, 4, {0x84, 0x78, 0x7B, 0xA9}},          // 35
    {" 20nm(B85T)", 1, 4, {0xA4, 0xF9, 0x63, 0xA9}},          // 36
    {" 20nm(B85T)", 1, 4, {0xA4, 0xF9, 0x7B, 0xA9}},          // 37
    {" 16nm(B95A)", 1, 4, {0x84, 0x48, 0x63, 0xA9}},          // 38
    {" 32L(L04A)", 1, 4, {0x64, 0x44, 0x32, 0xA5}},           // 39
    {" 32L(L05B)", 1, 4, {0x84, 0x44, 0x34, 0xAA}},           // 40
    {" 32L(B05A)", 1, 4, {0x84, 0x58, 0x32, 0xA1}},           // 41
    {" 32L(L05A)", 1, 4, {0xA4, 0x64, 0x34, 0xAA}},           // 42
    {" 32L(L06A)", 1, 4, {0xA4, 0xE4, 0x34, 0x8A}},           // 43
    {" 32L(L06B)", 1, 4, {0xA4, 0x64, 0x32, 0xAA}},           // 44
    {" 32L(L06B)", 1, 4, {0xC4, 0xE5, 0x32, 0xAA}},           // 45
    {" 32L(B0KB)", 1, 4, {0xB4, 0x78, 0x32, 0xAA}},           // 46
    {" 32L(B0KB)", 1, 4, {0xCC, 0xF9, 0x32, 0xAA}},           // 47
    {" 64L(B16A)", 1, 4, {0xA4, 0x08, 0x32, 0xA1}},           // 48
    {" 64L(B16A)", 1, 4, {0xA4, 0x88, 0x32, 0xA1}},           // 49
    {" 64L(B16A)", 1, 4, {0xC4, 0x89, 0x32, 0xA1}},           // 50
    {" 64L(B17A)", 1, 4, {0xC4, 0x08, 0x32, 0xA6}},           // 51
    {" 64L(B17A)", 1, 4, {0xD4, 0x89, 0x32, 0xA6}},           // 52
    {" 64L(B17A)", 1, 4, {0xE4, 0x8A, 0x32, 0xA6}},           // 53
    {" 64L(N18A)", 1, 4, {0xD4, 0x0C, 0x32, 0xAA}},           // 54
    {" 96L(B27A)", 1, 4, {0xC4, 0x18, 0x32, 0xA2}},           // 55
    {" 96L(B27A)", 1, 4, {0xD4, 0x99, 0x32, 0xA2}},           // 56
    {" 96L(B27A)", 1, 4, {0xE4, 0x9A, 0x32, 0xA2}},           // 57
    {" 96L(B27B)", 1, 5, {0xC3, 0x08, 0x32, 0xE6, 0x00}},     // 58
    {" 96L(B27B)", 1, 4, {0xD3, 0x89, 0x32, 0xE6}},           // 59
    {" 96L(B27B)", 1, 4, {0xE3, 0x8A, 0x32, 0xE6}},           // 60
    {" 96L(N28A)", 1, 4, {0xD3, 0x1C, 0x32, 0xC6}},           // 61
    {" 96L(N28A)", 1, 4, {0xD3, 0x9C, 0x32, 0xC6}},           // 62
    {" 96L(N28A)", 1, 4, {0xE3, 0x9D, 0x32, 0xC6}},           // 63
    {" 96L(N28A)", 1, 4, {0xF3, 0x9E, 0x32, 0xC6}},           // 64
    {" 96L(M26A)", 1, 4, {0xA3, 0x60, 0x32, 0xC6}},           // 65
    {" 128L(B36R)", 1, 4, {0xA3, 0x78, 0x32, 0xE5}},          // 66
    {" 128L(B37R)", 1, 4, {0xC3, 0x78, 0x32, 0xEA}},          // 67
    {" 176L(B47R)", 1, 4, {0xC3, 0x08, 0x32, 0xEA}},          // 68
    {" 176L(B47R)", 1, 4, {0xD3, 0x89, 0x32, 0xEA}},          // 69
    {" 176L(B47R)", 1, 4, {0xE3, 0x8A, 0x32, 0xEA}},          // 70
    {" 176L(N48R)", 1, 4, {0xD3, 0x0C, 0x32, 0xEA}},          // 71
    {" 176L(N48R)", 1, 4, {0xE3, 0x8D, 0x32, 0xEA}},          // 72
    {" 176L(N48R)", 1, 4, {0xF3, 0x8E, 0x32, 0xEA}},          // 73
    {" 232L(B57T)", 1, 5, {0xC3, 0x08, 0x32, 0xE6, 0x30}},    // 74
    {" 232L(B58R)", 1, 5, {0xD3, 0x08, 0x32, 0xE8, 0x30}},    // 75
    {" 232L(B58R)", 1, 5, {0xE3, 0x89, 0x32, 0xE8, 0x30}},    // 76
    {" 232L(B58R)", 1, 5, {0xF3, 0x8A, 0x32, 0xE8, 0x30}},    // 77
    {" 232L(N58R)", 1, 5, {0xD3, 0x0C, 0x42, 0xEE, 0x30}},    // 78
    {" 232L(N58R)", 1, 5, {0xE3, 0x8D, 0x42, 0xEE, 0x30}},    // 79
    {" 232L(N58R)", 1, 5, {0xF3, 0x8E, 0x42, 0xEE, 0x30}},    // 80
    {" 276L(B68S)", 1, 5, {0xD3, 0x08, 0x32, 0xE8, 0x34}},    // 81
    {" 276L(B68S)", 1, 5, {0xE3, 0x89, 0x32, 0xE8, 0x34}},    // 82
    {" 276L(B68S)", 1, 5, {0xF3, 0x8A, 0x32, 0xE8, 0x34}},    // 83
    {" 144L(N38A)", 0, 5, {0x89, 0xD3, 0xAC, 0x32, 0xC6}},    // 84
    {" 144L(N38B)", 0, 5, {0x89, 0xD3, 0xAC, 0x32, 0xC2}},    // 85
    {" 192L(Q5171A)", 0, 5, {0x89, 0x09, 0x28, 0x32, 0xC2}},  // 86
    {" 192L(Q5171A)", 0, 5, {0x89, 0x09, 0x29, 0x32, 0xC2}},  // 87
    {" 192L(Q5171A)", 0, 5, {0x89, 0x09, 0x2A, 0x32, 0xC2}},  // 88
    {" 192L(Q5171A)", 0, 5, {0x89, 0x09, 0x2B, 0x32, 0xC2}},  // 89
    {" 192L(N4PA)", 0, 5, {0x89, 0x05, 0x04, 0x32, 0xC2}},    // 90
    {" 192L(N4PA)", 0, 5, {0x89, 0x05, 0x05, 0x32, 0xC2}},    // 91
    {" 192L(N4PA)", 0, 5, {0x89, 0x05, 0x06, 0x32, 0xC2}},    // 92
    {" 192L(N4PA)", 0, 5, {0x89, 0x05, 0x07, 0x32, 0xC2}},    // 93
};

// text, key start, key length, key; row number. The texts continue the YMTC generation text.
constexpr PartRow kYmtcPartTable[] = {
    {"(x1-9050)", 1, 4, {0xC3, 0x48, 0x25, 0x10}},       // 1
    {"(x2-6070)", 1, 4, {0xD5, 0x58, 0x8D, 0x20}},       // 2
    {"(x2-9060)", 1, 4, {0xC4, 0x28, 0x49, 0x20}},       // 3
    {"(x2-9060)", 1, 4, {0xC5, 0x29, 0x49, 0x20}},       // 4
    {"-128L(x3-9060)", 1, 4, {0xC4, 0x28, 0x49, 0x30}},  // 5
    {"-128L(x3-9060)", 1, 4, {0xC5, 0x29, 0x49, 0x30}},  // 6
    {"-232L(x3-9070)", 1, 4, {0xC5, 0x58, 0x71, 0x30}},  // 7
    {"-232L(x3-9070)", 1, 4, {0xC6, 0x59, 0x71, 0x30}},  // 8
    {"-232L(x3-6070)", 1, 4, {0xC5, 0x5C, 0x55, 0x30}},  // 9
};
// clang-format on

constexpr bool rows_are_well_formed(std::span<const PartRow> table) {
    for (const PartRow& row : table) {
        if (row.key_start > 1 || row.key_length < 4 || row.key_length > 5)
            return false;
        if (row.text[0] == '\0')
            return false;
    }
    return true;
}

// Two rows overlap when they agree on every ID byte that both compare: one ID would match both.
constexpr bool rows_overlap(const PartRow& a, const PartRow& b) {
    for (int pos = 0; pos < 6; ++pos) {
        const int ia = pos - a.key_start;
        const int ib = pos - b.key_start;
        if (ia < 0 || ia >= a.key_length || ib < 0 || ib >= b.key_length)
            continue;
        if (a.key[ia] != b.key[ib])
            return false;
    }
    return true;
}

constexpr bool no_id_matches_two_rows(std::span<const PartRow> table) {
    for (std::size_t i = 0; i < table.size(); ++i) {
        for (std::size_t j = i + 1; j < table.size(); ++j) {
            if (rows_overlap(table[i], table[j]))
                return false;
        }
    }
    return true;
}

// Every key fixes ID byte 1 (a row from byte 0 on fixes bytes 0 and 1), so the rows are bucketed
// by byte 1, each bucket in table order. A row's key is matched as a whole: ID bytes 0 to 5 read
// as one little-endian number, masked to the bytes the row compares.
struct PartKey {
    std::uint64_t value;
    std::uint64_t mask;
    const char* text;
};

template <std::size_t N>
struct PartIndex {
    std::array<std::uint16_t, 257> start{};  // bucket b holds keys[start[b]] to keys[start[b + 1]]
    std::array<PartKey, N> keys{};
};

constexpr std::uint8_t key_byte1(const PartRow& row) {
    return row.key[1 - row.key_start];
}

template <std::size_t N>
constexpr PartIndex<N> make_part_index(const PartRow (&table)[N]) {
    PartIndex<N> index;
    std::size_t next = 0;
    for (unsigned b = 0; b < 256; ++b) {
        index.start[b] = static_cast<std::uint16_t>(next);
        for (const PartRow& row : table) {
            if (key_byte1(row) != b)
                continue;
            PartKey key{0, 0, row.text};
            for (std::size_t i = 0; i < row.key_length; ++i) {
                const unsigned shift = 8 * (row.key_start + i);
                key.value |= std::uint64_t{row.key[i]} << shift;
                key.mask |= std::uint64_t{0xFF} << shift;
            }
            index.keys[next++] = key;
        }
    }
    index.start[256] = static_cast<std::uint16_t>(next);
    return index;
}

// A table's index, made once for each table that a part table definition below names.
template <const auto& table>
constexpr auto kPartIndex = make_part_index(table);

}  // namespace

struct PartTable {
    std::span<const PartRow> rows;
    const std::uint16_t* start;  // as PartIndex::start
    const PartKey* keys;

    template <const auto& table>
    static constexpr PartTable of() {
        static_assert(rows_are_well_formed(table));
        static_assert(no_id_matches_two_rows(table));
        static_assert(kPartIndex<table>.start[256] == std::size(table));
        return {table, kPartIndex<table>.start.data(), kPartIndex<table>.keys.data()};
    }
};

constexpr PartTable kMicronParts = PartTable::of<kMicronPartTable>();
constexpr PartTable kYmtcParts = PartTable::of<kYmtcPartTable>();

std::span<const PartRow> part_rows(const PartTable& table) {
    return table.rows;
}

const char* find_part_text(const PartTable& table, const std::uint8_t* id) {
    // Bytes in ID order whatever the machine's byte order.
    const std::uint64_t bytes = std::uint64_t{id[0]} | std::uint64_t{id[1]} << 8 |
                                std::uint64_t{id[2]} << 16 | std::uint64_t{id[3]} << 24 |
                                std::uint64_t{id[4]} << 32 | std::uint64_t{id[5]} << 40;
    const std::uint16_t* const start = table.start + id[1];
    for (const PartKey* key = table.keys + start[0]; key != table.keys + start[1]; ++key) {
        if ((bytes & key->mask) == key->value)
            return key->text;
    }
    return nullptr;
}

}  // namespace torvik
