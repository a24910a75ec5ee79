#include "report/all_drives_summary.h"

#include "report/health_block.h"

namespace torvik {

std::string all_drives_summary(const std::vector<SummaryLine>& lines, bool colour) {
    std::string text = "\n";
    for (const SummaryLine& line : lines) {
        text += "drive " + std::to_string(line.drive) + "  " + line.path + "  ";
        // The identity's serial, and the bridge's after it when that is another.
        const bool named = !line.serial.empty() || !line.folder.empty();
        if (named)
            text += line.serial.empty() ? "-" : line.serial;
        if (!line.bridge_serial.empty() && line.bridge_serial != line.serial)
            text += " (bridge " + line.bridge_serial + ")";
        if (named)
            text += "  ";
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
