// Which tunnel a run's added NVMe reads use: the one the bridge table gives the bridge's USB ID,
// the one a replayed folder recorded, or the one --bridge names for exactly that bridge.
#pragma once

#include <cstdint>
#include <string>

#include "scsi/bridge_table.h"

namespace torvik {

struct RunContext;

// Whether --bridge may apply to drive `drive`; empty when it may (or was not given), else why
// not, already said on ctx.err. It applies only to the bridge of the ID it names; it may not
// change the form the bridge table gives a listed bridge; for a bridge the table does not list
// the user types "yes" at a terminal (ctx.in), and without one (a script, --json=-) it is refused.
std::string check_forced_bridge(const RunContext& ctx, std::int32_t drive);

// The bridge of drive `drive` and the form the run's added NVMe reads use.
BridgeChoice run_bridge(const RunContext& ctx, std::int32_t drive);

}  // namespace torvik
