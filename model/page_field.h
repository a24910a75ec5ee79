// How a page's fields are defined: one row per field with its name, offset, width, byte order and
// unit. Every page the tool reads is described by such rows (model/*_pages.h); the decoders read
// pages through them and the simulated drive builds its pages through the same rows, so a field
// is placed in one line only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/uint128.h"

namespace torvik {

enum class ByteOrder : std::uint8_t { little, big };

// What a field's value counts; text fields hold bytes that are shown as characters.
enum class Unit : std::uint8_t {
    count,
    text,
    id,  // a code or a set of flags, not a quantity
    percent,
    kelvin,
    seconds,
    minutes,
    hours,
    data_units,  // thousands of 512-byte units
    megahertz,
    megatransfers,  // millions of transfers per second
    blocks,
    bytes,
};

struct FieldDef {
    const char* name;  // the field's name: the JSON report's key where it shows the field
    std::uint16_t offset;
    std::uint8_t width;  // bytes: 1, 2, 4, 8 or 16 for numbers; any for text
    ByteOrder order;
    Unit unit;
    bool is_signed;  // two's complement
};

constexpr FieldDef le(const char* name, std::uint16_t offset, std::uint8_t width,
                      Unit unit = Unit::count) {
    return FieldDef{name, offset, width, ByteOrder::little, unit, false};
}
constexpr FieldDef le_signed(const char* name, std::uint16_t offset, std::uint8_t width) {
    return FieldDef{name, offset, width, ByteOrder::little, Unit::count, true};
}
constexpr FieldDef be(const char* name, std::uint16_t offset, std::uint8_t width,
                      Unit unit = Unit::count) {
    return FieldDef{name, offset, width, ByteOrder::big, unit, false};
}
constexpr FieldDef text(const char* name, std::uint16_t offset, std::uint8_t width) {
    return FieldDef{name, offset, width, ByteOrder::big, Unit::text, false};
}

// Records that repeat at a fixed stride: the first at offset, count of them, size bytes each.
struct RecordLayout {
    std::uint16_t offset;
    std::uint16_t size;
    std::uint16_t count;
};

// The field's value, any width up to 16 bytes.
Uint128 read_wide(const std::uint8_t* page, const FieldDef& field);
// The field's value; a field wider than 8 bytes gives its low 64 bits.
std::uint64_t read_field(const std::uint8_t* page, const FieldDef& field);
// A text field: it ends at its first NUL or after its last byte; spaces stay.
std::string read_text(const std::uint8_t* page, const FieldDef& field);

void write_field(std::uint8_t* page, const FieldDef& field, std::uint64_t value);
void write_wide(std::uint8_t* page, const FieldDef& field, Uint128 value);
// The text's bytes from the field's start, at most its width; the rest stays as it is.
void write_text(std::uint8_t* page, const FieldDef& field, std::string_view value);

// The row named name, found while compiling: a name that no row has does not compile.
template <std::size_t N>
consteval std::size_t field_index(const FieldDef (&fields)[N], std::string_view name) {
    for (std::size_t i = 0; i < N; ++i) {
        if (std::string_view(fields[i].name) == name)
            return i;
    }
    throw "no field of that name";
}

// Every row inside a page of page_size bytes, numbers of a width the readers know, names unique.
template <std::size_t N>
constexpr bool fields_fit(const FieldDef (&fields)[N], std::size_t page_size) {
    for (std::size_t i = 0; i < N; ++i) {
        const FieldDef& f = fields[i];
        const bool number_width =
            f.width == 1 || f.width == 2 || f.width == 4 || f.width == 8 || f.width == 16;
        if (f.width == 0 || f.offset + f.width > page_size ||
            (f.unit != Unit::text && !number_width))
            return false;
        for (std::size_t j = 0; j < i; ++j) {
            if (std::string_view(fields[j].name) == f.name)
                return false;
        }
    }
    return true;
}

}  // namespace torvik
