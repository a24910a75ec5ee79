// Command descriptor blocks of the SCSI and vendor commands, one pure builder per command, and the
// NVMe command block a bridge tunnel carries (the tunnels' own CDBs: scsi/tunnel_forms.h).
// Bytes that a layout does not name are 0.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "scsi/commands.h"

namespace torvik {

struct Cdb {
    std::array<std::uint8_t, 16> bytes{};
    std::uint8_t length = 0;
};

inline constexpr std::uint8_t kReadCapacity16ServiceAction = 0x10;

// INQUIRY, 6 bytes, standard data (no vital product data page):
//   0: 0x12   1-3: 0   4: allocation length   5: 0
Cdb inquiry_cdb(std::uint8_t allocation_length);

// READ CAPACITY(10), 10 bytes:
//   0: 0x25   1-9: 0
Cdb read_capacity10_cdb();

// READ CAPACITY(16), 16 bytes:
//   0: 0x9E   1: service action 0x10   2-9: 0   10-13: allocation length, big-endian   14-15: 0
Cdb read_capacity16_cdb(std::uint32_t allocation_length);

// Vendor command, 12-byte form; the page length travels only as the transfer length:
//   0: code bits 15..8   1: code bits 7..0   2-11: 0
Cdb vendor12_cdb(std::uint16_t code);

// Vendor command, 16-byte form:
//   0-3: code, most significant byte first   4-15: 0
Cdb vendor16_cdb(std::uint32_t code);

// NVMe admin command block: eight little-endian 32-bit words.
//   word 0: opcode   word 1: namespace id   word 2: command dword 10   words 3-7: 0
using NvmeCommandBlock = std::array<std::uint8_t, 32>;
inline constexpr std::size_t kNvmeOpcodeByte = 0;
inline constexpr std::size_t kNvmeCdw10Byte = 8;

NvmeCommandBlock nvme_command_block(std::uint8_t opcode, std::uint32_t namespace_id,
                                    std::uint32_t cdw10);

}  // namespace torvik
