// Flash ID decoder: turns the Read ID bytes of one NAND package into a one-line description
// (maker, node or 3D generation, part, cell type, page size, capacity per CE and per die, planes
// per die). Pure functions: no state, no I/O, no heap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace torvik {

// Callers supply a description buffer of this size; no description comes near it.
inline constexpr std::size_t kFlashDescriptionSize = 128;

enum class CellType : std::uint8_t { slc, mlc, tlc, qlc, plc };

struct FlashCapacity {
    std::uint32_t per_ce_gb = 0;
    std::uint32_t per_die_gb = 0;
    bool terabit = false;  // shown in terabits with two decimals rather than in whole gigabits
};

// What the decoder read from an ID. Texts point into the constant tables and keep the form in
// which they join the description: node " 64L BiCS3", Micron part " 96L(B27A)", YMTC part
// "(x1-9050)" (it continues the generation text). Absent fields give no piece of text.
struct FlashFields {
    const char* maker = nullptr;  // nullptr: the maker code is unknown and nothing else is set
    const char* node = nullptr;   // process node or 3D generation
    const char* part = nullptr;
    std::optional<CellType> cell;  // always set for a known maker
    std::optional<std::uint16_t> page_kib;
    std::optional<FlashCapacity> capacity;
    std::optional<std::uint32_t> planes_per_die;
};

// Reads ID bytes 0 to 5 (bytes 6 and 7 never count). Returns false, with every field cleared,
// when byte 0 is not a known maker code.
bool decode_flash_fields(const std::uint8_t* id, FlashFields& fields);

// The one text form of the fields; an unknown maker gives the empty text. Writes at most
// out_size bytes, NUL included (out_size must be at least 1).
void format_flash_description(const FlashFields& fields, char* out, std::size_t out_size);

// " SLC" ... " PLC", as the cell type joins the description.
const char* cell_type_text(CellType cell);

// Decodes id[0..5] into description, a caller buffer of kFlashDescriptionSize bytes, which
// always ends up holding a NUL-terminated text. Returns 1 for a known maker, 0 (empty text)
// otherwise.
int decode_flash_id(const std::uint8_t* id, char* description);

}  // namespace torvik
