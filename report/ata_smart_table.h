// The ATA-style SMART attribute configuration kept in the infoblock page, written to the report
// file only.
#pragma once

#include <cstdint>
#include <cstdio>

namespace torvik {

// infoblock: the whole infoblock page. Writes nothing when report_file is nullptr.
void write_ata_smart_table(std::FILE* report_file, const std::uint8_t* infoblock);

}  // namespace torvik
