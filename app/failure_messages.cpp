#include "app/failure_messages.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <string>

#include "app/drive_scan.h"
#include "app/exit_status.h"
#include "app/program_message.h"
#include "common/printable_text.h"
#include "platform/host_platform.h"
#include "platform/storage_descriptor.h"

namespace torvik {

namespace {

// The explanations on standard error, beside the unchanged console lines.
void explain(std::FILE* err, const char* format, ...) __attribute__((format(printf, 2, 3)));

void explain(std::FILE* err, const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    vprint_message(err, format, args);
    va_end(args);
    if (err != nullptr)
        std::fputc('\n', err);
}

// The drive numbers there are, for a message about one that is not.
std::string present_drives(Platform& platform) {
    const DriveList list = scan_drives(platform);
    if (list.drives.empty() && list.access_denied)
        return std::string("no drive could be opened: permission denied; ") +
               privilege_hint(platform);
    if (list.drives.empty())
        return "no drive answers";
    std::string numbers = "the drives are";
    for (const ListedDrive& drive : list.drives) {
        numbers += ' ';
        numbers += std::to_string(drive.number);
    }
    return numbers + " (see --list)";
}

}  // namespace

// Why a drive could not be opened, from the platform's error code.
void explain_open_failure(Platform& platform, std::FILE* err, std::int32_t drive,
                          std::uint32_t error) {
    if (err == nullptr)
        return;  // nowhere to say it: spare the scan of the drives
    // " (/dev/sdb)"; nothing where the platform has no name for the number (no such disk).
    const std::string path = platform.drive_names(drive).path;
    const std::string named = path.empty() ? std::string() : " (" + path + ")";
    switch (platform.error_kind(error)) {
        case ErrorKind::access_denied:
            explain(err, "cannot open drive %d%s: permission denied; %s", static_cast<int>(drive),
                    named.c_str(), privilege_hint(platform));
            break;
        case ErrorKind::not_found:
            explain(err, "there is no drive %d%s; %s", static_cast<int>(drive), named.c_str(),
                    present_drives(platform).c_str());
            break;
        case ErrorKind::other:
            explain(err, "cannot open drive %d%s: error 0x%x", static_cast<int>(drive),
                    named.c_str(), static_cast<unsigned>(error));
            break;
    }
}

std::string open_failure_reason(Platform& platform, std::uint32_t error, const char* fallback) {
    switch (platform.error_kind(error)) {
        case ErrorKind::access_denied:
            return std::string("permission denied: ") + privilege_hint(platform);
        case ErrorKind::not_found:
            return "there is no such drive";
        case ErrorKind::other:
            break;
    }
    return fallback;
}

Refusal explain_not_usb(Platform& platform, std::FILE* err, std::int32_t drive,
                        const BusQuery& bus) {
    if (err != nullptr)
        std::fputc('\n', err);
    if (!bus.opened) {
        explain_open_failure(platform, err, drive, bus.error);
        const int status = platform.error_kind(bus.error) == ErrorKind::not_found ? kExitBadDrive
                                                                                  : kExitOpenFailed;
        return Refusal{status,
                       open_failure_reason(platform, bus.error, "the drive could not be opened")};
    }
    if (!bus.answered) {
        explain(err, "drive %d did not tell its bus (storage query error 0x%x)",
                static_cast<int>(drive), static_cast<unsigned>(bus.error));
        return Refusal{kExitNotUsb, "the drive did not tell its bus"};
    }
    explain(err, "drive %d (%s) is on the %s bus: the tool examines USB drives only",
            static_cast<int>(drive), platform.drive_names(drive).path.c_str(),
            bus_type_name(bus.bus_type));
    return Refusal{kExitNotUsb, "the drive is not on USB"};
}

// What the report's own lines leave unsaid: why it stopped at the controller gate, a bridge
// that let no vendor command through, and why the bridge's NVMe health is missing.
void explain_report(std::FILE* err, const DriveModel& model) {
    int vendor_sent = 0;
    int vendor_failed = 0;
    for (const CommandInfo& command : kCommands) {
        if (command.form != CommandForm::vendor12 && command.form != CommandForm::vendor16)
            continue;
        const RecordedCommand& recorded = model.commands[static_cast<std::size_t>(command.id)];
        vendor_sent += recorded.sent ? 1 : 0;
        vendor_failed += recorded.failed ? 1 : 0;
    }
    if (vendor_sent > 0 && vendor_failed == vendor_sent) {
        explain(err,
                "every vendor command failed: the USB bridge probably refuses them, so nothing "
                "could be read from the controller");
    }
    if (!model.controller_supported &&
        model.commands[static_cast<std::size_t>(CommandId::read_info)].failed) {
        explain(err,
                "the controller id could not be read (ReadInfo failed): the report stops after "
                "the identity lines");
    } else if (!model.controller_supported) {
        explain(err,
                "the controller id read is 0x%04x, not a controller the report covers: it stops "
                "after the identity lines",
                static_cast<unsigned>(model.controller_id));
    }
    if (!model.bridge_note.empty())
        explain(err, "%s", model.bridge_note.c_str());
}

void name_asked_files(std::FILE* err, const DriveModel& model,
                      const std::vector<std::string>& names, const std::string& output_dir) {
    if (err == nullptr)
        return;
    std::string folder = printable_text(output_dir.c_str());
    if (!folder.empty() && folder.back() != '/' && folder.back() != '\\')
        folder += std::strcmp(host_platform_name(), "Windows") == 0 ? '\\' : '/';
    std::string written;
    for (const FileRecord& file : model.files) {
        const bool asked_for = std::find(names.begin(), names.end(), file.name) != names.end();
        if (asked_for && file.outcome == FileOutcome::written)
            written += (written.empty() ? "" : ", ") + folder + file.name;
    }
    if (!written.empty())
        explain(err, "wrote %s", written.c_str());
}

}  // namespace torvik
