// The drive model of one run: what each command did and every page it brought, decoded into
// typed fields, with the health verdict judged from them once. The run fills it step by step, so
// each output section can be written as soon as its pages are in; every output is drawn from it.
// The raw replies stay in it for the dumps and the run's manifest.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "flashid/flash_id.h"
#include "model/controller_pages.h"
#include "model/drive_identity.h"
#include "model/flash_figures.h"
#include "model/health_verdict.h"
#include "model/nvme_pages.h"
#include "model/scsi_pages.h"
#include "model/wear_trend.h"
#include "platform/output_file.h"
#include "scsi/commands.h"
#include "scsi/run_manifest.h"
#include "transport/request.h"

namespace torvik {

// One command as the run saw it.
struct RecordedCommand {
    bool sent = false;
    bool failed = false;              // the run counted it failed
    CommandResult result;             // what the transport said of it
    std::vector<std::uint8_t> reply;  // its reply area after the command, the dump's length
};

struct FailedCommand {
    CommandId command;
    std::uint32_t error;  // the system's last error code
};

struct FileRecord {
    std::string name;
    FileOutcome outcome;
    std::uint32_t error;  // the system's error code when the file is not written
};

// A flash ID and what the decoder read from it.
struct FlashReading {
    FlashIdBytes bytes{};
    FlashFields fields;
};

FlashReading read_flash(const FlashIdBytes& bytes);

// "written", "not_created" or "write_failed".
const char* file_outcome_name(FileOutcome outcome);

struct DriveModel {
    std::array<RecordedCommand, kCommandCount> commands{};  // by CommandId
    std::vector<FailedCommand> failures;                    // in the order they happened
    std::vector<FileRecord> files;                          // in the order they were written

    // Each page decoded from its reply area, also when the read failed (the text outputs show the
    // zeros it left); page(id) tells which pages count.
    InquiryIdentity identity;
    std::uint64_t size_last_lba = 0;        // what the size line reads, known or not
    std::optional<std::uint64_t> last_lba;  // absent when the capacity commands did not give it
    std::uint16_t controller_id = 0;
    bool controller_supported = false;  // the run went on to the controller pages
    FlashReading flash_id;              // the fid page's
    std::array<FlashReading, kFlashBanks> banks{};
    FlashGeometry geometry;
    StatusCounters status;
    AttributeSlots attribute_slots{};
    SlcCache slc_cache;
    NvmeSmartHealth smart_controller;  // the controller's copy of the NVMe log
    ExtendedSmart extended_smart;
    NvmeIdentity nvme_identity;
    NvmeSmartHealth smart_bridge;  // the NVMe log read through the bridge
    // The flash the banks hold against the capacity offered, once the last page is in; absent
    // when the bank page was not sent (a controller the report does not cover).
    std::optional<FlashFigures> flash;
    HealthAssessment health;  // judged once, when the last page is in
    // Who the drive is (identify_drive), kept up to date as the identity pages come in.
    DriveKey drive_identity;
    // The USB bridge and the tunnel form of the run's NVMe reads (none: no tunnel).
    BridgeChoice bridge;
    // Why the bridge's NVMe log is missing, for a bridge of no NVMe tunnel of its own (a SATA
    // bridge, or one the bridge table does not list) that the run wanted the pages of; empty
    // otherwise. The verdict's first line, and a line on standard error.
    std::string bridge_note;
    // When the run took place, in seconds since 1970 UTC; none when not known (a replay of a
    // folder recorded without it).
    std::optional<std::int64_t> run_time;
    // How the drive wears, from its history file and this run (--history); absent without one.
    std::optional<WearTrend> trend;

    // A command was sent; area holds its reply (command_info(id).length bytes), which is kept
    // and decoded.
    void sent(CommandId id, const std::uint8_t* area, const CommandResult& result);
    void failed(CommandId id, std::uint32_t error);
    void file(const char* name, const FileResult& result);

    // The reply of a command that was sent and succeeded, in full; nullptr otherwise.
    const std::uint8_t* page(CommandId id) const;
    bool has(CommandId id) const { return page(id) != nullptr; }

    // What replay needs to answer every command as this run saw it: each command's outcome, and
    // the length and checksum of each dump that was written in full.
    RunManifest manifest() const;
};

// The pages of the model that the verdict may read: those sent and answered in full.
HealthPages health_pages(const DriveModel& model);

// The NVMe drive's own texts, when the Identify page was read and holds any; nullptr otherwise,
// and the outputs then name no NVMe drive.
const NvmeIdentity* nvme_identity_texts(const DriveModel& model);

// The NVMe SMART / Health log the verdict was judged from (read through the bridge, or the
// controller's copy); nullptr when it was judged from another page or from none.
const NvmeSmartHealth* judged_smart_log(const DriveModel& model);

}  // namespace torvik
