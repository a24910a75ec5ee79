#include "app/metrics_file.h"

#include <filesystem>
#include <memory>

#include "app/program_message.h"
#include "app/program_version.h"
#include "app/run_start.h"
#include "common/printable_text.h"
#include "platform/host_platform.h"
#include "platform/output_file.h"

namespace torvik {

namespace {

void say_not_written(std::FILE* err, const std::string& file, const std::string& why) {
    print_message(err, "cannot write --metrics %s: %s\n", printable_text(file.c_str()).c_str(),
                  printable_text(why.c_str()).c_str());
}

}  // namespace

bool write_metrics_file(const RunContext& ctx, std::span<const MetricsDrive> drives,
                        MetricsRun run) {
    const std::string& file = ctx.metrics_file;
    std::string error;
    const std::unique_ptr<FileStore> files = open_file_folder(file, *ctx.open_folder, error);
    if (files == nullptr) {
        say_not_written(ctx.err, file, error);
        return false;
    }
    const std::filesystem::path path(file);
    const std::string name = path.filename().string();
    // Held while the file is written (the collector never takes it), so the temporaries a killed
    // run left beside FILE can be told from a live run's and removed.
    const FolderLock lock(*files, kFolderLockWaitMs);
    if (!lock.held()) {
        say_not_written(ctx.err, file, "another run is still writing metrics into its folder");
        return false;
    }
    files->remove_leftover_temps({name.c_str()}, option_files_in(ctx, path.parent_path().string()));
    // Checked before the drive was touched; looked at again here, as the name is replaced.
    if (const char* what = not_a_regular_file(path)) {
        say_not_written(ctx.err, file, what);
        return false;
    }
    // LF line ends on every platform: the collectors' parser takes no CR.
    OutputFile out(*files, name.c_str(), FileKind::binary);
    run.version = kProgramVersion;
    run.platform = host_platform_name();
    const std::string text = metrics_text(drives, run);
    out.write(text.data(), text.size());
    const FileResult result = out.commit();
    if (result.outcome != FileOutcome::written) {
        say_not_written(ctx.err, file, files->error_text(result.error));
        return false;
    }
    files->sync_folder();
    return true;
}

}  // namespace torvik
