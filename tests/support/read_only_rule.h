// The read-only rule: the only requests the tool may ever send to a drive. Used by the tests'
// checked drive and by the fuzz targets (no test framework here).
#pragma once

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "sim/sim_drive.h"

namespace torvik::testing {

// INQUIRY, READ CAPACITY (10) and (16), the controller's vendor reads and the bridge's NVMe tunnel.
inline constexpr std::uint8_t kReadOnlyOpcodes[] = {0x12, 0x25, 0x9E, 0x06, 0xE6};

// A data-in request whose operation code is one of kReadOnlyOpcodes.
inline bool is_read_request(const SimRequest& request) {
    return request.cdb_length != 0 && request.data_in &&
           std::find(std::begin(kReadOnlyOpcodes), std::end(kReadOnlyOpcodes), request.cdb[0]) !=
               std::end(kReadOnlyOpcodes);
}

}  // namespace torvik::testing
