// One command of the transport as a pass-through request: its CDB, data in, the sense it asks for
// and the time-out every command has; and what the command did.
#pragma once

#include <cstdint>

#include "scsi/cdb.h"
#include "transport/drive_link.h"

namespace torvik {

inline constexpr std::uint32_t kRequestTimeoutSeconds = 2;
// The largest transfer a command with a length limit may ask for.
inline constexpr std::uint32_t kMaxTransfer = 65536;
// The sense bytes INQUIRY, the capacity commands and the bridge tunnel ask for (never read).
inline constexpr std::uint8_t kRequestSenseLength = 24;

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

// What differs from one command to the next. Every request reads from the drive: there is no
// other direction.
struct RequestParams {
    Cdb cdb;
    std::uint8_t sense_length = 0;  // kRequestSenseLength, or 0 when no sense data is asked for
    std::uint32_t transfer_length = 0;
};

// Sends one request on the disk. When the drive carried the command out, data (transfer_length
// bytes; may be null) receives the bytes that came and zeros behind them; after a failed call it
// is not written.
CommandResult send_request(DriveLink& link, const RequestParams& params, std::uint8_t* data);

// Sends one request that carries params.transfer_length bytes of data to the bridge. Only the
// 0xA1 tunnel's command block is ever sent this way; every platform refuses anything else.
CommandResult send_data_out(DriveLink& link, const RequestParams& params, const std::uint8_t* data);

}  // namespace torvik
