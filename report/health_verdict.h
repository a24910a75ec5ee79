// The health verdict: one word (PASSED, WARNING, FAILED, UNKNOWN) and the figures that led to it,
// judged from pages the run has already read. Pure: it reads buffers and never the drive.
//
// Sources, the first one present wins:
//   1. the NVMe SMART / Health log read through the bridge (nvme_smart page);
//   2. the controller's copy of the same log (smart page), when the bridge gave none;
//   3. the extended SMART life figures (smartext page) with the flash PE limit (sysinfo page);
// and none of them: UNKNOWN. An all-zero page counts as not read: it would pass every rule.
// The rules and their thresholds are documented in the README ("Health verdict").
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "report/number_format.h"

namespace torvik {

struct ReportRecorder;

enum class HealthVerdict { passed, warning, failed, unknown };

// How one figure fares against its rule.
enum class HealthLevel { ok, warning, failed, unknown };

enum class HealthSource { none, nvme_smart_bridge, nvme_smart_controller, extended_smart };

struct HealthReason {
    HealthLevel level = HealthLevel::ok;
    const char* field = "";  // the figure's key, as the JSON report names it
    Uint128 value{};         // the figure as the page holds it (temperatures in kelvins)
    const char* unit = "";   // "%", "K" or "" for a count
    std::string text;        // one sentence: the figure, its value and the rule it met or broke
    std::string source;      // the page and bytes it was read from
};

struct HealthAssessment {
    HealthVerdict verdict = HealthVerdict::unknown;
    HealthSource source = HealthSource::none;
    std::vector<HealthReason> reasons;  // in the fixed order of the rules
};

// The pages the verdict reads; nullptr for a page the run could not read. Sizes are those of the
// commands: 512 for the SMART logs, 4096 for identify, smartext and sysinfo.
struct HealthPages {
    const std::uint8_t* nvme_smart_bridge = nullptr;
    const std::uint8_t* nvme_identify = nullptr;
    const std::uint8_t* nvme_smart_controller = nullptr;
    const std::uint8_t* smartext = nullptr;
    const std::uint8_t* sysinfo = nullptr;
};

HealthAssessment assess_health(const HealthPages& pages);

// The warning and critical composite temperature thresholds of the NVMe Identify Controller page
// (WCTEMP, CCTEMP), in kelvins; 0 when the drive declares none.
struct TemperatureThresholds {
    std::uint16_t warning = 0;
    std::uint16_t critical = 0;
};
TemperatureThresholds read_temperature_thresholds(const std::uint8_t* identify);

// The pages a run recorded: those sent and answered in full.
HealthPages health_pages(const ReportRecorder& record);

// "PASSED", "WARNING", "FAILED", "UNKNOWN"; "ok" ... for a level.
const char* verdict_name(HealthVerdict verdict);
const char* level_name(HealthLevel level);
// "nvme_smart", "smart", "smartext"; nullptr for none.
const char* source_name(HealthSource source);

// The console block: "Health: <VERDICT>\n" and one indented line per reason.
std::string health_block(const HealthAssessment& health);

// The assessment of a run that never reached the drive's pages (refused before the report).
HealthAssessment health_not_examined(const char* why);

}  // namespace torvik
