#include "app/all_drives.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "app/drive_query.h"
#include "app/drive_scan.h"
#include "app/examine_drive.h"
#include "app/exit_status.h"
#include "app/metrics_file.h"
#include "app/output_dir.h"
#include "app/program_message.h"
#include "common/printable_text.h"
#include "model/key_figures.h"
#include "model/nvme_pages.h"
#include "model/scsi_pages.h"
#include "platform/drive_path.h"
#include "platform/storage_descriptor.h"
#include "report/all_drives_summary.h"
#include "report/drive_list.h"
#include "report/json_report.h"
#include "transport/operations.h"

namespace torvik {

namespace {

constexpr int kStatusOrder[] = {
    kExitOk,    kExitFilesIncomplete, kExitHealthWarning, kExitHealthUnknown,
    kExitUsage, kExitOpenFailed,      kExitHealthFailed,
};
constexpr int kFailureRank = 5;  // the rank of kExitOpenFailed, for a status not in the list
static_assert(kStatusOrder[kFailureRank] == kExitOpenFailed);

int status_rank(int status) {
    const auto* found = std::find(std::begin(kStatusOrder), std::end(kStatusOrder), status);
    return found == std::end(kStatusOrder) ? kFailureRank
                                           : static_cast<int>(found - std::begin(kStatusOrder));
}

char ascii_lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Folder names as Windows compares them: ASCII letters in either case are the same.
bool same_in_any_case(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return ascii_lower(x) == ascii_lower(y); });
}

bool folder_char(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_';
}

// A drive --all examined, for the outputs that hold every drive in one file or add a record for
// each, written once the last drive is done.
struct ExaminedUsbDrive {
    ExaminedDrive examined;  // the model, the run's facts, the run's own status
    std::string os_path;     // "/dev/sdb", "\\.\PhysicalDrive1"
    std::string folder;      // its folder's name inside the output folder
};

// The serial of the INQUIRY data, read before any file is written so that the drive's folder can
// be named after it; empty when the drive does not answer.
std::string inquiry_serial(const RunContext& ctx, DriveHandle disk) {
    ReplyArea<CommandId::inquiry> inquiry{};
    DriveLink link{ctx.platform, disk, ctx.out};
    if (!scsi_inquiry(link, inquiry.data(), static_cast<std::uint32_t>(inquiry.size())).ok())
        return {};
    return decode_inquiry(inquiry.data()).serial;
}

// --brief: the line that names the drive over its verdict block, whose report (and heading) the
// console does not show.
void brief_heading(const RunContext& ctx, const SummaryLine& line) {
    if (ctx.verdict_out != nullptr)
        std::fputs(drive_heading(line).c_str(), ctx.verdict_out);
}

// One USB drive: opened, named, examined into its folder. The line says how it went.
SummaryLine examine_usb_drive(const RunContext& ctx, const ListedDrive& listed, const OsVersion& os,
                              PassState& pass, std::vector<ExaminedUsbDrive>& examined) {
    const std::int32_t drive = listed.number;
    SummaryLine line{.drive = drive, .path = listed_text(listed.names.path), .status = kExitOk};
    std::fprintf(ctx.out, "\n%s", drive_heading(line).c_str());
    std::fprintf(ctx.out, "Drive: %u(%s)\n", static_cast<unsigned>(drive), "USB");
    char path[kDrivePathSize];
    format_drive_path(path, sizeof path, drive);
    const DriveGuard disk(ctx.platform, ctx.platform.open_drive(path, kDiskOpenFlags));
    if (!disk.is_open()) {
        const std::string why = report_open_failure(ctx, drive);
        line.result = "failed: " + why;
        line.status = kExitOpenFailed;
        brief_heading(ctx, line);
        print_not_examined(ctx, why.c_str());
        return line;
    }
    const std::string serial = inquiry_serial(ctx, disk.get());
    line.serial = line.bridge_serial = listed_text(serial);
    const std::string name = drive_folder_name(serial, pass.folders);
    pass.folders.push_back(name);
    std::string error;
    const std::unique_ptr<FileStore> files = ctx.files.open_subfolder(name.c_str(), error);
    std::optional<FolderLock> lock;  // held while the drive's files are written
    if (files != nullptr && !lock.emplace(*files, ctx.lock_wait_ms).held()) {
        error = name + ": another run is still writing into it";
        pass.met_another_run = true;
    }
    if (!error.empty()) {
        const std::string shown = printable_text(error.c_str());
        print_message(ctx.err, "drive %d: its folder %s\n", static_cast<int>(drive), shown.c_str());
        line.result = "failed: folder " + shown;
        line.status = kExitUsage;
        brief_heading(ctx, line);
        print_not_examined(ctx, "its output folder could not be used");
        return line;
    }
    line.folder = output_path(ctx.output_dir, name.c_str());
    pass.drive = drive;
    // The drive's JSON document, with --json=-, goes into the pass's one document at the end.
    ExaminedDrive done =
        examine_open_drive(ctx, DriveFolder{*files, line.folder}, disk.get(), drive, os, &pass);
    if (const DriveKey key = drive_key(done.model); !key.serial.empty())
        line.serial = listed_text(key.serial);
    brief_heading(ctx, line);
    line.status = finish_examined_drive(ctx, done);
    line.verdict = done.model.health.verdict;
    if (done.status == kExitFilesIncomplete)
        line.result = ", files incomplete";
    examined.push_back(ExaminedUsbDrive{std::move(done), listed.names.path, name});
    return line;
}

