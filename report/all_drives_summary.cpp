#include "report/all_drives_summary.h"

#include "report/health_block.h"

namespace torvik {

namespace {

// The identity's serial, and the bridge's after it when that is another; "-" for a drive examined
// without one.
std::string serials(const SummaryLine& line) {
    std::string text;
    if (!line.serial.empty() || !line.folder.empty())
        text = line.serial.empty() ? "-" : line.serial;
    if (!line.bridge_serial.empty() && line.bridge_serial != line.serial)
        text += " (bridge " + line.bridge_serial + ")";
    return text;
}

}  // namespace

std::string drive_heading(const SummaryLine& line) {
    const std::string named = serials(line);
    return "==== drive " + std::to_string(line.drive) + "  " + line.path +
           (named.empty() ? "" : "  " + named) + " ====\n";
}

std::string all_drives_summary(const std::vector<SummaryLine>& lines, bool colour) {
    std::string text = "\n";
    for (const SummaryLine& line : lines) {
        text += "drive " + std::to_string(line.drive) + "  " + line.path + "  ";
        const std::string named = serials(line);
        if (!named.empty())
            text += named + "  ";
        if (line.verdict)
            text += verdict_word(*line.verdict, colour);
        text += line.result;
        if (!line.folder.empty())
            text += "  -> " + line.folder + "/";
        text += '\n';
    }
    return text;
}

}  // namespace torvik
