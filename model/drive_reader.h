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

// Where a run sends the two NVMe reads through the bridge, and whether an output asks for their
// pages.
struct NvmeReadPlan {
    bool past_gate = true;     // behind a controller the report covers, as the fixed sequence
    bool beyond_gate = false;  // behind any other controller too
    bool pages_asked = false;  // an output the run asks for shows them
};

// The plan for a run through `bridge`. Past the controller gate every bridge with a form is sent
// the reads in that form: a bridge the table does not list gets 0xE6, the fixed sequence's own.
// Beyond the gate only a bridge whose form is its own (the table's, or --bridge's) is, and only
// when pages_asked. A SATA bridge is sent none.
NvmeReadPlan nvme_read_plan(const BridgeChoice& bridge, bool pages_asked);

// Why the bridge's NVMe log is missing, for a bridge of no NVMe form of its own; sent: the reads
// went out. Empty for a bridge that speaks its form (its failures have lines of their own).
// "USB bridge 152d:0578 is a SATA bridge: it has no NVMe health to read",
// "NVMe health not read: USB bridge f0e1:0d0c is not in the bridge table and did not answer the
// 0xE6 tunnel (see --bridge)".
std::string bridge_note(const BridgeChoice& bridge, bool sent);

// Sends every query, fills model, and at the end draws its flash figures and judges the health
// verdict from it. The six controller pages are sent only for a supported controller; the
// bridge reads follow the last command as the plan says, through the tunnel of model.bridge's
// form, and when the run wanted them but the bridge's log is missing for want of a form of its
// own, model.bridge_note says why.
void read_drive(DriveLink& link, DriveModel& model, const ReadHooks& hooks,
                const NvmeReadPlan& plan = {});

}  // namespace torvik
