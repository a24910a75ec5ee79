// The run's queries to the drive, in their fixed order, each page decoded into the drive model as
// it comes in. The caller's hooks write what belongs to each step (the failure line and the dump
// of a command, the output lines of a group of pages) as soon as it is in, so outputs appear as the
// run goes, interleaved with the transport's own failure lines.
#pragma once

#include <functional>
#include <string>

#include "model/drive_model.h"
#include "scsi/commands.h"
#include "transport/drive_link.h"

namespace torvik {

// The groups of pages after which the outputs have something to show.
enum class ReadStage {
    identity,          // INQUIRY and the capacity
    controller,        // the fid and info pages: the controller and whether it is supported
    banks,             // the fidall page
    controller_pages,  // the last of the six controller pages
};

struct ReadHooks {
    // After each command; dump: its reply area is to be kept as a dump file.
    std::function<void(CommandId id, bool dump)> command_done;
    std::function<void(ReadStage stage)> stage_done;
};

// Sends every query, fills model, and at the end draws its flash figures and judges the health
// verdict from it. The six controller pages and the bridge reads are sent only for a supported
// controller, through the 0xE6 tunnel; with any_controller_bridge_reads, the bridge reads follow
// the last command for any controller, since the bridge answers them whatever NVMe drive sits
// behind it, and go through the tunnel of model.bridge's form; a bridge of no known form is sent
// none of them, and the verdict says why.
// "NVMe health not read: USB bridge 1234:5678 is not a known NVMe bridge (see --bridge)".
std::string unknown_bridge_note(const BridgeChoice& bridge);

void read_drive(DriveLink& link, DriveModel& model, const ReadHooks& hooks,
                bool any_controller_bridge_reads = false);

}  // namespace torvik
