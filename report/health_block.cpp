#include "report/health_block.h"

#include <cstdio>

namespace torvik {

std::string health_block(const HealthAssessment& health) {
    std::string block = std::string("Health: ") + verdict_name(health.verdict) + "\n";
    for (const HealthReason& r : health.reasons) {
        char level[16];
        std::snprintf(level, sizeof level, "  %-7s ", level_name(r.level));
        block += level + r.text + " [" + r.source + "]\n";
    }
    return block;
}

}  // namespace torvik
