#include "model/flash_counters.h"

#include <cstdio>

#include "common/utc_time.h"
#include "model/health_verdict.h"
#include "model/wear_trend.h"

namespace torvik {

std::string flash_rise_text(const FlashCounterRise& rise) {
    const std::int64_t days = (rise.last_time - rise.first_time) / kSecondsPerDay;
    const std::string span = days == 0   ? "in less than a day"
                             : days == 1 ? "in 1 day"
                                         : "in " + std::to_string(days) + " days";
    return std::string(kFlashCounters[rise.counter].words) + " " + std::to_string(rise.first) +
           " to " + std::to_string(rise.last) + " since " +
           format_utc_time(rise.first_time).substr(0, 10) + ": +" +
           std::to_string(rise.last - rise.first) + " " + span;
}

void note_flash_counters(HealthAssessment& health, const WearTrend& trend) {
    for (const FlashCounterRise& rise : trend.flash_rises) {
        const FieldDef& field = kFlashStatusFields[kFlashCounters[rise.counter].row];
        char source[64];
        std::snprintf(source, sizeof source, "history; sysinfo, bytes 0x%X-0x%X",
                      static_cast<unsigned>(field.offset),
                      static_cast<unsigned>(field.offset + field.width - 1));
        health.reasons.push_back(HealthReason{HealthLevel::note, kFlashCounters[rise.counter].key,
                                              Uint128{0, rise.last - rise.first}, "",
                                              flash_rise_text(rise), source});
    }
}

}  // namespace torvik