// --metrics: one file holds every USB drive's series, a drive that could not be examined included
// (its run failed), with the count of USB drives the scan found (0 too: a file that stayed as the
// last pass left it would go on showing drives that are gone); true when it is written or not
// asked for.
bool write_all_metrics(const RunContext& ctx, const DriveList& list,
                       const std::vector<ExaminedUsbDrive>& examined, MetricsRun scan) {
    if (!ctx.asked.has(OutputId::metrics) || ctx.open_folder == nullptr)
        return true;
    std::vector<MetricsDrive> drives;
    std::size_t next = 0;  // examined holds the examined drives in the list's order
    for (const ListedDrive& listed : list.drives) {
        if (listed.bus_type != kBusTypeUsb)
            continue;
        if (next < examined.size() && examined[next].os_path == listed.names.path) {
            const ExaminedDrive& done = examined[next++].examined;
            drives.push_back(
                MetricsDrive{listed.names.path, &done.model, done.model.run_time, &done.figures});
        } else {
            drives.push_back(MetricsDrive{listed.names.path, nullptr, ctx.platform.run_time()});
        }
    }
    scan.scan_drives = drives.size();
    return write_metrics_file(ctx, drives, std::move(scan));
}

// --all --json=-: one document for the pass on standard output, every examined drive's document
// and the summary's lines; false, said on err, when it does not all get there.
bool write_pass_json(std::FILE* json_out, std::FILE* err, const std::vector<SummaryLine>& lines,
                     const std::vector<ExaminedUsbDrive>& examined) {
    std::vector<std::string> documents;
    for (const ExaminedUsbDrive& drive : examined)
        documents.push_back(json_report_text(drive.examined.info, drive.examined.model));
    return write_whole_output(json_out, all_drives_json(documents, lines).c_str(), err);
}

}  // namespace

std::string drive_folder_name(std::string_view serial, const std::vector<std::string>& taken) {
    std::string base = kDriveFolderPrefix;
    for (const char c : serial) {
        if (folder_char(c) && base.size() < std::strlen(kDriveFolderPrefix) + kFolderSerialChars)
            base += c;
    }
    std::string name = base;
    for (unsigned n = 2;
         std::any_of(taken.begin(), taken.end(),
                     [&](const std::string& t) { return same_in_any_case(t, name); });
         ++n)
        name = base + "-" + std::to_string(n);
    return name;
}

bool names_drive_folder(std::string_view name) {
    const std::string_view prefix = kDriveFolderPrefix;
    return name.size() >= prefix.size() && same_in_any_case(name.substr(0, prefix.size()), prefix);
}

int worse_status(int a, int b) {
    return status_rank(b) > status_rank(a) ? b : a;
}

int examine_all_drives(const RunContext& ctx) {
    const OsVersion os = query_os_version(ctx.platform);
    print_banner(ctx.out, os);
    const DriveList list = scan_drives(ctx.platform);
    MetricsRun scan;
    scan.scan_time = ctx.platform.run_time();
    scan.scan_no_access = list.access_denied;
    std::vector<SummaryLine> lines;
    std::vector<ExaminedUsbDrive> examined;
    PassState pass;
    int status = kExitOk;
    bool any_usb = false;
    for (const ListedDrive& listed : list.drives) {
        if (listed.bus_type != kBusTypeUsb) {
            lines.push_back(SummaryLine{.drive = listed.number,
                                        .path = listed_text(listed.names.path),
                                        .result = std::string("skipped: not on USB (") +
                                                  bus_type_name(listed.bus_type) + ")",
                                        .status = kExitNotUsb});
            continue;
        }
        any_usb = true;
        lines.push_back(examine_usb_drive(ctx, listed, os, pass, examined));
        status = worse_status(status, lines.back().status);
    }

    // Outputs that hold every examined drive (one file for all of them, or one record each) are
    // written here, from `examined`, before the summary. A pass that met another run in a
    // drive's folder leaves the metrics to that run, which has the drive's figures.
    if (pass.met_another_run) {
        if (ctx.err != nullptr && ctx.asked.has(OutputId::metrics))
            print_message(ctx.err, "--metrics %s not written: another run is examining a drive\n",
                          printable_text(ctx.metrics_file.c_str()).c_str());
    } else if (!write_all_metrics(ctx, list, examined, std::move(scan))) {
        status = worse_status(status, kExitFilesIncomplete);
    }

    std::fputs(all_drives_summary(lines, ctx.colour).c_str(), verdict_stream(ctx));
    std::fflush(verdict_stream(ctx));
    // --json=-: one document for the pass, every drive's document and the summary.
    if (ctx.json_out != nullptr && !write_pass_json(ctx.json_out, ctx.err, lines, examined))
        status = worse_status(status, kExitFilesIncomplete);
    if (list.access_denied) {
        print_message(
            ctx.err, "%s: permission denied; %s\n",
            list.drives.empty() ? "no drive could be opened" : "some drives could not be opened",
            privilege_hint(ctx.platform));
    }
    // Without the rights to a drive the pass cannot tell whether it is on the USB bus: a pass that
    // examined none says no access, not an empty bus.
    const bool no_access = examined.empty() && list.access_denied;
    if (!any_usb) {
        print_message(ctx.err, "no drive on the USB bus%s: nothing was examined (see --list)\n",
                      no_access ? " among those that could be opened" : "");
        return no_access ? kExitOpenFailed : kExitNotUsb;
    }
    return no_access ? worse_status(status, kExitOpenFailed) : status;
}

}  // namespace torvik
