// Command descriptor blocks of every command the tool sends, one pure builder per command.
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

// The bridge tunnel, 16 bytes. Only two bytes of the command block reach the drive; the amount of
// data is the transfer length alone:
//   0: 0xE6   1: NVMe opcode (block byte 0)   2: 0   3: command dword 10 bits 7..0 (block byte 8)
//   4-15: 0
Cdb tunnel_cdb(const NvmeCommandBlock& block);

// The 0xE4 tunnel, 16 bytes, data in:
//   0: 0xE4   1-2: transfer length, little-endian   3: NVMe opcode (block byte 0)
//   4: command dword 10 bits 7..0 (block byte 8)   5-15: 0
Cdb tunnel_e4_cdb(const NvmeCommandBlock& block, std::uint16_t transfer_length);

// The 0xA1 tunnel, 12 bytes, one CDB a phase:
//   0: 0xA1   1: 0x80 (admin) | phase   2: 0   3-5: length, big-endian   6-11: 0
// Phase 0: the command block goes out (512 bytes); phase 2: the page comes in; phase 0xF: the
// completion block comes in (512 bytes).
Cdb tunnel_a1_cdb(std::uint8_t phase, std::uint32_t length);

// The 0xA1 tunnel's command block, 512 bytes of little-endian dwords:
//   dword 0: signature 0x454D564E ("NVME")   dword 2: NVMe opcode   dword 3: namespace id
//   dwords 12-17: command dwords 10-15   every other dword: 0
using A1CommandBlock = std::array<std::uint8_t, kA1BlockLength>;
A1CommandBlock a1_command_block(const NvmeCommandBlock& block);

// The 0xA1 tunnel's completion block, 512 bytes of little-endian dwords:
//   dword 0: signature   dword 2: the command's result   dword 5 bits 31..17: the NVMe status
struct A1Completion {
    bool signature = false;  // dword 0 is the signature
    std::uint16_t status = 0;
    std::uint32_t result = 0;

    bool ok() const { return signature && status == 0; }
};
A1Completion a1_completion(const std::uint8_t* block);

}  // namespace torvik
