// The command operations: each builds one pass-through request and returns non-zero on success.
// A failed platform call prints the transport's own line on the console (INQUIRY excepted);
// SCSI status and sense are not examined, so a CHECK CONDITION counts as success with zeros
// wherever the drive sent no data.
#pragma once

#include <cstdint>

#include "transport/cdb.h"
#include "transport/drive_link.h"

namespace torvik {

inline constexpr std::uint32_t kMaxTransfer = 65536;
inline constexpr std::uint32_t kMaxInquiryLength = 255;  // the CDB's one-byte allocation length

enum class Direction : int {
    data_in = 2,   // from the drive: the only direction the tool uses
    data_out = 3,  // to the drive: exists in the vendor operations, never used
};

// INQUIRY of `length` bytes (at most 255). Returns 0 at once for the invalid handle; otherwise
// copies the data area to dest (when not null) whether the call succeeded or not, prints nothing.
// A length above 255 is not sent: dest gets that many zeros and the result is 0.
int scsi_inquiry(DriveLink& link, std::uint8_t* dest, std::uint32_t length);

// READ CAPACITY(10): the last LBA (reply bytes 0-3, big-endian), or 0 after a failure; dest (8
// bytes) is written only on success.
std::uint32_t scsi_read_capacity10(DriveLink& link, std::uint8_t* dest);

// READ CAPACITY(16): 1 on success (dest, 32 bytes, written when not null), 0 on failure.
int scsi_read_capacity16(DriveLink& link, std::uint8_t* dest);

// Vendor commands, 12-byte (16-bit code) and 16-byte (32-bit code) CDB forms.
int vendor_command12(DriveLink& link, std::uint8_t* buffer, std::uint16_t code,
                     std::uint32_t length, Direction direction);
int vendor_command16(DriveLink& link, std::uint8_t* buffer, std::uint32_t code,
                     std::uint32_t length, Direction direction);

// An NVMe admin command through the bridge's 0xE6 tunnel, data in, `length` bytes into buffer.
// A failed call prints "IOCtl: ASM Id/Smart failed 0x%x!" and leaves buffer untouched.
int nvme_tunnel(DriveLink& link, std::uint8_t* buffer, std::uint32_t length,
                const NvmeCommandBlock& block);

// NVMe Identify Controller through the bridge (4096 bytes): 1 only when the request succeeded and
// at least one returned byte is not zero. request_failed (when not null) tells the two zero
// results apart: true when the request itself failed, false when it brought only zeros.
int nvme_identify(DriveLink& link, std::uint8_t* buffer, bool* request_failed = nullptr);

// NVMe SMART / Health log through the bridge (512 bytes).
int nvme_smart_log(DriveLink& link, std::uint8_t* buffer);

}  // namespace torvik
