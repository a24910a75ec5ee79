// The one reader of a SCSI_PASS_THROUGH request buffer, for the platforms that answer
// IOCTL_SCSI_PASS_THROUGH themselves (Linux through SG_IO, the simulated drive).
//
// The record is checked against the two buffer sizes before anything is read or written through
// it: a record whose spans fall outside the buffers, overlap the record or each other, or whose
// fields make no sense is refused as an invalid parameter, never followed.
#pragma once

#include <array>
#include <cstdint>
#include <functional>

#include "platform/pass_through_record.h"

namespace torvik {

enum class PassThroughDirection { out, in, unspecified };

// What a request asks for, with its spans as offsets into the request buffer.
struct PassThroughView {
    std::array<std::uint8_t, kSptCdbSize> cdb{};
    std::uint8_t cdb_length = 0;
    PassThroughDirection direction = PassThroughDirection::unspecified;
    std::uint32_t transfer_length = 0;
    std::uint32_t timeout_seconds = 0;
    std::uint32_t data_offset = 0;  // meaningful when transfer_length is not 0
    std::uint32_t sense_offset = 0;
    std::uint8_t sense_length = 0;
};

// The only operation codes a request may carry: INQUIRY, READ CAPACITY (10) and (16), the
// controller's vendor reads and the bridge's NVMe tunnel. Every one of them reads.
inline constexpr std::uint8_t kReadOnlyOpcodes[] = {0x12, 0x25, 0x9E, 0x06, 0xE6};

constexpr bool is_read_only_opcode(std::uint8_t opcode) {
    for (const std::uint8_t allowed : kReadOnlyOpcodes) {
        if (opcode == allowed)
            return true;
    }
    return false;
}

// The largest buffer a request may name; anything larger is refused rather than copied.
inline constexpr std::uint32_t kMaxPassThroughBuffer = 16u << 20;

// Reads the record at the start of buffer (in_size bytes readable, out_size bytes that the answer
// may fill). False when the record is malformed; view is then unspecified.
bool decode_pass_through(const std::uint8_t* buffer, std::uint32_t in_size, std::uint32_t out_size,
                         PassThroughView& view,
                         const PassThroughLayout& layout = kPassThroughLayout);

// The read-only rule, which every platform applies before a request reaches the OS or the drive:
// only a data-in request whose CDB begins with one of kReadOnlyOpcodes is carried out.
bool is_read_request(const PassThroughView& view);

// The error codes a platform reports for a request it does not carry out.
struct PassThroughRefusals {
    std::uint32_t invalid_parameter;  // the record is malformed
    std::uint32_t access_denied;      // the request breaks the read-only rule
};

// 0 when the request in `in` may be sent; otherwise the code it is refused with.
std::uint32_t check_pass_through(const void* in, std::uint32_t in_size, std::uint32_t out_size,
                                 const PassThroughRefusals& refusals,
                                 const PassThroughLayout& layout = kPassThroughLayout);

// How the device answered one decoded request.
struct PassThroughResult {
    bool completed = false;  // false: the platform call fails with error
    std::uint32_t error = 0;
    std::uint8_t scsi_status = 0;  // SCSI status byte of a completed command
    std::uint32_t data_transferred = 0;
    std::uint32_t sense_written = 0;
};

// Runs one decoded request. data and sense point into the request buffer (nullptr for an empty
// span); data holds the caller's bytes for data out, and receives the reply for data in.
using PassThroughExecutor = std::function<PassThroughResult(
    const PassThroughView& view, std::uint8_t* data, std::uint8_t* sense)>;

struct PassThroughCall {
    bool ok = false;
    std::uint32_t error = 0;     // the last error to report when the call fails
    std::uint32_t returned = 0;  // bytes handed back to out
};

// Answers IOCTL_SCSI_PASS_THROUGH the way the OS's buffered I/O control does: the request is
// copied into a private buffer, decoded, run, the record is updated (ScsiStatus,
// DataTransferLength, SenseInfoLength), and the answered part of the buffer is copied back to out.
// A malformed record, or one that breaks the read-only rule, fails with the refusal's code without
// running anything; a failed run leaves out untouched. in and out may name the same buffer.
PassThroughCall answer_pass_through(const void* in, std::uint32_t in_size, void* out,
                                    std::uint32_t out_size, const PassThroughRefusals& refusals,
                                    const PassThroughExecutor& execute,
                                    const PassThroughLayout& layout = kPassThroughLayout);

}  // namespace torvik
