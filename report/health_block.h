// The --health block of the console: the verdict and one line per reason.
#pragma once

#include <string>

#include "model/health_verdict.h"

namespace torvik {

// "Health: <VERDICT>\n" and one indented line per reason.
std::string health_block(const HealthAssessment& health);

}  // namespace torvik
