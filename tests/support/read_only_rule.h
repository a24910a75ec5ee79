// The read-only rule: the only requests the tool may ever send to a drive. Used by the tests'
// checked drive and by the fuzz targets (no test framework here).
#pragma once

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "sim/sim_drive.h"

namespace torvik::testing {

// INQUIRY, READ CAPACITY (10) and (16), the controller's vendor reads and the bridges' NVMe
// tunnels of the 0xE6 and 0xE4 forms.
inline constexpr std::uint8_t kReadOnlyOpcodes[] = {0x12, 0x25, 0x9E, 0x06, 0xE6, 0xE4};

// The 0xA1 form's three phases of one NVMe read: the 512-byte command block out (every platform
// checks its contents before it is sent: only Identify and Get Log Page get through), then the
// page and the completion in.
inline constexpr std::uint8_t kTunnelA1 = 0xA1;
inline constexpr std::uint8_t kA1CommandBlock = 0x80;
inline constexpr std::uint8_t kA1DataIn = 0x82;
inline constexpr std::uint8_t kA1Completion = 0x8F;

// A data-in request whose operation code is one of kReadOnlyOpcodes, or a phase of the 0xA1
// tunnel.
inline bool is_read_request(const SimRequest& request) {
    if (request.cdb_length == 0)
        return false;
    if (request.cdb[0] == kTunnelA1) {
        return request.data_in
                   ? request.cdb[1] == kA1DataIn || request.cdb[1] == kA1Completion
                   : request.cdb[1] == kA1CommandBlock && request.transfer_length == 512;
    }
    return request.data_in && std::find(std::begin(kReadOnlyOpcodes), std::end(kReadOnlyOpcodes),
                                        request.cdb[0]) != std::end(kReadOnlyOpcodes);
}

}  // namespace torvik::testing
