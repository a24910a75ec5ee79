// The commands a Linux host sends to a disk on its own (TEST UNIT READY, INQUIRY and its vital
// product data pages, MODE SENSE, READ CAPACITY, READ of the medium, PREVENT ALLOW MEDIUM
// REMOVAL...), answered as a plain, blank, non-removable disk would answer them.
#pragma once

#include <cstdint>
#include <string>

#include "tests/e2e/usbdev/responder.h"

namespace torvik::usbdev {

struct DiskIdentity {
    std::string vendor = "TORVIK";      // INQUIRY bytes 8-15, padded with spaces
    std::string product = "E2E DISK";   // bytes 16-31
    std::string revision = "0001";      // bytes 32-35
    std::string serial = "E2E0000001";  // unit serial number page 0x80
    std::uint64_t last_lba = 0x3FFFF;   // 128 MiB with 512-byte blocks
    std::uint32_t block_size = 512;
    // The WP bit of MODE SENSE's device-specific parameter: the kernel then marks the disk
    // read-only and refuses to open its block node for writing.
    bool write_protected = false;
};

// Medium reads return zeros; commands that would change the medium are refused as on a
// write-protected disk; anything unknown gets ILLEGAL REQUEST, INVALID COMMAND OPERATION CODE.
class StandardResponder : public Responder {
  public:
    explicit StandardResponder(DiskIdentity identity) : identity_(std::move(identity)) {}

    ScsiReply answer(const ScsiCommand& command, std::uint8_t* data, std::size_t capacity) override;

    const DiskIdentity& identity() const { return identity_; }

  private:
    ScsiReply inquiry(const ScsiCommand& command, std::uint8_t* data, std::size_t capacity) const;
    ScsiReply mode_sense(const ScsiCommand& command, std::uint8_t* data,
                         std::size_t capacity) const;
    ScsiReply read_medium(const ScsiCommand& command) const;

    DiskIdentity identity_;
};

// True for the operation codes that write to the medium or change the device's settings.
bool is_writing_opcode(std::uint8_t opcode);

}  // namespace torvik::usbdev
