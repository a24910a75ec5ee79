#include "app/run_start.h"

#include <cinttypes>
#include <cstdlib>
#include <string>
#include <system_error>
#include <vector>

#include "app/exit_status.h"
#include "app/outputs.h"
#include "app/program_message.h"
#include "common/printable_text.h"
#include "common/utc_time.h"
#include "platform/host_platform.h"

namespace torvik {

namespace fs = std::filesystem;

namespace {

// One output path the run writes outside its output folder, as the messages name it.
struct NamedPath {
    const char* option;  // "--metrics", "--history"
    fs::path path;
    fs::path resolved;
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
    print_message(err, "%s: %s\n", target.shown().c_str(), why.c_str());
    return false;
}

// Nothing but a regular file or nothing under the name, on an ordinary file system.
bool check_kind(std::FILE* err, const NamedPath& target) {
    if (const char* what = not_a_regular_file(target.path))
        return refuse(err, target, what);
    std::error_code ec;
    const fs::path probe =
        fs::exists(target.path, ec) ? target.path : target.resolved.parent_path();
    if (const char* system = pseudo_file_system(probe.string().c_str()))
        return refuse(err, target,
                      std::string("it is on the kernel's ") + system +
                          " file system, whose files are the kernel's, not data");
    return true;
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
    for (const char* name : names) {
        if (names_same_file(target, output, name))
            return refuse(err, target,
                          std::string("it is the run's own ") + name +
                              " in its output folder; name another file");
        if (cl.asks(OutputId::all_summary) && own_name == name && parent.parent_path() == output &&
            parent.filename().string().rfind("drive", 0) == 0)
            return refuse(err, target,
                          std::string("it is the run's own ") + name +
                              " in a drive's folder of --all; name another file");
        if (cl.replay && names_same_file(target, replay, name))
            return refuse(err, target,
                          std::string("it is ") + name +
                              " of the --replay folder, which the run reads; name another file");
    }
    return true;
}

// Only a run with --metrics or --history comes here. Cold, so the compiler keeps it apart from
// the default run's code: that run's resident memory is mostly the executable pages it touches.
[[gnu::cold]] bool check_output_targets(const CommandLine& cl, std::FILE* err) {
    std::vector<NamedPath> targets;
    if (cl.asks(OutputId::metrics))
        targets.push_back({"--metrics", cl.metrics_file, resolved(cl.metrics_file)});
    if (cl.asks(OutputId::history))
        targets.push_back({"--history", cl.history, resolved(cl.history)});
    for (const NamedPath& target : targets) {
        if (!check_kind(err, target) || !check_not_run_file(err, target, cl))
            return false;
    }
    if (targets.size() == 2 && names_same_file(targets[0], targets[1].resolved.parent_path(),
                                               targets[1].resolved.filename())) {
        print_message(err, "%s and %s name the same file; give each its own\n",
                      targets[1].shown().c_str(), targets[0].shown().c_str());
        return false;
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

int check_run_start(const CommandLine& cl, std::FILE* err) {
    if (!check_source_date_epoch(err))
        return kExitUsage;
    if ((cl.asks(OutputId::metrics) || cl.asks(OutputId::history)) &&
        !check_output_targets(cl, err))
        return kExitUsage;
    return kExitOk;
}

}  // namespace torvik
