#include "report/drive_report.h"

namespace torvik {

void drive_report(ReportContext& /*ctx*/) {}

}  // namespace torvik
