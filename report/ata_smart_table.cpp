#include "report/ata_smart_table.h"

#include "common/bytes.h"
#include "report/attribute_table.h"

namespace torvik {

namespace {

// Infoblock bytes 0x600..0x7FF: 32 attribute configuration records of 16 bytes.
//
//   offset  width  field
//   0       8      Attr    attribute number; 0 marks an empty slot
//   1       8      Tresh   threshold
//   2       8      Flags
//   3       8      (not shown)
//   4..5    le16   ValId   value id
//   6..7    le16   WrstId  worst-value id
//   8..9    be16   RawId   raw-value id, the key of the description
//   10..15         (not shown)
constexpr std::size_t kFirstRecord = 0x600;
constexpr std::size_t kRecordSize = 16;

}  // namespace

AttributeSlot read_attribute_slot(const std::uint8_t* infoblock, std::size_t k) {
    const std::uint8_t* record = infoblock + kFirstRecord + kRecordSize * k;
    AttributeSlot slot;
    slot.attr = record[0];
    slot.threshold = record[1];
    slot.flags = record[2];
    slot.value_id = get_le16(record + 4);
    slot.worst_id = get_le16(record + 6);
    slot.raw_id = get_be16(record + 8);
    return slot;
}

void write_ata_smart_table(OutputFile* report_file, const std::uint8_t* infoblock) {
    if (report_file == nullptr)
        return;
    report_file->print("Torvik ATA-style smart configuration:\n");
    report_file->print("Attr Tresh Flags ValId WrstId  RawId   Description\n");
    for (std::size_t k = 0; k < kAttributeSlotCount; ++k) {
        const AttributeSlot slot = read_attribute_slot(infoblock, k);
        // Attr 0 marks an empty slot; the slots after it may still be in use.
        if (slot.attr == 0)
            continue;
        report_file->printf("0x%02X: 0x%02X 0x%02X 0x%04X 0x%04X 0x%04X",
                            static_cast<unsigned>(slot.attr), static_cast<unsigned>(slot.threshold),
                            static_cast<unsigned>(slot.flags), static_cast<unsigned>(slot.value_id),
                            static_cast<unsigned>(slot.worst_id),
                            static_cast<unsigned>(slot.raw_id));
        if (const char* text = find_attribute_description(slot.raw_id)) {
            report_file->printf(" - %s", text);
        }
        report_file->print("\n");
    }
}

}  // namespace torvik
