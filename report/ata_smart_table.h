// The ATA-style SMART attribute configuration kept in the infoblock page, written to the report
// file only.
#pragma once

#include "model/controller_pages.h"
#include "platform/output_file.h"

namespace torvik {

// Writes nothing when report_file is nullptr.
void write_ata_smart_table(OutputFile* report_file, const AttributeSlots& slots);

}  // namespace torvik
