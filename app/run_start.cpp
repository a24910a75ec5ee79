#include "app/run_start.h"

#include <cinttypes>
#include <cstdlib>
#include <string>
#include <system_error>
#include <vector>

#include "app/all_drives.h"
#include "app/exit_status.h"
#include "app/outputs.h"
#include "app/program_message.h"
#include "common/printable_text.h"
#include "common/utc_time.h"
#include "platform/host_platform.h"
#include "platform/temp_file_table.h"

namespace torvik {

namespace fs = std::filesystem;

namespace {

// One output path the run writes outside its output folder, as the messages name it.
struct NamedPath {
    const char* option;  // "--metrics", "--history"
    fs::path path;
    fs::path resolved;
    // The longest file name it may have: --metrics is written under a temporary of its name.
    std::size_t longest_name = kLongestFileName;
    std::string shown() const {
        return std::string(option) + " " + printable_text(path.string().c_str());
    }
};

// path made absolute, its folders' links followed and "." and ".." taken out, as far as it exists;
// the path as given when even that fails.
fs::path resolved(const fs::path& path) {
    std::error_code ec;
    const fs::path absolute = fs::absolute(path, ec);
    if (ec)
        return path.lexically_normal();
    fs::path canonical = fs::weakly_canonical(absolute, ec);
    return ec ? absolute.lexically_normal() : canonical;
}

// Whether target names the same file as name inside folder (resolved): the same resolved path, or
// the same device and inode when both exist.
bool names_same_file(const NamedPath& target, const fs::path& folder, const fs::path& name) {
    const fs::path other = folder / name;
    if (target.resolved == other)
        return true;
    std::error_code ec;
    return fs::equivalent(target.path, other, ec) && !ec;
}

bool refuse(std::FILE* err, const NamedPath& target, const std::string& why) {
    print_message(err, "%s: %s\n", target.shown().c_str(), printable_text(why.c_str()).c_str());
    return false;
}

// Why a path (resolved) on one of the kernel's pseudo file systems is refused; empty for one on an
// ordinary file system. A path that is not there yet is judged by the folder it would be made in.
[[gnu::cold]] std::string on_pseudo_file_system(const fs::path& path) {
    std::error_code ec;
    fs::path probe = path;
    while (!fs::exists(probe, ec) && probe.has_relative_path())
        probe = probe.parent_path();
    if (const char* system = pseudo_file_system(probe.string().c_str()))
        return std::string("it is on the kernel's ") + system +
               " file system, whose files are the kernel's, not data";
    return {};
}

// The output folder, unless it is on one of the kernel's pseudo file systems: said on err. The
// current folder is asked as it is, without the path library, which the default run never needs.
bool check_output_folder(const CommandLine& cl, std::FILE* err) {
    if (cl.output_dir.empty() && pseudo_file_system(".") == nullptr)
        return true;
    const std::string why = on_pseudo_file_system(
        resolved(cl.output_dir.empty() ? fs::path(".") : fs::path(cl.output_dir)));
    if (why.empty())
        return true;
    const std::string shown = cl.output_dir.empty()
                                  ? "the current folder"
                                  : "--output-dir " + printable_text(cl.output_dir.c_str());
    print_message(err, "%s: %s\n", shown.c_str(), why.c_str());
    return false;
}

// Nothing but a regular file or nothing under the name, on an ordinary file system, with a name
// that fits.
bool check_kind(std::FILE* err, const NamedPath& target) {
    if (const char* what = not_a_regular_file(target.path))
        return refuse(err, target, what);
    if (const std::string why = on_pseudo_file_system(target.resolved); !why.empty())
        return refuse(err, target, why);
    if (target.resolved.filename().string().size() > target.longest_name)
        return refuse(err, target,
                      "its name is longer than " + std::to_string(target.longest_name) + " bytes" +
                          (target.longest_name < kLongestFileName
                               ? ", too long for the temporary it is written under first"
                               : "") +
                          "; name a shorter one");
    return true;
}

// Whether folder is path or lies inside it: a folder the run makes there would take its place.
bool on_the_way(const fs::path& path, fs::path folder) {
    for (;; folder = folder.parent_path()) {
        if (folder == path)
            return true;
        if (!folder.has_relative_path())
            return false;
    }
}

// Not a file the run writes into its output folder (or into a drive's folder there, with --all),
// nor a file of the replayed folder.
bool check_not_run_file(std::FILE* err, const NamedPath& target, const CommandLine& cl) {
    const std::vector<const char*> names = run_file_names();
    const fs::path output =
        resolved(cl.output_dir.empty() ? fs::path(".") : fs::path(cl.output_dir));
    const fs::path replay = cl.replay ? resolved(cl.replay_dir) : fs::path();
    const std::string own_name = target.resolved.filename().string();
    const fs::path parent = target.resolved.parent_path();
    const bool in_drive_folder = cl.asks(OutputId::all_summary) && parent.parent_path() == output &&
                                 names_drive_folder(parent.filename().string());
    for (const char* name : names) {
        if (names_same_file(target, output, name))
            return refuse(err, target,
                          std::string("it is the run's own ") + name +
                              " in its output folder; name another file");
        if (in_drive_folder && own_name == name)
            return refuse(err, target,
                          std::string("it is the run's own ") + name +
                              " in a drive's folder of --all; name another file");
        // A run removes such a file as the temporary a killed run left behind.
        if ((parent == output || in_drive_folder) && is_temp_file_name(own_name, name))
            return refuse(err, target,
                          std::string("it is named as a temporary of the run's own ") + name +
                              ", which a run removes as a killed run's leftover; name another "
                              "file");
        if (cl.replay && names_same_file(target, replay, name))
            return refuse(err, target,
                          std::string("it is ") + name +
                              " of the --replay folder, which the run reads; name another file");
    }
    return true;
}

// Not where a folder the run makes goes: the output folder, or the folder of the other target.
bool check_not_a_folder_to_make(std::FILE* err, const NamedPath& target, const CommandLine& cl,
                                const std::vector<NamedPath>& targets) {
    if (!cl.output_dir.empty() && on_the_way(target.resolved, resolved(cl.output_dir)))
        return refuse(err, target,
                      "the run's output folder " + printable_text(cl.output_dir.c_str()) +
                          " is made there; name another file");
    const fs::path output =
        resolved(cl.output_dir.empty() ? fs::path(".") : fs::path(cl.output_dir));
    if (cl.asks(OutputId::all_summary) && target.resolved.parent_path() == output &&
        names_drive_folder(target.resolved.filename().string()))
        return refuse(err, target,
                      std::string("--all names its drives' folders so (") + kDriveFolderPrefix +
                          "SERIAL) in the output folder, and may make one there; name another "
                          "file");
    for (const NamedPath& other : targets) {
        if (&other != &target && on_the_way(target.resolved, other.resolved.parent_path()))
            return refuse(err, target,
                          "the folder of " + other.shown() + " is made there; name another file");
    }
    return true;
}

// Only a run with --metrics or --history comes here. Cold, so the compiler keeps it apart from
// the default run's code: that run's resident memory is mostly the executable pages it touches.
[[gnu::cold]] bool check_output_targets(const CommandLine& cl, std::FILE* err) {
    std::vector<NamedPath> targets;
    if (cl.asks(OutputId::metrics))
        targets.push_back(
            {"--metrics", cl.metrics_file, resolved(cl.metrics_file), kLongestFinalName});
    if (cl.asks(OutputId::history))
        targets.push_back({"--history", cl.history, resolved(cl.history)});
    for (const NamedPath& target : targets) {
        if (!check_kind(err, target) || !check_not_run_file(err, target, cl) ||
            !check_not_a_folder_to_make(err, target, cl, targets))
            return false;
    }
    if (targets.size() < 2)
        return true;
    const NamedPath& metrics = targets[0];
    const NamedPath& history = targets[1];
    if (names_same_file(metrics, history.resolved.parent_path(), history.resolved.filename())) {
        print_message(err, "%s and %s name the same file; give each its own\n",
                      history.shown().c_str(), metrics.shown().c_str());
        return false;
    }
    // The metrics' folder is cleared of the temporaries a killed run left of its name.
    if (history.resolved.parent_path() == metrics.resolved.parent_path() &&
        is_temp_file_name(history.resolved.filename().string(),
                          metrics.resolved.filename().string()))
        return refuse(err, history,
                      "it is named as a temporary of " + metrics.shown() +
                          ", which a run removes as a killed run's leftover; name another file");
    return true;
}

// The folders of --metrics and --history, made when missing (the metrics' one as --output-dir's
// is: not a link, writable), so that a folder that cannot be had stops the run before the drive.
[[gnu::cold]] bool make_target_folders(const CommandLine& cl, const OutputFolderOpener& open_folder,
                                       std::FILE* err) {
    if (cl.asks(OutputId::metrics)) {
        std::string why;
        if (open_file_folder(cl.metrics_file, open_folder, why) == nullptr)
            return refuse(err, {"--metrics", cl.metrics_file, {}}, why);
    }
    if (cl.asks(OutputId::history)) {
        const NamedPath target{"--history", cl.history, resolved(cl.history)};
        std::error_code ec;
        fs::create_directories(target.resolved.parent_path(), ec);
        if (ec)
            return refuse(err, target,
                          "its folder " + target.path.parent_path().string() + " cannot be made (" +
                              ec.message() + ")");
    }
    return true;
}

bool check_source_date_epoch(std::FILE* err) {
    const char* pinned = std::getenv("SOURCE_DATE_EPOCH");
    if (pinned == nullptr || *pinned == '\0')
        return true;  // unset, or set to nothing: the clock gives the time
    std::int64_t seconds = 0;
    if (parse_run_seconds(pinned, seconds))
        return true;
    print_message(err,
                  "SOURCE_DATE_EPOCH '%s': not a decimal integer of seconds from 0 (1970-01-01) "
                  "to %" PRId64 " (9999-12-31T23:59:59Z)\n",
                  printable_text(pinned).c_str(), kLastUtcSecond);
    return false;
}

}  // namespace

const char* not_a_regular_file(const fs::path& path) {
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(path, ec);
    switch (status.type()) {
        case fs::file_type::not_found:
        case fs::file_type::none:
        case fs::file_type::regular:
            return nullptr;
        case fs::file_type::symlink:
            return "it is a symbolic link; name the file it points to";
        case fs::file_type::directory:
            return "it is a directory";
        case fs::file_type::block:
        case fs::file_type::character:
            return "it is a device, not a regular file";
        case fs::file_type::fifo:
            return "it is a FIFO, not a regular file";
        case fs::file_type::socket:
            return "it is a socket, not a regular file";
        default:
            return "it is not a regular file";
    }
}

std::unique_ptr<FileStore> open_file_folder(const std::string& file,
                                            const OutputFolderOpener& open_folder,
                                            std::string& why) {
    const fs::path path(file);
    const std::string name = path.filename().string();
    if (name.empty() || name == "." || name == "..") {
        why = "it names a folder, not a file";
        return nullptr;
    }
    const std::string folder = path.parent_path().string();
    std::unique_ptr<FileStore> files = open_folder(folder, why);
    // The opener words its reason for --output-dir ("--output-dir DIR: why"); here the folder is
    // FILE's.
    const std::string opener_prefix = "--output-dir " + folder + ": ";
    if (files == nullptr && why.rfind(opener_prefix, 0) == 0)
        why = "its folder " + folder + " " + why.substr(opener_prefix.size());
    return files;
}

std::vector<std::string> option_files_in(const RunContext& ctx, const std::string& folder) {
    std::vector<std::string> names;
    if (ctx.history.empty() && ctx.metrics_file.empty())
        return names;  // the default run: no path to resolve
    const fs::path where = resolved(folder.empty() ? fs::path(".") : fs::path(folder));
    for (const std::string* file : {&ctx.history, &ctx.metrics_file}) {
        const fs::path path = file->empty() ? fs::path() : resolved(*file);
        if (!file->empty() && path.parent_path() == where)
            names.push_back(path.filename().string());
    }
    return names;
}

int check_run_start(const CommandLine& cl, const OutputFolderOpener& open_folder, std::FILE* err) {
    if (!check_source_date_epoch(err))
        return kExitUsage;
    if (!check_output_folder(cl, err))
        return kExitUsage;
    if ((cl.asks(OutputId::metrics) || cl.asks(OutputId::history)) &&
        (!check_output_targets(cl, err) || !make_target_folders(cl, open_folder, err)))
        return kExitUsage;
    return kExitOk;
}

}  // namespace torvik
