#include "report/health_verdict.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "common/bytes.h"
#include "report/controller_config.h"
#include "report/health_log.h"
#include "report/health_log_fields.h"
#include "report/report_recorder.h"
#include "transport/commands.h"

namespace torvik {

namespace {

// NVMe SMART / Health log (log page 02h) fields the rules read; the others are in
// report/health_log_fields.h.
constexpr std::size_t kAvailableSpare = 3;
constexpr std::size_t kSpareThreshold = 4;
constexpr std::size_t kPercentageUsed = 5;
constexpr std::size_t kMediaErrors = 0xA0;  // 128-bit count, bytes 160..175

// NVMe Identify Controller: warning and critical composite temperature thresholds, kelvins,
// 0 when the controller reports none.
constexpr std::size_t kWarningTemperature = 266;   // WCTEMP
constexpr std::size_t kCriticalTemperature = 268;  // CCTEMP

// Critical warning bits that mean the drive can no longer be trusted with data: spare below
// threshold (0), reliability degraded (2), read-only (3), volatile memory backup failed (4).
// Bit 1 (a temperature outside a threshold) passes when the drive cools: a warning.
constexpr std::uint8_t kFailingWarningBits = 0x1D;

// Wear thresholds, in percent of the rated life.
constexpr unsigned kWornOut = 100;
constexpr unsigned kWearWarning = 90;

// Extended SMART records the fallback reads, by IntId.
constexpr std::uint16_t kAverageEraseCount = 0x020B;  // D2/D3 average erase count
constexpr std::uint16_t kLifeUsed = 0x020E;           // SSD life used percent D3
constexpr std::uint16_t kLifeRemaining = 0x020F;      // SSD life remaining percent D3

bool all_zero(const std::uint8_t* page, std::size_t size) {
    return std::all_of(page, page + size, [](std::uint8_t b) { return b == 0; });
}

const std::uint8_t* usable(const std::uint8_t* page, CommandId id) {
    if (page == nullptr || all_zero(page, command_info(id).length))
        return nullptr;
    return page;
}

std::string format(const char* fmt, auto... args) {
    char text[256];
    std::snprintf(text, sizeof text, fmt, args...);
    return text;
}

Uint128 read_le128(const std::uint8_t* p) {
    return Uint128{get_le64(p + 8), get_le64(p)};
}

HealthReason reason(HealthLevel level, const char* field, Uint128 value, const char* unit,
                    std::string text, std::string source) {
    return HealthReason{level, field, value, unit, std::move(text), std::move(source)};
}

Uint128 small(std::uint64_t value) {
    return Uint128{0, value};
}

// The percentage-used rule, shared by the NVMe figure and the vendor's life-used figure.
HealthLevel wear_level(std::uint64_t percent_used) {
    if (percent_used >= kWornOut)
        return HealthLevel::failed;
    if (percent_used >= kWearWarning)
        return HealthLevel::warning;
    return HealthLevel::ok;
}

std::string wear_rule(HealthLevel level) {
    switch (level) {
        case HealthLevel::failed:
            return format("at or past the rated life (%u%%)", kWornOut);
        case HealthLevel::warning:
            return format("at or above %u%% of the rated life", kWearWarning);
        default:
            return format("below %u%% of the rated life", kWearWarning);
    }
}

void nvme_rules(const std::uint8_t* smart, const std::uint8_t* identify, const char* page_name,
                std::vector<HealthReason>& out) {
    auto at = [page_name](const char* bytes) { return format("%s, %s", page_name, bytes); };

    const std::uint8_t warning = smart[kCriticalWarningOffset];
    if (warning == 0) {
        out.push_back(reason(HealthLevel::ok, "critical_warning", small(0), "",
                             "Critical warning 0: no warning bit set", at("byte 0")));
    } else {
        std::string names;
        for (unsigned bit = 0; bit < 8; ++bit) {
            if ((warning >> bit & 1) == 0)
                continue;
            if (!names.empty())
                names += "; ";
            names += bit < std::size(kCriticalWarnings) ? kCriticalWarnings[bit]
                                                        : format("unnamed bit %u", bit).c_str();
        }
        const HealthLevel level =
            (warning & kFailingWarningBits) != 0 ? HealthLevel::failed : HealthLevel::warning;
        out.push_back(
            reason(level, "critical_warning", small(warning), "",
                   format("Critical warning %u: %s", static_cast<unsigned>(warning), names.c_str()),
                   at("byte 0")));
    }

    const unsigned spare = smart[kAvailableSpare];
    const unsigned threshold = smart[kSpareThreshold];
    if (spare < threshold) {
        out.push_back(reason(
            HealthLevel::failed, "available_spare", small(spare), "%",
            format("Available spare %u%% is below the drive's threshold of %u%%", spare, threshold),
            at("bytes 3-4")));
    } else {
        out.push_back(
            reason(HealthLevel::ok, "available_spare", small(spare), "%",
                   format("Available spare %u%% is at or above the drive's threshold of %u%%",
                          spare, threshold),
                   at("bytes 3-4")));
    }

    const unsigned used = smart[kPercentageUsed];
    const HealthLevel wear = wear_level(used);
    out.push_back(reason(wear, "percentage_used", small(used), "%",
                         format("Percentage used %u%%: %s", used, wear_rule(wear).c_str()),
                         at("byte 5")));

    const Uint128 errors = read_le128(smart + kMediaErrors);
    const bool any_errors = errors.high != 0 || errors.low != 0;
    out.push_back(reason(any_errors ? HealthLevel::warning : HealthLevel::ok,
                         "media_and_data_integrity_errors", errors, "",
                         format("Media and data integrity errors %s%s", decimal_text(errors).text,
                                any_errors ? ": the drive met unrecovered data errors" : ""),
                         at("bytes 160-175")));

    const std::uint16_t kelvin = composite_temperature(smart);
    if (kelvin == 0)
        return;  // the drive reports no composite temperature
    const TemperatureThresholds limits =
        identify != nullptr ? read_temperature_thresholds(identify) : TemperatureThresholds{};
    const std::uint16_t warn = limits.warning;
    const std::uint16_t crit = limits.critical;
    const std::int32_t celsius = kelvin_to_celsius(kelvin);
    std::string source = at("bytes 1-2");
    HealthLevel level = HealthLevel::ok;
    std::string text;
    if (warn == 0 && crit == 0) {
        text = format("Composite temperature %d C: the drive gives no temperature thresholds",
                      static_cast<int>(celsius));
        if (identify == nullptr)
            text += " (NVMe Identify not read)";
    } else {
        source += "; NVMe Identify, bytes 266-269";
        if (crit != 0 && kelvin >= crit) {
            level = HealthLevel::failed;
            text = format(
                "Composite temperature %d C is at or above the drive's critical "
                "threshold of %d C",
                static_cast<int>(celsius), static_cast<int>(kelvin_to_celsius(crit)));
        } else if (warn != 0 && kelvin >= warn) {
            level = HealthLevel::warning;
            text = format(
                "Composite temperature %d C is at or above the drive's warning "
                "threshold of %d C",
                static_cast<int>(celsius), static_cast<int>(kelvin_to_celsius(warn)));
        } else {
            text = format(
                "Composite temperature %d C is below the drive's warning threshold of "
                "%d C",
                static_cast<int>(celsius),
                static_cast<int>(kelvin_to_celsius(warn != 0 ? warn : crit)));
        }
    }
    out.push_back(reason(level, "composite_temperature", small(kelvin), "K", text, source));
}

void extended_rules(const std::uint8_t* smartext, const std::uint8_t* sysinfo,
                    std::vector<HealthReason>& out) {
    const std::size_t count = ext_smart_record_count(smartext);
    auto find = [&](std::uint16_t int_id, ExtSmartRecord& found) {
        for (std::size_t k = 0; k < count; ++k) {
            const ExtSmartRecord r = read_ext_smart_record(smartext, k);
            if (r.int_id == int_id) {
                found = r;
                return true;
            }
        }
        return false;
    };
    auto at = [](const ExtSmartRecord& r) {
        return format("extended SMART, IntId 0x%04X", static_cast<unsigned>(r.int_id));
    };

    ExtSmartRecord r;
    if (find(kLifeRemaining, r)) {
        const std::uint64_t remaining = r.raw;
        const HealthLevel level = wear_level(remaining >= kWornOut ? 0 : kWornOut - remaining);
        // The wear rule seen from the other side: 10% or less left warns, none left fails.
        const std::string rule =
            level == HealthLevel::failed ? std::string("no rated life left")
            : level == HealthLevel::warning
                ? format("%u%% or less of the rated life left", kWornOut - kWearWarning)
                : format("more than %u%% left", kWornOut - kWearWarning);
        out.push_back(reason(level, "life_remaining", small(remaining), "%",
                             format("SSD life remaining %llu%%: %s",
                                    static_cast<unsigned long long>(remaining), rule.c_str()),
                             at(r)));
    }
    if (find(kLifeUsed, r)) {
        const HealthLevel level = wear_level(r.raw);
        out.push_back(
            reason(level, "life_used", small(r.raw), "%",
                   format("SSD life used %llu%%: %s", static_cast<unsigned long long>(r.raw),
                          wear_rule(level).c_str()),
                   at(r)));
    }
    const unsigned pe_limit = sysinfo != nullptr ? read_flash_geometry(sysinfo).pe_limit_second : 0;
    if (pe_limit != 0 && find(kAverageEraseCount, r)) {
        const std::uint64_t erases = r.raw;
        const HealthLevel level =
            wear_level(erases >= pe_limit ? kWornOut : erases * kWornOut / pe_limit);
        out.push_back(reason(
            level, "average_erase_count", small(erases), "",
            format("D2/D3 average erase count %llu of the flash's PE cycle limit %u: %s",
                   static_cast<unsigned long long>(erases), pe_limit, wear_rule(level).c_str()),
            at(r) + "; sysinfo, bytes 0x290-0x291"));
    }
}

HealthVerdict verdict_of(const std::vector<HealthReason>& reasons) {
    HealthVerdict verdict = HealthVerdict::passed;
    for (const HealthReason& r : reasons) {
        if (r.level == HealthLevel::failed)
            return HealthVerdict::failed;
        if (r.level == HealthLevel::warning)
            verdict = HealthVerdict::warning;
    }
    return verdict;
}

}  // namespace

HealthAssessment assess_health(const HealthPages& pages) {
    HealthAssessment health;
    const std::uint8_t* bridge = usable(pages.nvme_smart_bridge, CommandId::nvme_smart_log);
    const std::uint8_t* controller = usable(pages.nvme_smart_controller, CommandId::smart);
    const std::uint8_t* smartext = usable(pages.smartext, CommandId::smartext);
    const std::uint8_t* identify = usable(pages.nvme_identify, CommandId::nvme_identify);
    if (bridge != nullptr) {
        health.source = HealthSource::nvme_smart_bridge;
        nvme_rules(bridge, identify, "NVMe SMART log via the bridge", health.reasons);
    } else if (controller != nullptr) {
        health.source = HealthSource::nvme_smart_controller;
        nvme_rules(controller, identify, "NVMe SMART log, controller copy", health.reasons);
    } else if (smartext != nullptr) {
        health.source = HealthSource::extended_smart;
        extended_rules(smartext, usable(pages.sysinfo, CommandId::sysinfo), health.reasons);
    }
    if (health.reasons.empty()) {
        health.source = HealthSource::none;
        health.reasons.push_back(
            reason(HealthLevel::unknown, "health_pages", small(0), "",
                   smartext != nullptr ? "The extended SMART page holds no life figures, and no "
                                         "NVMe SMART/Health log could be read"
                                       : "No NVMe SMART/Health log and no extended SMART page "
                                         "could be read (failed, not sent or all zeros)",
                   "nvme_smart, smart and smartext pages"));
        health.verdict = HealthVerdict::unknown;
        return health;
    }
    health.verdict = verdict_of(health.reasons);
    return health;
}

TemperatureThresholds read_temperature_thresholds(const std::uint8_t* identify) {
    return TemperatureThresholds{get_le16(identify + kWarningTemperature),
                                 get_le16(identify + kCriticalTemperature)};
}

HealthPages health_pages(const ReportRecorder& record) {
    HealthPages pages;
    pages.nvme_smart_bridge = record.page(CommandId::nvme_smart_log);
    pages.nvme_identify = record.page(CommandId::nvme_identify);
    pages.nvme_smart_controller = record.page(CommandId::smart);
    pages.smartext = record.page(CommandId::smartext);
    pages.sysinfo = record.page(CommandId::sysinfo);
    return pages;
}

HealthAssessment health_not_examined(const char* why) {
    HealthAssessment health;
    health.reasons.push_back(reason(HealthLevel::unknown, "drive", small(0), "",
                                    format("The drive was not examined: %s", why), "the run"));
    return health;
}

const char* verdict_name(HealthVerdict verdict) {
    switch (verdict) {
        case HealthVerdict::passed:
            return "PASSED";
        case HealthVerdict::warning:
            return "WARNING";
        case HealthVerdict::failed:
            return "FAILED";
        case HealthVerdict::unknown:
            break;
    }
    return "UNKNOWN";
}

const char* level_name(HealthLevel level) {
    switch (level) {
        case HealthLevel::ok:
            return "ok";
        case HealthLevel::warning:
            return "warning";
        case HealthLevel::failed:
            return "failed";
        case HealthLevel::unknown:
            break;
    }
    return "unknown";
}

const char* source_name(HealthSource source) {
    switch (source) {
        case HealthSource::nvme_smart_bridge:
            return "nvme_smart";
        case HealthSource::nvme_smart_controller:
            return "smart";
        case HealthSource::extended_smart:
            return "smartext";
        case HealthSource::none:
            break;
    }
    return nullptr;
}

std::string health_block(const HealthAssessment& health) {
    std::string block = format("Health: %s\n", verdict_name(health.verdict));
    for (const HealthReason& r : health.reasons) {
        block += format("  %-7s %s [%s]\n", level_name(r.level), r.text.c_str(), r.source.c_str());
    }
    return block;
}

}  // namespace torvik
