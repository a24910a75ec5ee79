#include "model/health_verdict.h"

#include <bit>
#include <cstdio>
#include <iterator>

#include "model/controller_pages.h"
#include "model/flash_figures.h"
#include "model/nvme_pages.h"

namespace torvik {

namespace {

// Critical warning bits that mean the drive can no longer be trusted with data: spare below
// threshold (0), reliability degraded (2), read-only (3), volatile memory backup failed (4).
// Bit 1 (a temperature outside a threshold) passes when the drive cools: a warning.
constexpr std::uint8_t kFailingWarningBits = 0x1D;

std::string format(const char* fmt, auto... args) {
    char text[256];
    std::snprintf(text, sizeof text, fmt, args...);
    return text;
}

// "byte 5" or "bytes 3-4": where the fields first..last lie, in decimal.
std::string bytes_of(const FieldDef& first, const FieldDef& last) {
    const unsigned end = last.offset + last.width - 1u;
    if (first.offset == end)
        return format("byte %u", static_cast<unsigned>(first.offset));
    return format("bytes %u-%u", static_cast<unsigned>(first.offset), end);
}

std::string bytes_of(const FieldDef& field) {
    return bytes_of(field, field);
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

void nvme_rules(const NvmeSmartHealth& smart, const NvmeIdentity* identify, const char* page_name,
                std::vector<HealthReason>& out) {
    auto at = [page_name](const std::string& bytes) {
        return format("%s, %s", page_name, bytes.c_str());
    };
    const FieldDef* f = kNvmeSmartFields;

    const auto warning = static_cast<std::uint8_t>(smart[kSmartCriticalWarning]);
    const std::string warning_at = at(bytes_of(f[kSmartCriticalWarning]));
    if (warning == 0) {
        out.push_back(reason(HealthLevel::ok, f[kSmartCriticalWarning].name, small(0), "",
                             "Critical warning 0: no warning bit set", warning_at));
    } else {
        // Readers count the byte in bits: each set bit is named by its number.
        std::string names;
        for (unsigned bit = 0; bit < 8; ++bit) {
            if ((warning >> bit & 1) == 0)
                continue;
            const char* text = critical_warning_text(bit);
            names += format("%sbit %u: %s", names.empty() ? "" : "; ", bit,
                            text != nullptr ? text : "not named by the drive's log");
        }
        const HealthLevel level =
            (warning & kFailingWarningBits) != 0 ? HealthLevel::failed : HealthLevel::warning;
        out.push_back(reason(level, f[kSmartCriticalWarning].name, small(warning), "",
                             "Critical warning " + names, warning_at));
    }

    const auto spare = static_cast<unsigned>(smart[kSmartAvailableSpare]);
    const auto threshold = static_cast<unsigned>(smart[kSmartSpareThreshold]);
    const std::string spare_at = at(bytes_of(f[kSmartAvailableSpare], f[kSmartSpareThreshold]));
    if (spare < threshold) {
        out.push_back(reason(
            HealthLevel::failed, f[kSmartAvailableSpare].name, small(spare), "%",
            format("Available spare %u%% is below the drive's threshold of %u%%", spare, threshold),
            spare_at));
    } else {
        out.push_back(
            reason(HealthLevel::ok, f[kSmartAvailableSpare].name, small(spare), "%",
                   format("Available spare %u%% is at or above the drive's threshold of %u%%",
                          spare, threshold),
                   spare_at));
    }

    const auto used = static_cast<unsigned>(smart[kSmartPercentageUsed]);
    const HealthLevel wear = wear_level(used);
    out.push_back(reason(wear, f[kSmartPercentageUsed].name, small(used), "%",
                         format("Percentage used %u%%: %s", used, wear_rule(wear).c_str()),
                         at(bytes_of(f[kSmartPercentageUsed]))));

    const Uint128 errors = smart.values[kSmartMediaErrors];
    const bool any_errors = errors.high != 0 || errors.low != 0;
    out.push_back(reason(any_errors ? HealthLevel::warning : HealthLevel::ok,
                         f[kSmartMediaErrors].name, errors, "",
                         format("Media and data integrity errors %s%s", decimal_text(errors).text,
                                any_errors ? ": the drive met unrecovered data errors" : ""),
                         at(bytes_of(f[kSmartMediaErrors]))));

    const auto kelvin = static_cast<std::uint16_t>(smart[kSmartCompositeTemperature]);
    if (kelvin == 0)
        return;  // the drive reports no composite temperature
    const std::uint16_t warn = identify != nullptr ? identify->warning_temperature : 0;
    const std::uint16_t crit = identify != nullptr ? identify->critical_temperature : 0;
    const std::int32_t celsius = kelvin_to_celsius(kelvin);
    std::string source = at(bytes_of(f[kSmartCompositeTemperature]));
    HealthLevel level = HealthLevel::ok;
    std::string text;
    if (warn == 0 && crit == 0) {
        text = format("Composite temperature %d C: the drive gives no temperature thresholds",
                      static_cast<int>(celsius));
        if (identify == nullptr)
            text += " (NVMe Identify not read)";
    } else {
        source += "; NVMe Identify, " +
                  bytes_of(kIdentifyWarningTemperature, kIdentifyCriticalTemperature);
        // A temperature alone is a warning, at the critical threshold too: like critical
        // warning bit 1, it clears once the drive cools.
        if (crit != 0 && kelvin >= crit) {
            level = HealthLevel::warning;
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
    out.push_back(
        reason(level, f[kSmartCompositeTemperature].name, small(kelvin), "K", text, source));
}

void extended_rules(const ExtendedSmart& ext, const FlashGeometry* sysinfo,
                    std::vector<HealthReason>& out) {
    auto at = [](const ExtSmartRecord& r) {
        return format("extended SMART, IntId 0x%04X", static_cast<unsigned>(r.int_id));
    };

    if (const ExtSmartRecord* r = ext.find(kExtLifeRemaining)) {
        const std::uint64_t remaining = r->raw;
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
                             at(*r)));
    }
    if (const ExtSmartRecord* r = ext.find(kExtLifeUsed)) {
        const HealthLevel level = wear_level(r->raw);
        out.push_back(
            reason(level, "life_used", small(r->raw), "%",
                   format("SSD life used %llu%%: %s", static_cast<unsigned long long>(r->raw),
                          wear_rule(level).c_str()),
                   at(*r)));
    }
    const unsigned pe_limit = sysinfo != nullptr ? sysinfo->pe_limit_second : 0;
    const ExtSmartRecord* erases_record = ext.find(kExtAverageEraseCount);
    if (pe_limit != 0 && erases_record != nullptr) {
        const std::uint64_t erases = erases_record->raw;
        const HealthLevel level =
            wear_level(erases >= pe_limit ? kWornOut : erases * kWornOut / pe_limit);
        const FieldDef& limit = kPeLimitSecond;
        out.push_back(reason(
            level, "average_erase_count", small(erases), "",
            format("D2/D3 average erase count %llu of the flash's PE cycle limit %u: %s",
                   static_cast<unsigned long long>(erases), pe_limit, wear_rule(level).c_str()),
            at(*erases_record) + format("; sysinfo, bytes 0x%X-0x%X",
                                        static_cast<unsigned>(limit.offset),
                                        static_cast<unsigned>(limit.offset + limit.width - 1))));
    }
}

// "1 bit per cell", "3 bits per cell".
std::string bits_per_cell_text(unsigned bits) {
    return std::to_string(bits) + (bits == 1 ? " bit per cell" : " bits per cell");
}

std::string flash_note_text(const FlashFigures& f, FlashNote note, std::string& source) {
    std::uint32_t all_banks = 0;
    for (const FlashPart& part : f.parts)
        all_banks |= part.banks;
    const std::string banks = std::to_string(f.banks.value_or(0)) + " populated bank" +
                              (f.banks.value_or(0) == 1 ? "" : "s");
    const std::string counts_at = format(
        "sysinfo, bytes 0x%X and 0x%X-0x%X", static_cast<unsigned>(kFlashCe.offset),
        static_cast<unsigned>(kFlashCeMask.offset), kFlashCeMask.offset + kFlashCeMask.width - 1u);
    switch (note) {
        case FlashNote::mixed_flash_parts: {
            source = "fidall, banks " + bank_list_text(all_banks);
            std::string text = "The banks hold " + std::to_string(f.parts.size()) +
                               " different flash parts, as a drive rebuilt from mixed parts does: ";
            for (std::size_t i = 0; i < f.parts.size(); ++i) {
                text += (i == 0 ? "" : "; ") + flash_part_name(f.parts[i]) + " in bank" +
                        (std::has_single_bit(f.parts[i].banks) ? " " : "s ") +
                        bank_list_text(f.parts[i].banks);
            }
            return text;
        }
        case FlashNote::ce_count_mismatch: {
            source = "fidall; " + counts_at;
            std::string text =
                f.ce_count ? format(
                                 "The %s, Flash CE %u and the CE mask's %u bits disagree: a bank "
                                 "the page does not list may hold flash",
                                 banks.c_str(), *f.ce_count, *f.ce_mask_bits)
                           : "Flash CE and the CE mask were not read: the " + banks +
                                 " cannot be checked against them";
            if (f.offers_more_than_flash) {
                text += ", so the offer of " + gigabytes_text(*f.offered_bytes) +
                        " is not held against the " + gigabytes_text(Uint128{0, *f.bytes}) +
                        " of the listed banks";
            }
            return text;
        }
        case FlashNote::cell_mode: {
            source = "fidall flash IDs; " +
                     format("sysinfo, byte 0x%X", static_cast<unsigned>(kBitsPerCell.offset));
            // The first part run otherwise than its cells are made for.
            const unsigned bits = *f.bits_per_cell;
            CellType cell = CellType::slc;
            bool found = false;
            bool one_cell = true;
            for (const FlashPart& p : f.parts) {
                if (!found && p.fields.cell && flash_native_bits(*p.fields.cell) != bits) {
                    cell = *p.fields.cell;
                    found = true;
                }
                one_cell = one_cell && p.fields.cell == f.parts.front().fields.cell;
            }
            const char* mode = bits_per_cell_name(bits);
            std::string text = std::string(cell_type_text(cell) + 1) + " flash run at " +
                               bits_per_cell_text(bits) +
                               (mode != nullptr ? std::string(" (") + mode + " mode)" : "");
            if (f.bytes && one_cell && bits < flash_native_bits(cell)) {
                const std::uint64_t in_mode = *f.bytes / flash_native_bits(cell) * bits;
                text += ": it holds " + gigabytes_text(Uint128{0, in_mode}) + " that way, " +
                        gigabytes_text(Uint128{0, *f.bytes}) + " at " +
                        bits_per_cell_text(flash_native_bits(cell));
            }
            return text;
        }
        case FlashNote::flash_size_unknown:
            break;
    }
    source = "fidall";
    switch (f.unknown) {
        case FlashUnknown::banks_not_read:
            return "Flash size unknown: the bank page (fidall) could not be read";
        case FlashUnknown::no_bank:
            return "Flash size unknown: the bank page lists no populated bank";
        case FlashUnknown::unknown_capacity:
        case FlashUnknown::known:
            break;
    }
    source += format(", bank %u", f.unknown_bank);
    for (const FlashPart& part : f.parts) {
        if ((part.banks >> f.unknown_bank & 1) != 0) {
            return format(
                "Flash size unknown: the decoder knows no capacity for bank %u's flash "
                "ID %s",
                f.unknown_bank, flash_id_hex(part.bytes).c_str());
        }
    }
    return "Flash size unknown";
}

// The flash against the capacity offered: one line, failed or ok, when it can be judged, then the
// notes.
void flash_rules(const FlashFigures& f, std::vector<HealthReason>& out) {
    std::uint32_t all_banks = 0;
    std::string names;
    for (std::size_t i = 0; i < f.parts.size(); ++i) {
        all_banks |= f.parts[i].banks;
        names += (i == 0 ? "" : " and ") + flash_part_name(f.parts[i]);
    }
    std::string source = f.bytes ? "fidall, banks " + bank_list_text(all_banks) + "; " : "";
    source += "READ CAPACITY";
    if (f.nvme_total_bytes)
        source += "; NVMe Identify, " + bytes_of(kIdentifyTotalCapacity);
    if (f.exceeds) {
        const std::string usable = gigabytes_text(f.usable_bytes);
        out.push_back(reason(
            HealthLevel::failed, kCapacityExceedsFlash, *f.offered_bytes, "B",
            "Offers " + gigabytes_text(*f.offered_bytes) +
                (f.usable_by_nvme_total ? " but the NVMe drive's total capacity is "
                                        : " but its flash holds ") +
                usable +
                ": data written past that is lost (a counterfeit or a capacity set wrong); copy "
                "your data off and use no more than " +
                usable,
            source));
    } else if (f.consistent) {
        out.push_back(reason(HealthLevel::ok, kCapacityExceedsFlash, *f.offered_bytes, "B",
                             "Flash " + gigabytes_text(Uint128{0, *f.bytes}) + " in " +
                                 std::to_string(*f.banks) +
                                 (*f.banks == 1 ? " bank of " : " banks of ") + names +
                                 "; offers " + gigabytes_text(*f.offered_bytes) + ", " +
                                 permille_percent_text(*f.kept_back_permille) + " kept back",
                             source));
    }
    for (const FlashNote note : f.notes) {
        std::string at;
        std::string text = flash_note_text(f, note, at);
        const std::uint64_t value = note == FlashNote::mixed_flash_parts   ? f.parts.size()
                                    : note == FlashNote::ce_count_mismatch ? f.banks.value_or(0)
                                    : note == FlashNote::cell_mode ? f.bits_per_cell.value_or(0)
                                                                   : 0;
        out.push_back(reason(HealthLevel::note, flash_note_name(note), small(value), "",
                             std::move(text), std::move(at)));
    }
}

// The worst level of the lines, notes aside: any failed line fails the drive, whatever the
// source; without a health page the verdict is otherwise unknown.
HealthVerdict verdict_of(const std::vector<HealthReason>& reasons, HealthSource source) {
    HealthVerdict verdict = HealthVerdict::passed;
    for (const HealthReason& r : reasons) {
        if (r.level == HealthLevel::failed)
            return HealthVerdict::failed;
        if (r.level == HealthLevel::warning)
            verdict = HealthVerdict::warning;
    }
    return source == HealthSource::none ? HealthVerdict::unknown : verdict;
}

}  // namespace

HealthAssessment assess_health(const HealthPages& pages) {
    HealthAssessment health;
    // A page of zeros would pass every rule: it counts as not read.
    const NvmeSmartHealth* bridge =
        pages.nvme_smart_bridge != nullptr && pages.nvme_smart_bridge->any ? pages.nvme_smart_bridge
                                                                           : nullptr;
    const NvmeSmartHealth* controller =
        pages.nvme_smart_controller != nullptr && pages.nvme_smart_controller->any
            ? pages.nvme_smart_controller
            : nullptr;
    const ExtendedSmart* smartext =
        pages.smartext != nullptr && pages.smartext->any ? pages.smartext : nullptr;
    const NvmeIdentity* identify =
        pages.nvme_identify != nullptr && pages.nvme_identify->any ? pages.nvme_identify : nullptr;
    const bool bridge_noted = bridge == nullptr && !pages.bridge_note.empty();
    if (bridge_noted) {
        health.reasons.push_back(reason(HealthLevel::unknown, "usb_bridge", small(0), "",
                                        pages.bridge_note,
                                        "the USB bridge's vendor and product ID"));
    }
    const std::size_t noted = health.reasons.size();
    if (bridge != nullptr) {
        health.source = HealthSource::nvme_smart_bridge;
        nvme_rules(*bridge, identify, "NVMe SMART log via the bridge", health.reasons);
    } else if (controller != nullptr) {
        health.source = HealthSource::nvme_smart_controller;
        nvme_rules(*controller, identify, "NVMe SMART log, controller copy", health.reasons);
    } else if (smartext != nullptr) {
        health.source = HealthSource::extended_smart;
        extended_rules(*smartext, pages.sysinfo, health.reasons);
    }
    if (health.reasons.size() == noted) {
        health.source = HealthSource::none;
        health.reasons.push_back(
            reason(HealthLevel::unknown, "health_pages", small(0), "",
                   smartext != nullptr ? "The extended SMART page holds no life figures, and no "
                                         "NVMe SMART/Health log could be read"
                                       : "No NVMe SMART/Health log and no extended SMART page "
                                         "could be read (failed, not sent or all zeros)",
                   "nvme_smart, smart and smartext pages"));
    }
    if (pages.flash != nullptr) {
        flash_rules(*pages.flash, health.reasons);
        if (health.source == HealthSource::none && pages.flash->exceeds)
            health.source = HealthSource::flash;
    }
    // Beside a verdict from another page, the bridge's missing log is a fact, not a figure.
    if (bridge_noted && health.source != HealthSource::none)
        health.reasons.front().level = HealthLevel::note;
    health.verdict = verdict_of(health.reasons, health.source);
    return health;
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
        case HealthLevel::note:
            return "note";
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
        case HealthSource::flash:
            return "flash";
        case HealthSource::none:
            break;
    }
    return nullptr;
}

}  // namespace torvik
