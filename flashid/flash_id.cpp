#include "flashid/flash_id.h"

#include <cstdio>

#include "flashid/capacity_table.h"
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

// Makers that share one treatment.
enum class Family { kOther, kMicron, kToshiba, kHynix, kSamsung, kYmtc };

Family family_of(std::uint8_t maker) {
    switch (maker) {
        case kMakerMicron:
        case kMakerIntel:
        case kMakerSpectek:
            return Family::kMicron;
        case kMakerToshiba:
        case kMakerSandisk:
            return Family::kToshiba;
        case kMakerHynix:
            return Family::kHynix;
        case kMakerSamsung:
            return Family::kSamsung;
        case kMakerYmtc:
            return Family::kYmtc;
        default:
            return Family::kOther;
    }
}

std::optional<CapacityColumn> capacity_column(Family family) {
    switch (family) {
        case Family::kMicron:
            return CapacityColumn::kMicronIntelSpectek;
        case Family::kToshiba:
            return CapacityColumn::kToshibaSandisk;
        case Family::kHynix:
            return CapacityColumn::kHynix;
        case Family::kSamsung:
            return CapacityColumn::kSamsung;
        case Family::kYmtc:
            return CapacityColumn::kYmtc;
        case Family::kOther:
            break;
    }
    return std::nullopt;
}

unsigned die_exponent(const std::uint8_t* id) {
    return id[2] & 3u;
}

// Intel parts with the per-die capacity codes 0x05 and 0x09 count their cell-type code one level
// up (1 TLC, 2 QLC, 3 PLC); code 0 still means SLC. One YMTC QLC part reports a TLC code.
CellType cell_type(const std::uint8_t* id) {
    const unsigned c = (id[2] >> 2) & 3u;
    if (id[0] == kMakerIntel && (id[1] == 0x05 || id[1] == 0x09) && c != 0) {
        return static_cast<CellType>(c + 1);
    }
    if (id[0] == kMakerYmtc && id[1] == 0xD5 && id[2] == 0x58 && id[3] == 0x8D && id[4] == 0x20) {
        return CellType::kQlc;
    }
    return static_cast<CellType>(c);
}

std::optional<std::uint16_t> page_size_kib(Family family, std::uint8_t byte3) {
    const unsigned code = byte3 & 3u;
    switch (family) {
        case Family::kToshiba:
        case Family::kHynix:
        case Family::kSamsung:
            return static_cast<std::uint16_t>(2u << code);  // 2k, 4k, 8k, 16k
        case Family::kYmtc:
            if (code <= 1)
                return static_cast<std::uint16_t>(8u << code);  // 8k, 16k
            return std::nullopt;
        default:
            return std::nullopt;
    }
}

std::optional<FlashCapacity> capacity(Family family, const std::uint8_t* id, bool node_per_die) {
    const std::optional<CapacityColumn> column = capacity_column(family);
    if (!column)
        return std::nullopt;
    const CapacityRow* row = find_capacity(*column, id[1]);
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

std::optional<std::uint32_t> planes_per_die(Family family, const std::uint8_t* id) {
    if (family == Family::kToshiba) {
        // Planes per CE over dies per CE. Fewer planes than dies gives no whole number per die:
        // such an ID gets no plane piece.
        const unsigned p = (id[4] >> 2) & 3u;
        const unsigned d = die_exponent(id);
        if (p < d)
            return std::nullopt;
        return 1u << (p - d);
    }
    if (family == Family::kYmtc) {
        const unsigned code = id[3] >> 5;
        if (code > 2)
            return std::nullopt;
        return 1u << code;  // 1, 2, 4
    }
    return std::nullopt;
}

// Appends to a fixed buffer, dropping whatever does not fit; the text stays NUL-terminated.
class TextBuilder {
  public:
    TextBuilder(char* out, std::size_t size) : out_(out), size_(size) { out_[0] = '\0'; }

    void append(const char* text) {
        while (*text != '\0' && used_ + 1 < size_)
            out_[used_++] = *text++;
        out_[used_] = '\0';
    }

  private:
    char* out_;
    std::size_t size_;
    std::size_t used_ = 0;
};

}  // namespace

bool decode_flash_fields(const std::uint8_t* id, FlashFields& fields) {
    fields = FlashFields{};
    const char* maker = find_maker_name(id[0]);
    if (maker == nullptr)
        return false;
    fields.maker = maker;

    const Family family = family_of(id[0]);
    bool node_per_die = false;
    switch (family) {
        case Family::kMicron:
            fields.part = find_part_text(kMicronPartTable, id);
            break;
        case Family::kToshiba:
            fields.node = find_node_text(kToshibaNodeTable, id[5] & kToshibaNodeMask);
            break;
        case Family::kHynix:
            if (const HynixNodeRow* row = find_hynix_node(id[5])) {
                fields.node = row->text;
                node_per_die = row->per_die;
            }
            break;
        case Family::kSamsung:
            fields.node = find_node_text(kSamsungNodeTable, id[5] & kSamsungNodeMask);
            break;
        case Family::kYmtc:
            fields.node = find_node_text(kYmtcGenerationTable,
                                         (id[4] >> kYmtcGenerationShift) & kYmtcGenerationMask);
            fields.part = find_part_text(kYmtcPartTable, id);
            break;
        case Family::kOther:
            break;
    }
    fields.cell = cell_type(id);
    fields.page_kib = page_size_kib(family, id[3]);
    fields.capacity = capacity(family, id, node_per_die);
    fields.planes_per_die = planes_per_die(family, id);
    return true;
}

const char* cell_type_text(CellType cell) {
    switch (cell) {
        case CellType::kSlc:
            return " SLC";
        case CellType::kMlc:
            return " MLC";
        case CellType::kTlc:
            return " TLC";
        case CellType::kQlc:
            return " QLC";
        case CellType::kPlc:
            break;
    }
    return " PLC";
}

void format_flash_description(const FlashFields& fields, char* out, std::size_t out_size) {
    TextBuilder text(out, out_size);
    if (fields.maker == nullptr)
        return;
    char piece[48];
    text.append(fields.maker);
    if (fields.node != nullptr)
        text.append(fields.node);
    if (fields.part != nullptr)
        text.append(fields.part);
    if (fields.cell)
        text.append(cell_type_text(*fields.cell));
    if (fields.page_kib) {
        std::snprintf(piece, sizeof piece, " %uk", static_cast<unsigned>(*fields.page_kib));
        text.append(piece);
    }
    if (fields.capacity) {
        const FlashCapacity& cap = *fields.capacity;
        if (cap.terabit) {
            std::snprintf(piece, sizeof piece, " %0.2fTb/CE %0.2fTb/die",
                          static_cast<double>(cap.per_ce_gb) * (1.0 / 1024),
                          static_cast<double>(cap.per_die_gb) * (1.0 / 1024));
        } else {
            std::snprintf(piece, sizeof piece, " %uGb/CE %uGb/die",
                          static_cast<unsigned>(cap.per_ce_gb),
                          static_cast<unsigned>(cap.per_die_gb));
        }
        text.append(piece);
    }
    if (fields.planes_per_die) {
        std::snprintf(piece, sizeof piece, " %uPlane/die",
                      static_cast<unsigned>(*fields.planes_per_die));
        text.append(piece);
    }
}

int decode_flash_id(const std::uint8_t* id, char* description) {
    description[0] = '\0';
    FlashFields fields;
    if (!decode_flash_fields(id, fields))
        return 0;
    format_flash_description(fields, description, kFlashDescriptionSize);
    return 1;
}

}  // namespace torvik
