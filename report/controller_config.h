// The configuration block of the report: twelve lines drawn from the sysinfo and infoblock pages.
#pragma once

#include <string>

#include "model/controller_pages.h"

namespace torvik {

// The twelve configuration lines (clocks, geometry, CE mask, PE limits, SLC cache).
std::string configuration_block(const FlashGeometry& g, const SlcCache& slc);

}  // namespace torvik
