// The standard SCSI pages: INQUIRY data and the READ CAPACITY (10) and (16) replies.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "model/page_field.h"
#include "scsi/commands.h"

namespace torvik {

// ---- INQUIRY, standard data ---------------------------------------------------------------------

// Columns: name, offset, width, unit.
inline constexpr FieldDef kInquiryFields[] = {
    le("version", 2, 1, Unit::id),               // 0x06: SPC-4
    le("response_data_format", 3, 1, Unit::id),  // 2
    le("additional_length", 4, 1, Unit::bytes),  // bytes after byte 4
    text("vendor", 8, 8),
    text("product", 16, 16),
    text("revision", 32, 4),
    text("serial", 36, 8),  // the first eight vendor-specific bytes
};
static_assert(fields_fit(kInquiryFields, command_info(CommandId::inquiry).length));
inline constexpr const FieldDef& kInquiryVendor =
    kInquiryFields[field_index(kInquiryFields, "vendor")];
inline constexpr const FieldDef& kInquiryProduct =
    kInquiryFields[field_index(kInquiryFields, "product")];
inline constexpr const FieldDef& kInquiryRevision =
    kInquiryFields[field_index(kInquiryFields, "revision")];
inline constexpr const FieldDef& kInquirySerial =
    kInquiryFields[field_index(kInquiryFields, "serial")];
static_assert(kInquiryVendor.offset + kInquiryVendor.width == kInquiryProduct.offset,
              "the model text runs from the vendor through the product");

// The report's "model" is the vendor and product texts read as one.
inline constexpr FieldDef kInquiryModel =
    text("model", kInquiryVendor.offset, kInquiryVendor.width + kInquiryProduct.width);

struct InquiryIdentity {
    std::string model;  // the drive's own bytes up to the first NUL, spaces kept
    std::string revision;
    std::string serial;
};

InquiryIdentity decode_inquiry(const std::uint8_t* inquiry);

// ---- READ CAPACITY, big-endian ------------------------------------------------------------------

inline constexpr FieldDef kCapacity10Fields[] = {
    be("last_lba", 0, 4, Unit::blocks),  // 0xFFFFFFFF: ask READ CAPACITY (16)
    be("block_length", 4, 4, Unit::bytes),
};
inline constexpr FieldDef kCapacity16Fields[] = {
    be("last_lba", 0, 8, Unit::blocks),
    be("block_length", 8, 4, Unit::bytes),
};
static_assert(fields_fit(kCapacity10Fields, command_info(CommandId::read_capacity10).length));
static_assert(fields_fit(kCapacity16Fields, command_info(CommandId::read_capacity16).length));

inline constexpr std::uint32_t kLastLba32 = 0xFFFFFFFF;
inline constexpr std::uint32_t kSectorSize = 512;

// The drive's size in bytes: the last LBA counts from 0, so the drive holds one sector more.
constexpr Uint128 size_in_bytes(std::uint64_t last_lba) {
    static_assert(kSectorSize == 1u << 9);
    const Uint128 sectors{last_lba == ~std::uint64_t{0} ? 1u : 0u, last_lba + 1};
    return Uint128{sectors.high << 9 | sectors.low >> (64 - 9), sectors.low << 9};
}

}  // namespace torvik
