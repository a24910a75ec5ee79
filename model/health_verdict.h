// The health verdict: one word (PASSED, WARNING, FAILED, UNKNOWN) and the figures that led to it,
// judged from the pages of the drive model. Pure: it reads decoded pages and never the drive.
//
// Sources, the first one present wins:
//   1. the NVMe SMART / Health log read through the bridge;
//   2. the controller's copy of the same log, when the bridge gave none;
//   3. the extended SMART life figures with the flash PE limit (sysinfo page);
// and none of them: UNKNOWN. An all-zero page counts as not read: it would pass every rule.
// Whatever the source, a drive that offers more than its flash holds fails (model/flash_figures.h);
// notes beside the lines say what is worth knowing without counting in the verdict.
// The rules and their thresholds are documented in the README ("Health verdict").
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/uint128.h"

namespace torvik {

struct NvmeSmartHealth;
struct NvmeIdentity;
struct ExtendedSmart;
struct FlashGeometry;
struct FlashFigures;

enum class HealthVerdict { passed, warning, failed, unknown };

// How one figure fares against its rule; a note is a fact worth knowing that the verdict does not
// count.
enum class HealthLevel { ok, warning, failed, unknown, note };

// flash: no health page at all, and the flash figures failed the drive.
enum class HealthSource { none, nvme_smart_bridge, nvme_smart_controller, extended_smart, flash };

struct HealthReason {
    HealthLevel level = HealthLevel::ok;
    const char* field = "";  // the figure's name, as its page definition names it
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

// The decoded pages the verdict reads; nullptr for a page the run could not read.
struct HealthPages {
    const NvmeSmartHealth* nvme_smart_bridge = nullptr;
    const NvmeIdentity* nvme_identify = nullptr;
    const NvmeSmartHealth* nvme_smart_controller = nullptr;
    const ExtendedSmart* smartext = nullptr;
    const FlashGeometry* sysinfo = nullptr;
    const FlashFigures* flash = nullptr;  // absent without the bank page
    // Why the bridge's log is missing, for a bridge of no NVMe tunnel of its own (a SATA bridge,
    // one the bridge table does not list): the first reason of the verdict, a note beside a
    // verdict from another page; empty otherwise.
    std::string bridge_note;
};

HealthAssessment assess_health(const HealthPages& pages);

// Wear thresholds, in percent of the rated life.
inline constexpr unsigned kWornOut = 100;
inline constexpr unsigned kWearWarning = 90;

// "PASSED", "WARNING", "FAILED", "UNKNOWN"; "ok" ... for a level.
const char* verdict_name(HealthVerdict verdict);
const char* level_name(HealthLevel level);
// "nvme_smart", "smart", "smartext", "flash"; nullptr for none.
const char* source_name(HealthSource source);

// The assessment of a run that never reached the drive's pages (refused before the report).
HealthAssessment health_not_examined(const char* why);

}  // namespace torvik
