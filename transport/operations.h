// The command operations: each builds one pass-through request and says what happened. A failed
// platform call prints the transport's own line on the console (INQUIRY excepted); SCSI status
// and sense are not examined beyond telling a CHECK CONDITION apart, which counts as done with
// zeros wherever the drive sent no data.
#pragma once

#include <cstdint>

#include "scsi/cdb.h"
#include "scsi/tunnel_forms.h"
#include "transport/drive_link.h"
#include "transport/request.h"

namespace torvik {

inline constexpr std::uint32_t kMaxInquiryLength = 255;  // the CDB's one-byte allocation length

// INQUIRY of `length` bytes (at most 255). Fails at once, sending nothing, for the invalid
// handle; otherwise copies the reply to dest (when not null), zeros after a failed call, and
// prints nothing. A length above 255 is not sent: dest gets that many zeros.
CommandResult scsi_inquiry(DriveLink& link, std::uint8_t* dest, std::uint32_t length);

// READ CAPACITY(10) into dest (8 bytes, written only when the command is done): the last LBA in
// bytes 0-3 and the block length in bytes 4-7, both big-endian.
CommandResult scsi_read_capacity10(DriveLink& link, std::uint8_t* dest);

// READ CAPACITY(16) into dest (32 bytes, written when the command is done and dest is not null).
CommandResult scsi_read_capacity16(DriveLink& link, std::uint8_t* dest);

// Vendor reads, 12-byte (16-bit code) and 16-byte (32-bit code) CDB forms, `length` bytes into
// buffer; after a failure buffer is not written.
CommandResult vendor_command12(DriveLink& link, std::uint8_t* buffer, std::uint16_t code,
                               std::uint32_t length);
CommandResult vendor_command16(DriveLink& link, std::uint8_t* buffer, std::uint32_t code,
                               std::uint32_t length);

// An NVMe admin command through the bridge's tunnel of the given form, `length` bytes into
// buffer. A failed call of any step prints "IOCtl: ASM Id/Smart failed 0x%x!" and leaves buffer
// untouched; a length the form's CDB cannot state is not sent. Of a framed form, a step the
// bridge ends with CHECK CONDITION ends the command so, and a completion block without the
// signature or with a non-zero NVMe status is a failed read too: a line of its own on link.err,
// and the command counts as ended with CHECK CONDITION, buffer all zeros.
CommandResult nvme_tunnel(DriveLink& link, std::uint8_t* buffer, std::uint32_t length,
                          const NvmeCommandBlock& block, BridgeForm form = BridgeForm::e6);

// NVMe Identify Controller through the bridge's tunnel of the given form (4096 bytes). The
// identify counts only when the request is done and at least one returned byte is not zero;
// buffer is written when the request is done.
struct IdentifyResult {
    CommandResult request;
    bool identified = false;
};
IdentifyResult nvme_identify(DriveLink& link, std::uint8_t* buffer,
                             BridgeForm form = BridgeForm::e6);

// NVMe SMART / Health log through the bridge's tunnel of the given form (512 bytes).
CommandResult nvme_smart_log(DriveLink& link, std::uint8_t* buffer,
                             BridgeForm form = BridgeForm::e6);

}  // namespace torvik
