#include "tests/support/checked_drive.h"

#include <cstdio>
#include <string>

namespace torvik::testing {

::testing::AssertionResult only_reads(const std::vector<SimRequest>& requests) {
    for (std::size_t i = 0; i < requests.size(); ++i) {
        const SimRequest& request = requests[i];
        if (!is_read_request(request)) {
            const std::uint8_t opcode = request.cdb_length != 0 ? request.cdb[0] : 0;
            char what[128];
            std::snprintf(what, sizeof what,
                          "request %zu: opcode 0x%02x, CDB length %u, %s, %u bytes", i, opcode,
                          static_cast<unsigned>(request.cdb_length),
                          request.data_in ? "data in" : "not data in",
                          static_cast<unsigned>(request.transfer_length));
            return ::testing::AssertionFailure() << "the drive received a request that does not "
                                                    "read: "
                                                 << what;
        }
    }
    return ::testing::AssertionSuccess();
}

CheckedSimDrive::~CheckedSimDrive() {
    EXPECT_TRUE(only_reads(requests()));
}

void CheckedSimDrive::clear_requests() {
    EXPECT_TRUE(only_reads(requests()));
    checked_ += requests().size();
    SimDrive::clear_requests();
}

}  // namespace torvik::testing
