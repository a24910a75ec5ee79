// The ATA-style SMART attribute configuration kept in the infoblock page, written to the report
// file only.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/output_file.h"

namespace torvik {

inline constexpr std::size_t kAttributeSlotCount = 32;

// One attribute configuration record; attr 0 marks an empty slot.
struct AttributeSlot {
    std::uint8_t attr = 0;
    std::uint8_t threshold = 0;
    std::uint8_t flags = 0;
    std::uint16_t value_id = 0;
    std::uint16_t worst_id = 0;
    std::uint16_t raw_id = 0;  // the key of the attribute description
};

// Slot k (0 to kAttributeSlotCount - 1) of the whole infoblock page.
AttributeSlot read_attribute_slot(const std::uint8_t* infoblock, std::size_t k);

// infoblock: the whole infoblock page. Writes nothing when report_file is nullptr.
void write_ata_smart_table(OutputFile* report_file, const std::uint8_t* infoblock);

}  // namespace torvik
