#include "flashid/flash_id.h"

#include <cstring>

#include "flashid/capacity_table.h"
#include "flashid/maker_rules.h"
#include "flashid/maker_table.h"
#include "flashid/node_tables.h"
#include "flashid/part_tables.h"

namespace torvik {

namespace {

// ID bytes read by the decoder:
//   byte 0  maker code
//   byte 1  device code: capacity code, part keys
//   byte 2  bits 0-1 die exponent d (2^d dies per CE), bits 2-3 cell-type code c
//   byte 3  bits 0-1 page-size code; bits 5-7 YMTC plane code
//   byte 4  bits 2-3 plane exponent p (2^p planes per CE; Toshiba, Sandisk);
//           bits 4-6 YMTC generation
//   byte 5  technology code (Toshiba, Sandisk, Hynix, Samsung)
// Which of them a maker's IDs use is the maker family's row in maker_rules.h.

unsigned die_exponent(const std::uint8_t* id) {
    return id[2] & 3u;
}

CellType cell_type(const std::uint8_t* id) {
    const unsigned c = (id[2] >> 2) & 3u;
    for (const CellTypeOverride& o : kCellTypeOverrides) {
        if (id[0] != o.maker || std::memcmp(id + 1, o.key, o.key_length) != 0)
            continue;
        if (!o.one_level_up)
            return o.cell;
        if (c != 0)
            return static_cast<CellType>(c + 1);
    }
    return static_cast<CellType>(c);
}

std::optional<std::uint16_t> page_size_kib(const PageRule& rule, const std::uint8_t* id) {
    const unsigned code = id[3] & 3u;
    if (rule.base_kib == 0 || code > rule.max_code)
        return std::nullopt;
    return static_cast<std::uint16_t>(rule.base_kib << code);
}

std::optional<FlashCapacity> capacity(const MakerFamilyRules& rules, const std::uint8_t* id,
                                      bool node_per_die) {
    if (rules.capacity == nullptr)
        return std::nullopt;
    const CapacityRow* row = find_capacity(*rules.capacity, id[1]);
    if (row == nullptr)
        return std::nullopt;
    const std::uint32_t dies = 1u << die_exponent(id);
    FlashCapacity result;
    result.terabit = row->terabit;
    if (row->per_die || node_per_die) {
        result.per_die_gb = row->gb;
        result.per_ce_gb = row->gb * dies;
    } else {
        result.per_ce_gb = row->gb;
        result.per_die_gb = row->gb / dies;  // drops the remainder: 1365 / 2 = 682
    }
    return result;
}

std::optional<std::uint32_t> planes_per_die(const PlaneRule& rule, const std::uint8_t* id) {
    if (!rule.present)
        return std::nullopt;
    unsigned code = rule.field.of(id);
    if (code > rule.max_code)
        return std::nullopt;
    if (rule.over_dies) {
        const unsigned d = die_exponent(id);
        if (code < d)
            return std::nullopt;
        code -= d;
    }
    return 1u << code;
}

constexpr const char* kCellTypeTexts[] = {" SLC", " MLC", " TLC", " QLC", " PLC"};

// Writes the description at out, which has room for the longest one (checked below); returns
// the end of the text, not terminated.
class DescriptionWriter {
  public:
    explicit DescriptionWriter(char* out) : end_(out) {}

    char* end() const { return end_; }

    void text(const char* piece) {
        const std::size_t length = std::strlen(piece);
        std::memcpy(end_, piece, length);
        end_ += length;
    }

    void literal(const char* piece, std::size_t length) {
        std::memcpy(end_, piece, length);
        end_ += length;
    }

    void number(std::uint32_t value) {
        char digits[10];
        char* first = digits + sizeof digits;
        do {
            *--first = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0);
        literal(first, static_cast<std::size_t>(digits + sizeof digits - first));
    }

    // gb / 1024 with two decimals, rounded as printf's "%.2f" rounds the exact value: to the
    // nearer hundredth, a tie to the even one. gb / 1024 in hundredths is gb * 25 / 256.
    void terabits(std::uint32_t gb) {
        const std::uint64_t scaled = std::uint64_t{gb} * 25;
        std::uint64_t hundredths = scaled >> 8;
        const unsigned remainder = static_cast<unsigned>(scaled & 0xFF);
        if (remainder > 128 || (remainder == 128 && (hundredths & 1) != 0))
            ++hundredths;
        number(static_cast<std::uint32_t>(hundredths / 100));
        const unsigned cents = static_cast<unsigned>(hundredths % 100);
        const char decimals[3] = {'.', static_cast<char>('0' + cents / 10),
                                  static_cast<char>('0' + cents % 10)};
        literal(decimals, 3);
    }

