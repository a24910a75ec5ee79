// The pass-through request buffer: the record, the sense area and the data area in one block,
// cleared and filled for one command, sent as both input and output of the I/O control.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/pass_through_record.h"
#include "scsi/cdb.h"
#include "transport/drive_link.h"

namespace torvik {

inline constexpr std::uint32_t kRequestTimeoutSeconds = 2;
// The largest transfer a command with a length limit may ask for.
inline constexpr std::uint32_t kMaxTransfer = 65536;

constexpr bool every_command_fits_a_request() {
    for (const CommandInfo& info : kCommands) {
        if (info.length > kMaxTransfer)
            return false;
    }
    return true;
}
static_assert(every_command_fits_a_request());

// What one command did.
struct CommandResult {
    using Outcome = CommandOutcome;
    Outcome outcome = Outcome::failed;
    std::uint32_t received = 0;  // data bytes the drive sent (0 for a failed command)
    // The platform's last error code once the command is done: the code of this command's
    // failed call; after a refusal or a success, the code the last failed call left behind (the
    // report prints it where a request that succeeded fails the step's test all the same).
    std::uint32_t error = 0;

    // A CHECK CONDITION is not a failed call: the command counts as done.
    bool ok() const { return outcome != Outcome::failed; }
};

// What differs from one command to the next; every other record field is fixed. Every request
// reads from the drive: there is no other direction.
struct RequestParams {
    Cdb cdb;
    std::uint8_t sense_length = 0;  // kSenseAreaSize, or 0 when no sense data is asked for
    bool inquiry = false;           // data area kInquiryGap later, and only the record goes in
    std::uint32_t transfer_length = 0;
};

// Where the data area starts, the two sizes handed to the I/O control, and the buffer behind
// them: exactly as large as the larger of the two, since the OS reads and writes nothing past
// them, so a request clears only what its command can carry.
struct RequestSizes {
    std::uint32_t data_offset = 0;
    std::uint32_t in_size = 0;
    std::uint32_t out_size = 0;
    std::uint32_t buffer_size = 0;
};

RequestSizes request_sizes(const RequestParams& params,
                           const PassThroughLayout& layout = kPassThroughLayout);

class Request {
  public:
    // Allocates the buffer cleared to zero and fills the record.
    explicit Request(const RequestParams& params,
                     const PassThroughLayout& layout = kPassThroughLayout);

    // One DeviceIoControl(IOCTL_SCSI_PASS_THROUGH) on the disk. After a successful call the
    // record tells the SCSI status and how many data bytes came.
    CommandResult send(DriveLink& link);

    std::uint8_t* data() { return buffer_.data() + sizes_.data_offset; }
    const std::vector<std::uint8_t>& bytes() const { return buffer_; }
    const RequestSizes& sizes() const { return sizes_; }

  private:
    RequestSizes sizes_;
    std::uint32_t transfer_length_;
    std::vector<std::uint8_t> buffer_;
};

}  // namespace torvik
