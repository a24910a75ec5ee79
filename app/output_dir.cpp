#include "app/output_dir.h"

#include <filesystem>

#include "app/examine_drive.h"
#include "report/health_log.h"
#include "report/html_report.h"
#include "report/json_report.h"
#include "scsi/commands.h"
#include "scsi/run_manifest.h"

namespace torvik {

std::string output_path(const std::string& dir, const char* name) {
    if (dir.empty())
        return name;
    const char last = dir.back();
    if (last == '/' || last == '\\')
        return dir + name;
    return dir + static_cast<char>(std::filesystem::path::preferred_separator) + name;
}

std::vector<const char*> run_file_names() {
    std::vector<const char*> names{kReportFileName, kHealthLogFileName, kManifestFileName,
                                   kJsonReportFileName, kHtmlReportFileName};
    for (const CommandInfo& command : kCommands)
        names.push_back(command.dump_name);
    return names;
}

}  // namespace torvik
