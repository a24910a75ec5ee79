#include "model/page_field.h"

namespace torvik {

namespace {

// Byte i of the field counted from its least significant byte.
std::size_t byte_at(const FieldDef& field, std::size_t i) {
    return field.offset + (field.order == ByteOrder::little ? i : field.width - 1 - i);
}

}  // namespace

Uint128 read_wide(const std::uint8_t* page, const FieldDef& field) {
    Uint128 value;
    for (std::size_t i = 0; i < field.width && i < 16; ++i) {
        const std::uint64_t byte = page[byte_at(field, i)];
        if (i < 8)
            value.low |= byte << (8 * i);
        else
            value.high |= byte << (8 * (i - 8));
    }
    return value;
}

std::uint64_t read_field(const std::uint8_t* page, const FieldDef& field) {
    return read_wide(page, field).low;
}

std::string read_text(const std::uint8_t* page, const FieldDef& field) {
    std::string out;
    for (std::size_t i = 0; i < field.width && page[field.offset + i] != 0; ++i)
        out.push_back(static_cast<char>(page[field.offset + i]));
    return out;
}

void write_wide(std::uint8_t* page, const FieldDef& field, Uint128 value) {
    for (std::size_t i = 0; i < field.width && i < 16; ++i) {
        const std::uint64_t word = i < 8 ? value.low : value.high;
        page[byte_at(field, i)] = static_cast<std::uint8_t>(word >> (8 * (i % 8)));
    }
}

void write_field(std::uint8_t* page, const FieldDef& field, std::uint64_t value) {
    write_wide(page, field, Uint128{0, value});
}

void write_text(std::uint8_t* page, const FieldDef& field, std::string_view value) {
    for (std::size_t i = 0; i < field.width && i < value.size(); ++i)
        page[field.offset + i] = static_cast<std::uint8_t>(value[i]);
}

}  // namespace torvik