  private:
    char* end_;
};

template <std::size_t N>
constexpr std::size_t literal_length(const char (&)[N]) {
    return N - 1;
}

void write_description(const FlashFields& fields, DescriptionWriter& out) {
    out.text(fields.maker);
    if (fields.node != nullptr)
        out.text(fields.node);
    if (fields.part != nullptr)
        out.text(fields.part);
    if (fields.cell)
        out.literal(kCellTypeTexts[static_cast<std::size_t>(*fields.cell)], 4);
    if (fields.page_kib) {
        out.literal(" ", 1);
        out.number(*fields.page_kib);
        out.literal("k", 1);
    }
    if (fields.capacity) {
        const FlashCapacity& cap = *fields.capacity;
        out.literal(" ", 1);
        if (cap.terabit) {
            out.terabits(cap.per_ce_gb);
            out.literal("Tb/CE ", literal_length("Tb/CE "));
            out.terabits(cap.per_die_gb);
            out.literal("Tb/die", literal_length("Tb/die"));
        } else {
            out.number(cap.per_ce_gb);
            out.literal("Gb/CE ", literal_length("Gb/CE "));
            out.number(cap.per_die_gb);
            out.literal("Gb/die", literal_length("Gb/die"));
        }
    }
    if (fields.planes_per_die) {
        out.literal(" ", 1);
        out.number(*fields.planes_per_die);
        out.literal("Plane/die", literal_length("Plane/die"));
    }
}

// The longest description, piece by piece, fits the caller's buffer with its NUL: so the writer
// needs no bounds checks.
constexpr std::size_t longest_text(auto const& table, auto text_of) {
    std::size_t longest = 0;
    for (const auto& row : table) {
        const char* text = text_of(row);
        std::size_t length = 0;
        while (text != nullptr && text[length] != '\0')
            ++length;
        longest = length > longest ? length : longest;
    }
    return longest;
}
constexpr std::size_t kLongestMaker =
    longest_text(kMakerTable, [](const MakerRow& row) { return row.name; });
// Over the node texts of every family that names nodes. Such a family has a node key; the key's
// mask tells them apart because GCC cannot compare a table's address with null at compile time
// under the sanitizers.
constexpr std::size_t longest_node() {
    std::size_t longest = 0;
    for (const MakerFamilyRules& rules : kMakerFamilyRules) {
        if (rules.node_key.mask == 0)
            continue;
        const std::size_t length =
            longest_text(*rules.nodes, [](const NodeEntry& e) { return e.text; });
        longest = length > longest ? length : longest;
    }
    return longest;
}
constexpr std::size_t kLongestNode = longest_node();
constexpr std::size_t kLongestPart = sizeof(PartRow::text) - 1;
constexpr std::size_t digits(std::uint32_t value) {
    return value < 10 ? 1 : 1 + digits(value / 10);
}
// Capacities reach the largest value times 8 dies (terabits have fewer digits than gigabits:
// "10.66" for 10920); at most 2^7 planes; pages of up to 16k.
constexpr std::uint32_t largest_capacity_gb() {
    std::uint32_t largest = 0;
    for (const CapacityRow& row : kCapacityTable)
        largest = row.gb > largest ? row.gb : largest;
    return largest;
}
constexpr bool pages_have_two_digits() {
    for (const MakerFamilyRules& rules : kMakerFamilyRules) {
        if ((rules.page.base_kib << rules.page.max_code) > 99)
            return false;
    }
    return true;
}
static_assert(pages_have_two_digits());
constexpr std::size_t kCapacityDigits = digits(8u * largest_capacity_gb());
constexpr std::size_t kLongestNumbers =
    literal_length(" QLC") + literal_length(" 16k") +
    (1 + kCapacityDigits + literal_length("Gb/CE ") + kCapacityDigits + literal_length("Gb/die")) +
    (1 + 3 + literal_length("Plane/die"));
static_assert(kLongestMaker + kLongestNode + kLongestPart + kLongestNumbers <
              kFlashDescriptionSize);

}  // namespace

bool decode_flash_fields(const std::uint8_t* id, FlashFields& fields) {
    fields = FlashFields{};
    const MakerRow* maker = find_maker(id[0]);
    if (maker == nullptr)
        return false;
    fields.maker = maker->name;

    const MakerFamilyRules& rules = rules_of(maker->family);
    bool node_per_die = false;
    if (rules.nodes != nullptr) {
        const NodeEntry& node = (*rules.nodes)[rules.node_key.of(id)];
        fields.node = node.text;
        node_per_die = node.per_die;
    }
    if (rules.parts != nullptr)
        fields.part = find_part_text(*rules.parts, id);
    fields.cell = cell_type(id);
    fields.page_kib = page_size_kib(rules.page, id);
    fields.capacity = capacity(rules, id, node_per_die);
    fields.planes_per_die = planes_per_die(rules.planes, id);
    return true;
}

const char* cell_type_text(CellType cell) {
    return kCellTypeTexts[static_cast<std::size_t>(cell)];
}

void format_flash_description(const FlashFields& fields, char* out, std::size_t out_size) {
    out[0] = '\0';
    if (fields.maker == nullptr)
        return;
    if (out_size >= kFlashDescriptionSize) {
        DescriptionWriter writer(out);
        write_description(fields, writer);
        *writer.end() = '\0';
        return;
    }
    char whole[kFlashDescriptionSize];
    DescriptionWriter writer(whole);
    write_description(fields, writer);
    std::size_t length = static_cast<std::size_t>(writer.end() - whole);
    if (length > out_size - 1)
        length = out_size - 1;
    std::memcpy(out, whole, length);
    out[length] = '\0';
}

int decode_flash_id(const std::uint8_t* id, char* description) {
    FlashFields fields;
    if (!decode_flash_fields(id, fields)) {
        description[0] = '\0';
        return 0;
    }
    DescriptionWriter writer(description);
    write_description(fields, writer);
    *writer.end() = '\0';
    return 1;
}

}  // namespace torvik
