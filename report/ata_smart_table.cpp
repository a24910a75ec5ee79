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
constexpr std::size_t kRecordCount = 32;

}  // namespace

void write_ata_smart_table(std::FILE* report_file, const std::uint8_t* infoblock) {
    if (report_file == nullptr)
        return;
    std::fputs("Torvik ATA-style smart configuration:\n", report_file);
    std::fputs("Attr Tresh Flags ValId WrstId  RawId   Description\n", report_file);
    for (std::size_t k = 0; k < kRecordCount; ++k) {
        const std::uint8_t* record = infoblock + kFirstRecord + kRecordSize * k;
        // Attr 0 marks an empty slot; the slots after it may still be in use.
        if (record[0] == 0)
            continue;
        const std::uint16_t raw_id = get_be16(record + 8);
        std::fprintf(report_file, "0x%02X: 0x%02X 0x%02X 0x%04X 0x%04X 0x%04X",
                     static_cast<unsigned>(record[0]), static_cast<unsigned>(record[1]),
                     static_cast<unsigned>(record[2]), static_cast<unsigned>(get_le16(record + 4)),
                     static_cast<unsigned>(get_le16(record + 6)), static_cast<unsigned>(raw_id));
        if (const char* text = find_attribute_description(raw_id)) {
            std::fprintf(report_file, " - %s", text);
        }
        std::fputc('\n', report_file);
    }
}

}  // namespace torvik
