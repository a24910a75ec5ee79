// What a USB mass-storage device answers to one SCSI command: the interface between the
// Bulk-Only Transport loop and whatever model of a drive stands behind it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "sim/sim_drive.h"

namespace torvik::usbdev {

// One command as the host wrapped it in a Command Block Wrapper.
struct ScsiCommand {
    std::array<std::uint8_t, 16> cdb{};
    std::uint8_t cdb_length = 0;
    bool data_in = true;                // the host expects data from the device
    std::uint32_t transfer_length = 0;  // dCBWDataTransferLength
    std::uint8_t lun = 0;
};

inline constexpr std::size_t kSenseSize = 18;
using Sense = std::array<std::uint8_t, kSenseSize>;

struct ScsiReply {
    enum class Kind {
        good,             // CSW status 0
        check_condition,  // CSW status 1; the sense waits for the host's REQUEST SENSE
        no_reply,         // the device sends neither data nor a CSW: the host has to time out
    };
    Kind kind = Kind::good;
    std::uint32_t data_length = 0;  // data-in bytes placed at the start of the data buffer
    Sense sense{};
};

class Responder {
  public:
    virtual ~Responder() = default;

    // Answers one command. `data` holds `capacity` bytes, all zero on entry: a data-in reply goes
    // there; for a data-out command it holds what the host sent.
    virtual ScsiReply answer(const ScsiCommand& command, std::uint8_t* data,
                             std::size_t capacity) = 0;
};

// Fixed-format sense data (response code 0x70) with the key, code and qualifier.
Sense make_sense(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq);

// ILLEGAL REQUEST, INVALID COMMAND OPERATION CODE and INVALID FIELD IN CDB are the simulated
// drive's (sim/sim_drive.h).
inline constexpr std::uint8_t kSenseDataProtect = 0x07;
inline constexpr std::uint8_t kAscLbaOutOfRange = 0x21;
inline constexpr std::uint8_t kAscLunNotSupported = 0x25;
inline constexpr std::uint8_t kAscWriteProtected = 0x27;

// A CHECK CONDITION reply with that sense and no data.
ScsiReply check_condition(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq = 0);

}  // namespace torvik::usbdev
