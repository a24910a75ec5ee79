#include "report/health_block.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "common/printable_text.h"
#include "model/drive_model.h"
#include "report/number_format.h"
#include "report/wear_trend_text.h"

namespace torvik {

namespace {

std::string nvme_summary(const NvmeSmartHealth& s) {
    std::string out = std::to_string(s[kSmartPercentageUsed]) + "% used, spare " +
                      std::to_string(s[kSmartAvailableSpare]) + "%";
    const auto kelvin = static_cast<std::uint16_t>(s[kSmartCompositeTemperature]);
    if (kelvin != 0)  // 0: the drive has no composite temperature sensor
        out += ", " + std::to_string(kelvin_to_celsius(kelvin)) + " C";
    out += ", " + hours_and_days(s[kSmartPowerOnHours]);
    out += ", " + decimal_bytes(data_unit_bytes(s.values[kSmartDataUnitsWritten])) + " written";
    out += ", " + decimal_bytes(data_unit_bytes(s.values[kSmartDataUnitsRead])) + " read";
    return out;
}

std::string vendor_summary(const ExtendedSmart& ext) {
    std::string out;
    if (const ExtSmartRecord* used = ext.find(kExtLifeUsed))
        out = std::to_string(used->raw) + "% life used";
    if (const ExtSmartRecord* left = ext.find(kExtLifeRemaining))
        out += (out.empty() ? "" : ", ") + std::to_string(left->raw) + "% life remaining";
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

std::string health_summary(const HealthAssessment& health, const DriveModel* drive) {
    if (drive == nullptr)
        return "the drive was not examined";
    if (const NvmeSmartHealth* smart = judged_smart_log(*drive))
        return nvme_summary(*smart);
    if (health.source == HealthSource::extended_smart)
        return vendor_summary(drive->extended_smart);
    return "no health figures could be read";
}

std::string health_block(const HealthAssessment& health, const DriveModel* drive, bool colour) {
    std::string block = "Health: " + verdict_word(health.verdict, colour);
    block += "\nSummary: " + health_summary(health, drive) + "\n";
    if (drive != nullptr && drive->trend)
        block += "Trend: " + trend_summary(*drive->trend) + "\n";
    if (drive != nullptr && drive->has(CommandId::nvme_identify)) {
        const NvmeIdentity& nvme = drive->nvme_identity;
        block += "NVMe: " + printable_text(identify_text(nvme.model_number).c_str()) + ", serial " +
                 printable_text(identify_text(nvme.serial_number).c_str()) + ", firmware " +
                 printable_text(identify_text(nvme.firmware_revision).c_str()) + "\n";
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
