#include "tests/support/flash_id_corpus.h"

#include <span>

#include "flashid/maker_table.h"
#include "flashid/part_tables.h"

namespace torvik::testing {

FlashIdBytes random_flash_id(std::mt19937& random) {
    FlashIdBytes id{};
    for (std::uint8_t& b : id)
        b = static_cast<std::uint8_t>(random());
    return id;
}

std::vector<FlashIdBytes> part_key_ids(std::mt19937& random) {
    std::vector<FlashIdBytes> ids;
    const struct {
        std::span<const PartRow> rows;
        std::uint8_t maker;
    } tables[] = {{part_rows(kMicronParts), kMakerMicron}, {part_rows(kYmtcParts), kMakerYmtc}};
    for (const auto& table : tables) {
        for (const PartRow& row : table.rows) {
            FlashIdBytes id = random_flash_id(random);
            id[0] = table.maker;
            for (std::size_t i = 0; i < row.key_length; ++i)
                id[row.key_start + i] = row.key[i];
            ids.push_back(id);
        }
    }
    return ids;
}

std::vector<FlashIdBytes> realistic_flash_id_mix(std::uint32_t seed, std::size_t count) {
    std::mt19937 random(seed);
    const std::vector<FlashIdBytes> keys = part_key_ids(random);
    std::vector<FlashIdBytes> mix;
    mix.reserve(count);
    while (mix.size() < count) {
        const unsigned kind = random() % 10;
        if (kind < 4) {
            mix.push_back(keys[random() % keys.size()]);
        } else if (kind < 8) {
            FlashIdBytes id = random_flash_id(random);
            id[0] = kMakerTable[random() % std::size(kMakerTable)].code;
            mix.push_back(id);
        } else {
            FlashIdBytes id = random_flash_id(random);
            while (find_maker_name(id[0]) != nullptr)
                id[0] = static_cast<std::uint8_t>(random());
            mix.push_back(id);
        }
    }
    return mix;
}

namespace {

void append_hex_byte(std::string& line, std::uint8_t value, bool prefix, bool upper) {
    const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    if (prefix)
        line += upper ? "0X" : "0x";
    line += digits[value >> 4];
    line += digits[value & 15];
}

}  // namespace

std::string decode_input_lines(std::uint32_t seed, std::size_t lines) {
    std::mt19937 random(seed);
    const std::vector<FlashIdBytes> ids = realistic_flash_id_mix(seed, 4096);
    static constexpr const char* kSeparators[] = {" ", " ", ", ", ",", "\t"};
    std::string text;
    text.reserve(lines * 26);
    std::string line;
    for (std::size_t n = 0; n < lines; ++n) {
        line.clear();
        const unsigned kind = random() % 100;
        if (kind < 2) {
            text += kind == 0 ? " \t\n" : "\n";  // blank
            continue;
        }
        const FlashIdBytes& id = ids[random() % ids.size()];
        std::size_t count = 6 + random() % 3;
        if (kind == 2)
            count = 1 + random() % 5;  // too few bytes
        else if (kind == 3)
            count = 9;  // one too many
        const bool prefix = random() % 4 == 0;
        const bool upper = random() % 3 != 0;
        const char* separator = kSeparators[random() % std::size(kSeparators)];
        const std::size_t bad_at = kind == 4 ? random() % count : count;
        for (std::size_t i = 0; i < count; ++i) {
            if (i > 0)
                line += separator;
            if (i == bad_at)
                line += (random() % 2) != 0 ? "G7" : "0x1F0";
            else
                append_hex_byte(line, i < id.size() ? id[i] : 0x5A, prefix, upper);
        }
        text += line;
        text += random() % 20 == 0 ? "\r\n" : "\n";
    }
    return text;
}

}  // namespace torvik::testing
