// The read-only guarantee, checked in one place: every scenario that puts the tool in front of a
// simulated drive uses a CheckedSimDrive, and every request that drive records is checked once.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <vector>

#include "sim/sim_drive.h"
#include "tests/support/read_only_rule.h"

namespace torvik::testing {

// Success when every request passes is_read_request; otherwise a message naming the first that
// does not.
::testing::AssertionResult only_reads(const std::vector<SimRequest>& requests);

// A simulated drive that checks its request log against the guarantee whenever the log is
// cleared and when the drive goes away, so no request escapes the check.
class CheckedSimDrive : public SimDrive {
  public:
    CheckedSimDrive() = default;
    ~CheckedSimDrive();
    CheckedSimDrive(const CheckedSimDrive&) = delete;
    CheckedSimDrive& operator=(const CheckedSimDrive&) = delete;

    // Checks the requests recorded so far, then forgets them.
    void clear_requests();

    // How many requests have been checked; a scenario that sent nothing proves nothing.
    std::size_t checked() const { return checked_ + requests().size(); }

  private:
    std::size_t checked_ = 0;
};

}  // namespace torvik::testing
