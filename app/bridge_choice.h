// Which tunnel a run's NVMe reads use, and where they go: the form the bridge table gives the
// bridge's USB ID (0xE6 for a bridge it does not list, none for a SATA bridge), the one a replayed
// folder recorded, or the one --bridge names for exactly that bridge.
#pragma once

#include <cstdint>
#include <string>

#include "model/drive_reader.h"
#include "scsi/bridge_table.h"

namespace torvik {

struct RunContext;

// Whether --bridge may apply to drive `drive`; empty when it may (or was not given), else why
// not, already said on ctx.err. It applies only to the bridge of the ID it names; it may not
// change the form the bridge table gives a listed bridge; for a bridge the table does not list
// the user types "yes" at a terminal (ctx.in) after a question on ctx.err that names the risk,
// and without one (a script, --json=-) it is refused.
std::string check_forced_bridge(const RunContext& ctx, std::int32_t drive);

// The bridge of drive `drive` and the form of the run's NVMe reads.
BridgeChoice run_bridge(const RunContext& ctx, std::int32_t drive);

// Where the run sends the NVMe reads through `bridge`: a replay exactly where the recorded run
// did, any other run as nvme_read_plan says for the outputs it asks for.
NvmeReadPlan run_nvme_reads(const RunContext& ctx, const BridgeChoice& bridge);

}  // namespace torvik
