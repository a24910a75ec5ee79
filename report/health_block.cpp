#include "report/health_block.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "common/printable_text.h"
#include "model/drive_model.h"
#include "model/key_figures.h"
#include "report/number_format.h"
#include "report/wear_trend_text.h"

namespace torvik {

namespace {

std::string nvme_summary(const KeyFigures& k) {
    const KeyFigures::NvmeCounters& c = *k.counters;
    std::string out = std::to_string(k.percentage_used.value_or(0)) + "% used, spare " +
                      std::to_string(k.available_spare.value_or(0)) + "%";
    if (k.temperature_celsius)
        out += ", " + std::to_string(*k.temperature_celsius) + " C";
    // Hours past 2^64 (no drive runs so long) as the bare count.
    out += ", " + (c.power_on_hours.high == 0
                       ? hours_and_days(c.power_on_hours.low)
                       : std::string(decimal_text(c.power_on_hours).text) + " h");
    out += ", " + decimal_bytes(data_unit_bytes(c.data_units_written)) + " written";
    out += ", " + decimal_bytes(data_unit_bytes(c.data_units_read)) + " read";
    return out;
}

std::string vendor_summary(const KeyFigures& k) {
    std::string out;
    if (k.life_used_record)
        out = std::to_string(*k.life_used_record) + "% life used";
    if (k.life_remaining_record)
        out += (out.empty() ? "" : ", ") + std::to_string(*k.life_remaining_record) +
               "% life remaining";
    if (out.empty())
        return "no life figures in the extended SMART page";
    return out + " (the controller's extended SMART figures)";
}

const char* verdict_colour(HealthVerdict verdict) {
    switch (verdict) {
        case HealthVerdict::passed:
            return "\033[32m";  // green
        case HealthVerdict::warning:
            return "\033[33m";  // amber
        case HealthVerdict::failed:
            return "\033[31m";  // red
        case HealthVerdict::unknown:
            break;
    }
    return "\033[90m";  // grey
}

}  // namespace

std::string verdict_word(HealthVerdict verdict, bool colour) {
    const char* word = verdict_name(verdict);
    return colour ? verdict_colour(verdict) + std::string(word) + "\033[0m" : std::string(word);
}

std::string health_summary(const HealthAssessment& health, const KeyFigures* figures) {
    if (figures == nullptr)
        return "the drive was not examined";
    if (figures->counters)
        return nvme_summary(*figures);
    if (health.source == HealthSource::extended_smart)
        return vendor_summary(*figures);
    return "no health figures could be read";
}

std::string health_block(const HealthAssessment& health, const DriveModel* drive,
                         const KeyFigures* figures, bool colour) {
    std::string block = "Health: " + verdict_word(health.verdict, colour);
    block += "\nSummary: " + health_summary(health, figures) + "\n";
    if (drive != nullptr && drive->trend)
        block += "Trend: " + trend_summary(*drive->trend) + "\n";
    if (const NvmeIdentity* nvme = drive != nullptr ? nvme_identity_texts(*drive) : nullptr) {
        block += "NVMe: " + printable_text(identify_text(nvme->model_number).c_str()) +
                 ", serial " + printable_text(identify_text(nvme->serial_number).c_str()) +
                 ", firmware " + printable_text(identify_text(nvme->firmware_revision).c_str()) +
                 "\n";
    }
    for (const HealthReason& r : health.reasons) {
        char level[16];
        std::snprintf(level, sizeof level, "  %-7s ", level_name(r.level));
        block += level + r.text + " [" + r.source + "]\n";
    }
    return block;
}

bool wants_colour(bool colour_terminal, const char* no_color, const char* term) {
    if (!colour_terminal)
        return false;
    if (no_color != nullptr && *no_color != '\0')
        return false;
    return term == nullptr || std::strcmp(term, "dumb") != 0;
}

}  // namespace torvik
