#include "report/ata_smart_table.h"

#include "model/attribute_table.h"

namespace torvik {

void write_ata_smart_table(OutputFile* report_file, const AttributeSlots& slots) {
    if (report_file == nullptr)
        return;
    report_file->print("Torvik ATA-style smart configuration:\n");
    report_file->print("Attr Tresh Flags ValId WrstId  RawId   Description\n");
    for (const AttributeSlot& slot : slots) {
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
