// What one run of the tool is asked to do and where it writes: the options as the command line
// gave them, the platform and the streams, shared by every part of the run and never changed once
// it starts; and what an --all pass keeps from one drive to the next.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/output_set.h"
#include "model/key_figures.h"
#include "platform/file_store.h"
#include "platform/platform.h"
#include "scsi/bridge_table.h"

namespace torvik {

// How long a run waits for another run that writes into the same folder (or appends to the same
// history file): a run on a real drive takes about a second.
inline constexpr int kFolderLockWaitMs = 10000;

// Opens the output store of the folder a run writes into: dir as --output-dir gives it, empty for
// the current folder. nullptr, with the reason in error, when it cannot be used.
using OutputFolderOpener =
    std::function<std::unique_ptr<FileStore>(const std::string& dir, std::string& error)>;

struct RunContext {
    Platform& platform;
    FileStore& files;  // the output folder
    std::FILE* out;    // console output
    std::FILE* in;     // where the drive prompt reads its answer
    // The outputs the options ask for (app/outputs.h): --json, --html, --health, --all, ...
    OutputSet asked{};
    // How drive 0 is simulated, for the JSON report: "sim" or "replay" and the profile name or
    // directory; empty for a real drive.
    std::string simulation{};
    std::string simulation_source{};
    // Where the explanations of a failure and of an output file that could not be written go
    // (standard error); nullptr: nowhere.
    std::FILE* err = stderr;
    // The drive --device named; the drive argument then holds option letters only.
    std::optional<std::int32_t> named_drive{};
    // --output-dir as given, for the line that names the files asked for and where the closing
    // prompt opens the report; empty: none.
    std::string output_dir{};
    int lock_wait_ms = kFolderLockWaitMs;
    // The verdict word of the --health block in colour (a terminal that shows it).
    bool colour = false;
    // --json=-: the JSON document also goes here (standard output), and out is standard error.
    // A run of one drive writes that drive's document; --all, one document for the pass.
    std::FILE* json_out = nullptr;
    // --metrics: the metrics file (relative to the current folder), written through a store
    // open_folder opens on its folder.
    std::string metrics_file{};
    const OutputFolderOpener* open_folder = nullptr;
    // Several simulated drives (--sim=hot,default): the profile each drive number answers as, for
    // the JSON report in the place of simulation_source; empty for the system disk.
    std::vector<std::string> simulation_sources{};
    // --history FILE as given (relative to the current folder).
    std::string history{};
    // --brief: where the verdict block (and --all's summary) goes, standard output, while out
    // discards the run's lines; nullptr: out.
    std::FILE* verdict_out = nullptr;
    // --bridge: the form for the bridge of that USB ID (app/bridge_choice.h).
    std::optional<BridgeChoice> forced_bridge{};
    // A replayed drive's bridge as the folder recorded it: its reads use that form, and are sent
    // where the recorded run sent them.
    std::optional<RecordedBridge> recorded_bridge{};
};

// Where the verdict block goes: out, unless --brief sends it elsewhere.
inline std::FILE* verdict_stream(const RunContext& ctx) {
    return ctx.verdict_out != nullptr ? ctx.verdict_out : ctx.out;
}

struct PassIdentity {
    DriveKey key;
    std::int32_t drive = 0;
};

// What an --all pass keeps from one drive to the next.
struct PassState {
    // The identities of the drives examined so far: a drive whose identity is there already has
    // its history read but not appended.
    std::vector<PassIdentity> identities;
    std::int32_t drive = 0;  // the number of the drive being examined
    // The drives' folder names given so far, so that two drives of the pass never share one.
    std::vector<std::string> folders;
    // Another run held a drive's folder: the metrics of the pass are left to that run, which has
    // the drive's figures.
    bool met_another_run = false;
};

}  // namespace torvik
