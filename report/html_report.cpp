#include "report/html_report.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "common/uint128.h"
#include "common/utc_time.h"
#include "flashid/flash_id.h"
#include "model/attribute_table.h"
#include "model/drive_model.h"
#include "model/key_figures.h"
#include "report/html_page.h"
#include "report/json_report.h"
#include "report/number_format.h"
#include "report/wear_chart.h"

namespace torvik {

namespace {

std::string decimal(Uint128 value) {
    return decimal_text(value).text;
}

std::string decimal(std::uint64_t value) {
    return decimal(Uint128{0, value});
}

std::string decimal(std::int64_t value) {
    return std::to_string(value);
}

// An id as the health log and the verdict's reasons write it: 0x020F.
std::string hex_id(std::uint64_t value, int digits) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%0*llX", digits, static_cast<unsigned long long>(value));
    return text;
}

// Where the verdict's figures came from, in words.
const char* source_words(HealthSource source) {
    switch (source) {
        case HealthSource::nvme_smart_bridge:
            return "the NVMe SMART / Health log read through the bridge";
        case HealthSource::nvme_smart_controller:
            return "the controller's own copy of the NVMe SMART / Health log";
        case HealthSource::extended_smart:
            return "the controller's extended SMART page";
        case HealthSource::flash:
        case HealthSource::none:
            break;
    }
    return "no page: the drive gave none that holds them";
}

// A bridge that does not carry the NVMe tunnel is a limitation of the bridge, not a failure.
bool bridge_limit(const FailedCommand& failure) {
    return command_info(failure.command).form == CommandForm::tunnel;
}

// Numbers that a reader keeping them as doubles holds exactly: the page draws bars only for them.
constexpr double kLargestExactInteger = 9007199254740992.0;  // 2^53

bool exact(Uint128 value) {
    return value.high == 0 && static_cast<double>(value.low) <= kLargestExactInteger;
}

// The level the verdict gave a field, or "" when it did not judge it.
std::string reason_level(const HealthAssessment& health, const char* field) {
    for (const HealthReason& reason : health.reasons) {
        if (std::string(reason.field) == field)
            return level_name(reason.level);
    }
    return "";
}

// The page's top: the drive's name, the verdict and each of its reasons, what a reader came for.
void verdict_section(HtmlPage& page, const RunInfo& run, const DriveModel& drive) {
    const HealthVerdict verdict = drive.health.verdict;
    const char* cls = verdict == HealthVerdict::passed    ? "ok"
                      : verdict == HealthVerdict::warning ? "warning"
                      : verdict == HealthVerdict::failed  ? "failed"
                                                          : "unknown";
    const bool identity = drive.has(CommandId::inquiry);
    page.add("<section class=\"head\">");
    page.add("<h1>" + (identity ? html_escape(drive.identity.model) : std::string("Drive")) +
             "</h1>");
    page.add("<p class=\"sub\">Drive report of torvik_usb_pssd_flash_id " +
             html_escape(run.tool_version) + "</p>");
    page.add("<div class=\"badge b-" + std::string(cls) + "\">" + verdict_name(verdict) +
             "</div><ul class=\"reasons\">");
    for (const HealthReason& reason : drive.health.reasons) {
        const std::string level = level_class(level_name(reason.level));
        page.add("<li class=\"" + level + "\"><b>" + level + "</b> " + html_escape(reason.text) +
                 " <span class=\"src\">[" + html_escape(reason.source) + "]</span></li>");
    }
    page.add("</ul></section>");
}

// Which drive this is and how it was reached: after the verdict, what is inside and what failed.
void identity_section(HtmlPage& page, const RunInfo& run, const DriveModel& drive) {
    const bool identity = drive.has(CommandId::inquiry);
    page.add("<section id=\"identity\"><h2>Drive</h2><table class=\"kv\">");
    auto row = [&page](const std::string& name, const std::string& value) {
        page.add("<tr><th>" + name + "</th><td>" + value + "</td></tr>");
    };
    // The USB bridge's texts and, beside them, the NVMe drive's own.
    if (identity) {
        row("Model (USB bridge)", html_escape(drive.identity.model));
        row("Firmware revision (USB bridge)", html_escape(drive.identity.revision));
        row("Serial number (USB bridge)", html_escape(drive.identity.serial));
    }
    if (const NvmeIdentity* nvme = nvme_identity_texts(drive)) {
        row("Model (NVMe)", html_escape(identify_text(nvme->model_number)));
        row("Firmware revision (NVMe)", html_escape(identify_text(nvme->firmware_revision)));
        row("Serial number (NVMe)", html_escape(identify_text(nvme->serial_number)));
    }
    if (drive.last_lba) {
        const Uint128 bytes = size_in_bytes(*drive.last_lba);
        if (exact(bytes)) {
            row("Size", fixed_text(static_cast<double>(bytes.low) / 1e9, 1) + " GB (" +
                            decimal(bytes) + " bytes)");
        }
    }
    if (drive.has(CommandId::read_info)) {
        row("Controller", controller_name(drive.controller_id).text +
                              std::string(drive.controller_supported
                                              ? " (supported)"
                                              : " (not supported: the report stops here)"));
    }
    std::string where = "Drive " + std::to_string(run.drive) + " on " + html_escape(run.bus);
    if (!run.simulation.empty()) {
        where += ", simulated (" + html_escape(run.simulation) + ": " +
                 html_escape(run.simulation_source) + ")";
    }
    row("Drive", where);
    if (drive.bridge.id || drive.bridge.form) {
        row("USB bridge",
            (drive.bridge.id ? usb_id_text(*drive.bridge.id) : std::string("ID not known")) +
                ", NVMe tunnel " +
                (drive.bridge.form ? std::string(bridge_form_name(*drive.bridge.form))
                 : drive.bridge.kind == BridgeKind::sata
                     ? std::string("none (a SATA bridge)")
                     : std::string("none (not a known NVMe bridge)")));
    }
    row("Run time", drive.run_time
                        ? format_utc_time(*drive.run_time)
                        : std::string("unknown: the replayed folder does not record it"));
    page.add("</table></section>");
}

double approximately(Uint128 value) {
    return static_cast<double>(value.high) * 18446744073709551616.0 +
           static_cast<double>(value.low);
}

// A capacity as the flash line of the verdict gives it, with its bytes: "1,099.5 GB
// (1,099,511,627,776 bytes)".
std::string capacity_text(Uint128 bytes) {
    return gigabytes_text(bytes) + " (" +
           (bytes.high == 0 ? grouped_digits(bytes.low) : decimal(bytes)) + " bytes)";
}

// What the drive is made of against what it offers: one bar of the flash the banks hold with the
// offered capacity marked on it, the figures beside it, and each flash part with its banks.
void inside_section(HtmlPage& page, const DriveModel& drive) {
    if (!drive.flash)
        return;
    const FlashFigures& f = *drive.flash;
    page.add("<section id=\"inside\"><h2>What's inside</h2>");
    if (f.bytes && f.offered_bytes) {
        const auto flash = static_cast<double>(*f.bytes);
        const double offered = approximately(*f.offered_bytes);
        page.bar("Flash against the capacity offered",
                 gigabytes_text(Uint128{0, *f.bytes}) + " of flash", flash,
                 std::max(flash, offered), reason_level(drive.health, kCapacityExceedsFlash),
                 {{offered, "offers " + gigabytes_text(*f.offered_bytes)}},
                 "The bar is the flash the banks hold; the line, the capacity the drive offers.");
    }
    auto count = [](const std::optional<unsigned>& n) {
        return n ? std::to_string(*n) : std::string("not read");
    };
    HtmlRow rows = {
        {"Flash", f.bytes ? capacity_text(Uint128{0, *f.bytes}) : std::string("unknown")},
        {"Offered", f.offered_bytes ? capacity_text(*f.offered_bytes) : std::string("unknown")}};
    if (f.nvme_total_bytes)
        rows.push_back({"NVMe total capacity", capacity_text(*f.nvme_total_bytes)});
    if (f.offers_more_than_flash) {
        const Uint128 offered = *f.offered_bytes;
        const Uint128 beyond{offered.high - (offered.low < *f.bytes ? 1 : 0),
                             offered.low - *f.bytes};
        rows.push_back({"Offered beyond the flash", capacity_text(beyond)});
    } else if (f.kept_back_permille) {
        rows.push_back({"Kept back", permille_percent_text(*f.kept_back_permille)});
    }
    rows.push_back({"Populated banks", count(f.banks)});
    rows.push_back({"Flash CE", count(f.ce_count)});
    rows.push_back({"CE mask bits", count(f.ce_mask_bits)});
    page.key_value_table(rows);
    std::vector<HtmlRow> parts;
    for (const FlashPart& part : f.parts) {
        HtmlRow row = {{"Part", html_escape(flash_part_name(part)), false},
                       {"Flash ID", "<code>" + flash_id_hex(part.bytes) + "</code>", false}};
        if (part.fields.capacity)
            row.push_back({"Capacity per chip enable",
                           grouped_digits(part.fields.capacity->per_ce_gb) + " Gb"});
        row.push_back({"Banks", bank_list_text(part.banks), false});
        parts.push_back(std::move(row));
    }
    if (!parts.empty())
        page.array_table(parts);
    page.add("</section>");
}

// Real failures in a red box before any figure, each with the page it left unread; the tunnel
// reads a bridge cannot carry out in an information box that says where the figures came from.
void failures_alert(HtmlPage& page, const DriveModel& drive) {
    std::vector<FailedCommand> failures;
    std::vector<FailedCommand> limits;
    for (const FailedCommand& f : drive.failures)
        (bridge_limit(f) ? limits : failures).push_back(f);
    if (!limits.empty()) {
        char error[16];
        std::snprintf(error, sizeof error, "0x%x", static_cast<unsigned>(limits[0].error));
        page.add(
            "<section class=\"info\" id=\"bridge-limits\"><h2>The bridge does not pass NVMe "
            "commands through</h2><p>The USB bridge did not pass ");
        for (std::size_t i = 0; i < limits.size(); ++i) {
            page.add(std::string(i == 0                   ? ""
                                 : i + 1 == limits.size() ? " and "
                                                          : ", ") +
                     html_escape(command_info(limits[i].command).words));
        }
        page.add(std::string(" through its tunnel (error ") + error +
                 "). Some bridges cannot: this is a limitation of the bridge, not a fault of the "
                 "drive. The health figures below come from " +
                 html_escape(source_words(drive.health.source)) + ".</p></section>");
    }
    if (failures.empty())
        return;
    page.add("<section class=\"alert\" id=\"failed-commands\"><h2>" +
             std::to_string(failures.size()) + (failures.size() == 1 ? " command" : " commands") +
             " failed: the figures drawn from their pages are missing</h2>" + kWideBox + "<table>" +
             "<tr><th>command</th><th>page not read</th><th>dump file</th><th>error</th>"
             "<th>report name</th></tr>");
    for (const FailedCommand& f : failures) {
        const CommandInfo& command = command_info(f.command);
        char error[16];
        std::snprintf(error, sizeof error, "0x%x", static_cast<unsigned>(f.error));
        page.add(
            "<tr class=\"failed\"><td>FAILED " + html_escape(command.page_name) + "</td><td>" +
            html_escape(command.words) + "</td><td>" + html_escape(command.dump_name) +
            "</td><td>" + error + "</td><td>" +
            (command.failure_name != nullptr ? html_escape(command.failure_name) : std::string()) +
            "</td></tr>");
    }
    page.add(std::string("</table>") + kWideBoxEnd + "</section>");
}

// A section whose page failed: its title and "not read", in place of the zeros the text report
// and the health log print for it. False when the page was not sent at all.
bool not_read(HtmlPage& page, const DriveModel& drive, CommandId id, const char* title) {
    if (!drive.commands[static_cast<std::size_t>(id)].failed)
        return false;
    page.add(std::string("<section><h2>") + title +
             "</h2><p class=\"na\">Not read: " + html_escape(command_info(id).words) +
             " failed, so its figures are not shown.</p></section>");
    return true;
}

// The figures of the NVMe log the verdict was judged from.
void nvme_figures(HtmlPage& page, const HealthAssessment& health, const KeyFigures& k) {
    const KeyFigures::NvmeCounters& c = *k.counters;
    const FieldDef* f = kNvmeSmartFields;
    const auto used = static_cast<double>(k.percentage_used.value_or(0));
    const std::string used_level = reason_level(health, f[kSmartPercentageUsed].name);
    page.bar("Life used (percentage used)", fixed_text(used, 0) + "%", used, kWornOut, used_level,
             {{kWearWarning, "warning at " + std::to_string(kWearWarning) + "%"}});
    const double left = std::max(0.0, kWornOut - used);
    page.bar("Life remaining", fixed_text(left, 0) + "%", left, kWornOut, used_level, {});
    const auto spare = static_cast<double>(k.available_spare.value_or(0));
    const auto threshold = static_cast<double>(k.spare_threshold.value_or(0));
    page.bar("Available spare", fixed_text(spare, 0) + "%", spare, 100,
             reason_level(health, f[kSmartAvailableSpare].name),
             {{threshold, "drive's threshold " + fixed_text(threshold, 0) + "%"}});

    if (k.temperature_celsius) {
        const auto celsius = static_cast<double>(*k.temperature_celsius);
        std::vector<std::pair<double, std::string>> marks;
        double full = 100;
        for (const auto& [declared, name] :
             {std::pair{k.warning_temperature_celsius, "warning "},
              std::pair{k.critical_temperature_celsius, "critical "}}) {
            if (!declared)
                continue;
            const auto limit = static_cast<double>(*declared);
            marks.emplace_back(limit, name + fixed_text(limit, 0) + " C");
            full = std::max(full, limit + 10);
        }
        // Coloured against the drive's own thresholds; neutral where it declares none.
        page.bar("Composite temperature", fixed_text(celsius, 0) + " C", celsius, full,
                 marks.empty() ? "" : reason_level(health, f[kSmartCompositeTemperature].name),
                 marks, marks.empty() ? "The drive declares no temperature thresholds." : "");
    } else {
        page.figure("Composite temperature", "no sensor", "");
    }

    page.figure("Media and data integrity errors", decimal(c.media_errors),
                reason_level(health, f[kSmartMediaErrors].name));
    page.figure("Power-on time",
                exact(c.power_on_hours) ? hours_and_days(c.power_on_hours.low)
                                        : decimal(c.power_on_hours) + " h",
                "");
    page.figure("Power cycles", decimal(c.power_cycles), "");
    page.figure("Unsafe shutdowns", decimal(c.unsafe_shutdowns), "");
    for (const auto& [units, title] :
         {std::pair{c.data_units_read, "Data read"}, {c.data_units_written, "Data written"}}) {
        page.figure(
            title,
            exact(units)
                ? fixed_text(static_cast<double>(units.low) * kBytesPerDataUnit / 1e12, 2) + " TB"
                : decimal(units) + " data units",
            "");
    }
}

// No NVMe log: the vendor's life figures, when the extended SMART page has them.
void vendor_figures(HtmlPage& page, const HealthAssessment& health, const KeyFigures& k) {
    bool any = false;
    if (const auto left = k.life_remaining_record; left && exact(Uint128{0, *left})) {
        const auto v = static_cast<double>(*left);
        const unsigned warn_left = kWornOut - kWearWarning;
        page.bar("Life remaining (extended SMART)", fixed_text(v, 0) + "%", v, kWornOut,
                 reason_level(health, "life_remaining"),
                 {{warn_left, "warning at " + std::to_string(warn_left) + "%"}});
        any = true;
    }
    if (const auto erases = k.average_erase_count;
        erases && exact(Uint128{0, *erases}) && k.rated_pe_cycles) {
        const auto v = static_cast<double>(*erases);
        const auto limit = static_cast<double>(*k.rated_pe_cycles);
        const double warn = limit * kWearWarning / kWornOut;
        page.bar("Average erase count against the rated P/E cycles",
                 grouped_digits(*erases) + " / " + grouped_digits(*k.rated_pe_cycles), v, limit,
                 reason_level(health, "average_erase_count"),
                 {{warn, "warning at " + std::to_string(kWearWarning) + "% (" +
                             grouped_digits(static_cast<std::uint64_t>(warn)) + ")"}});
        any = true;
    }
    if (const auto chip = k.chip_temperature_celsius) {
        const auto v = static_cast<double>(*chip);
        std::vector<std::pair<double, std::string>> marks;
        if (const auto highest = k.highest_temperature_celsius)
            marks.emplace_back(static_cast<double>(*highest),
                               "highest seen " + std::to_string(*highest) + " C");
        page.bar("Chip temperature (extended SMART)", fixed_text(v, 0) + " C", v, 100, "", marks,
                 "The vendor pages declare no temperature thresholds.");
        any = true;
    }
    if (const auto seconds = k.system_power_on_seconds) {
        page.figure("Power-on time (system status)", hours_and_days(*seconds / 3600), "");
        any = true;
    }
    if (!any)
        page.add("<p>No health figures could be read from the drive.</p>");
}

void key_figures_section(HtmlPage& page, const HealthAssessment& health,
                         const KeyFigures& figures) {
    page.add("<section><h2>Key health figures</h2><div class=\"gauges\">");
    if (figures.counters)
        nvme_figures(page, health, figures);
    else
        vendor_figures(page, health, figures);
    page.add("</div></section>");
}

// The decoded fields of a flash ID, as the JSON report names them.
HtmlRow flash_rows(const FlashFields& fields) {
    auto trimmed = [](const char* text) { return std::string(text[0] == ' ' ? text + 1 : text); };
    char description[kFlashDescriptionSize];
    format_flash_description(fields, description, sizeof description);
    HtmlRow rows = {{"Description", html_escape(description), false}};
    if (fields.maker != nullptr)
        rows.push_back({"Maker", html_escape(fields.maker), false});
    if (fields.node != nullptr)
        rows.push_back({"Process node", html_escape(trimmed(fields.node)), false});
    if (fields.part != nullptr)
        rows.push_back({"Part", html_escape(trimmed(fields.part)), false});
    if (fields.cell)
        rows.push_back({"Cell type", html_escape(trimmed(cell_type_text(*fields.cell))), false});
    if (fields.page_kib)
        rows.push_back({"Page size", std::to_string(*fields.page_kib) + " KiB"});
    if (fields.capacity) {
        rows.push_back(
            {"Capacity per chip enable", grouped_digits(fields.capacity->per_ce_gb) + " Gb"});
        rows.push_back({"Capacity per die", grouped_digits(fields.capacity->per_die_gb) + " Gb"});
    }
    if (fields.planes_per_die)
        rows.push_back({"Planes per die", std::to_string(*fields.planes_per_die)});
    return rows;
}

void flash_section(HtmlPage& page, const DriveModel& drive) {
    // Distinct flash IDs by their bytes, each with the banks it was read from.
    std::vector<std::pair<const FlashReading*, std::string>> ids;
    auto note = [&](const FlashReading& id, const std::string& where) {
        const auto it = std::find_if(ids.begin(), ids.end(), [&](const auto& seen) {
            return seen.first->bytes == id.bytes;
        });
        if (it == ids.end()) {
            ids.emplace_back(&id, where);
        } else if (!where.empty()) {
            it->second += (it->second.empty() ? "" : ", ") + where;
        }
    };
    if (drive.has(CommandId::read_fid) && flash_id_present(drive.flash_id.bytes))
        note(drive.flash_id, "");
    std::uint32_t banks_present = 0;
    if (drive.has(CommandId::fidall)) {
        for (unsigned bank = 0; bank < kFlashBanks; ++bank) {
            if (!flash_id_present(drive.banks[bank].bytes))
                continue;
            note(drive.banks[bank], std::to_string(bank));
            banks_present |= std::uint32_t{1} << bank;
        }
    }
    const bool sysinfo = drive.has(CommandId::sysinfo);
    if (ids.empty() && !sysinfo && !drive.has(CommandId::infoblock))
        return;
    page.add("<section><h2>Flash</h2><div class=\"flash\">");
    for (const auto& [id, where] : ids) {
        std::string hex;
        for (const std::uint8_t b : id->bytes) {
            char byte[8];
            std::snprintf(byte, sizeof byte, "%s%02X", hex.empty() ? "" : " ", b);
            hex += byte;
        }
        page.add("<div><h3><code>" + hex + "</code></h3><table class=\"kv\">");
        for (const HtmlCell& cell : flash_rows(id->fields))
            page.add("<tr><th>" + label_of(cell.name) + "</th><td>" + cell.text + "</td></tr>");
        page.add("<tr><th>Read from banks</th><td>" + (where.empty() ? std::string("-") : where) +
                 "</td></tr></table></div>");
    }
    page.add("</div>");
    if (sysinfo) {
        const std::uint32_t mask = drive.geometry.ce_mask;
        // One cell per chip enable, wrapping as the style sheet says: eight to a row where
        // there is room, four in a narrow window.
        page.add("<h3>Chip enables (CE mask)</h3><div class=\"ce-grid\">");
        for (unsigned ce = 0; ce < 32; ++ce) {
            const bool on = (mask >> ce & 1) != 0;
            const bool read = (banks_present >> ce & 1) != 0;
            page.add(std::string("<span class=\"ce") + (on ? " on" : "") + (read ? " fid" : "") +
                     "\">CE" + std::to_string(ce) + "</span>");
        }
        page.add(
            "</div><p class=\"src\">Blue: a chip enable the controller's configuration "
            "lists as fitted (mask " +
            hex_id(mask, 8) +
            "). Orange dot: a flash ID was read from the flash bank of that number.</p>");
    }
    page.add("</section>");
}

void section(HtmlPage& page, const char* title, const HtmlRow& rows) {
    page.add(std::string("<section><h2>") + title + "</h2>");
    page.key_value_table(rows);
    page.add("</section>");
}

void table_section(HtmlPage& page, const char* title, const std::vector<HtmlRow>& rows) {
    page.add(std::string("<section><h2>") + title + "</h2>");
    if (rows.empty())
        page.add("<p>None.</p>");
    else
        page.array_table(rows);
    page.add("</section>");
}

void configuration_section(HtmlPage& page, const DriveModel& drive) {
    const bool sysinfo = drive.has(CommandId::sysinfo);
    if (!sysinfo && !drive.has(CommandId::infoblock)) {
        not_read(page, drive, CommandId::sysinfo, "Controller configuration");
        return;
    }
    HtmlRow rows;
    if (sysinfo) {
        const FlashGeometry& g = drive.geometry;
        auto add = [&rows](const char* name, std::uint64_t value, const char* unit = "") {
            rows.push_back({name, grouped_digits(value) + unit});
        };
        add("CPU clock", g.cpu_clock, " MHz");
        add("Chip enables", g.ce_count);
        add("Flash channels", g.channels);
        add("Interleave", g.interleave);
        rows.push_back({"Chip enable mask", hex_id(g.ce_mask, 8)});
        add("Flash clock", g.flash_clock, " MT/s");
        add("Dies per chip enable", g.dies_per_ce);
        add("Blocks per chip enable", g.blocks_per_ce);
        add("Pages per block", g.pages_per_block);
        const char* cell = bits_per_cell_name(g.bits_per_cell);
        rows.push_back({"Bits per cell",
                        std::to_string(g.bits_per_cell) +
                            (cell != nullptr ? std::string(" (") + cell + ")" : std::string())});
        rows.push_back({"Rated P/E cycles", grouped_digits(g.pe_limit_first) + " (SLC) / " +
                                                grouped_digits(g.pe_limit_second) + " (native)"});
    }
    if (drive.has(CommandId::infoblock)) {
        rows.push_back({"SLC cache", hex_id(drive.slc_cache.first, 1) + " / " +
                                         hex_id(drive.slc_cache.second, 1)});
    }
    section(page, "Controller configuration", rows);
}

void attribute_section(HtmlPage& page, const DriveModel& drive) {
    if (!drive.has(CommandId::infoblock)) {
        not_read(page, drive, CommandId::infoblock, "Attribute slots");
        return;
    }
    std::vector<HtmlRow> rows;
    for (std::size_t k = 0; k < kAttributeSlotCount; ++k) {
        const AttributeSlot& slot = drive.attribute_slots[k];
        if (slot.attr == 0)
            continue;  // an empty slot
        HtmlRow row = {{"Slot", std::to_string(k)},
                       {"Attribute", hex_id(slot.attr, 2)},
                       {"Threshold", std::to_string(slot.threshold)},
                       {"Flags", hex_id(slot.flags, 2)},
                       {"Value id", hex_id(slot.value_id, 4)},
                       {"Worst id", hex_id(slot.worst_id, 4)},
                       {"Raw id", hex_id(slot.raw_id, 4)}};
        if (const char* text = find_attribute_description(slot.raw_id))
            row.push_back({"Description", html_escape(text), false});
        rows.push_back(std::move(row));
    }
    table_section(page, "Attribute slots", rows);
}

void nvme_smart_section(HtmlPage& page, const NvmeSmartHealth& smart, const char* title) {
    HtmlRow rows;
    for (std::size_t i = 0; i < kNvmeSmartFieldCount; ++i) {
        const FieldDef& field = kNvmeSmartFields[i];
        if (i == kSmartCriticalWarning) {
            const std::uint64_t warning = smart[i];
            const std::string texts = joined_critical_warnings(warning);
            rows.push_back({field.name, html_escape(decimal(warning) +
                                                    (texts.empty() ? "" : " (" + texts + ")"))});
        } else if (field.unit == Unit::kelvin) {
            const auto kelvin = static_cast<std::uint16_t>(smart[i]);
            const bool sensor = i != kSmartCompositeTemperature;
            if (sensor && kelvin == 0)
                continue;  // no such sensor
            rows.push_back({field.name, std::to_string(kelvin_to_celsius(kelvin)) + " C"});
        } else if (i == kSmartPowerOnHours && exact(smart.values[i])) {
            rows.push_back({field.name, hours_and_days(smart[i])});
        } else {
            rows.push_back({field.name, decimal(smart.values[i])});
        }
    }
    section(page, title, rows);
}

void extended_smart_section(HtmlPage& page, const DriveModel& drive) {
    if (!drive.has(CommandId::smartext) || !drive.extended_smart.any) {
        not_read(page, drive, CommandId::smartext, "Extended SMART");
        return;
    }
    std::vector<HtmlRow> rows;
    for (const ExtSmartRecord& r : drive.extended_smart.records) {
        HtmlRow row = {{"Number", std::to_string(r.number)},
                       {"Id", hex_id(r.int_id, 4)},
                       {"Raw value", grouped_digits(r.raw)}};
        if (const char* text = find_attribute_description(r.int_id))
            row.push_back({"Description", html_escape(text), false});
        rows.push_back(std::move(row));
    }
    table_section(page, "Extended SMART", rows);
}

template <std::size_t N, std::size_t M>
void counters_section(HtmlPage& page, const char* title, const FieldDef (&fields)[N],
                      const std::array<std::uint64_t, M>& values) {
    static_assert(N == M);
    HtmlRow rows;
    for (std::size_t i = 0; i < N; ++i) {
        if (fields[i].unit == Unit::seconds)
            rows.push_back({fields[i].name, hours_and_days(values[i] / 3600)});
        else
            rows.push_back({fields[i].name, fields[i].is_signed
                                                ? decimal(static_cast<std::int64_t>(values[i]))
                                                : decimal(values[i])});
    }
    section(page, title, rows);
}

bool same_log(const NvmeSmartHealth& a, const NvmeSmartHealth& b) {
    for (std::size_t i = 0; i < kNvmeSmartFieldCount; ++i) {
        if (a.values[i].high != b.values[i].high || a.values[i].low != b.values[i].low)
            return false;
    }
    return true;
}

void files_section(HtmlPage& page, const DriveModel& drive) {
    page.add(std::string("<section><h2>Files of this run</h2>") + kWideBox + "<table>" +
             "<tr><th>file</th><th>outcome</th></tr>");
    for (const FileOutcome outcome :
         {FileOutcome::not_created, FileOutcome::write_failed, FileOutcome::written}) {
        for (const FileRecord& file : drive.files) {
            if (file.outcome != outcome)
                continue;
            const bool ok = outcome == FileOutcome::written;
            page.add(std::string(ok ? "<tr>" : "<tr class=\"failed\">") + "<td>" +
                     html_escape(file.name) + "</td><td>" + label_of(file_outcome_name(outcome)) +
                     "</td></tr>");
        }
    }
    page.add(std::string("</table>") + kWideBoxEnd + "</section>");
}

}  // namespace

std::string html_report(const RunInfo& run, const DriveModel& drive, const KeyFigures& figures) {
    HtmlPage page((drive.has(CommandId::inquiry) ? drive.identity.model + " - " : std::string()) +
                  "Health " + verdict_name(drive.health.verdict));
    verdict_section(page, run, drive);
    inside_section(page, drive);
    failures_alert(page, drive);
    identity_section(page, run, drive);
    key_figures_section(page, drive.health, figures);
    if (drive.trend)
        page.add(wear_chart_section(*drive.trend));
    flash_section(page, drive);
    configuration_section(page, drive);
    attribute_section(page, drive);
    // The two copies of the NVMe log: the controller's only where it differs from the bridge's.
    const bool bridge = drive.has(CommandId::nvme_smart_log) && drive.smart_bridge.any;
    const bool controller = drive.has(CommandId::smart) && drive.smart_controller.any;
    if (bridge && controller && same_log(drive.smart_bridge, drive.smart_controller)) {
        nvme_smart_section(page, drive.smart_bridge,
                           "NVMe SMART / Health (through the bridge; the controller's copy "
                           "reads the same)");
    } else {
        if (bridge)
            nvme_smart_section(page, drive.smart_bridge, "NVMe SMART / Health, through the bridge");
        if (controller)
            nvme_smart_section(page, drive.smart_controller,
                               "NVMe SMART / Health, controller copy");
        else
            not_read(page, drive, CommandId::smart, "NVMe SMART / Health, controller copy");
    }
    extended_smart_section(page, drive);
    if (drive.has(CommandId::sysinfo)) {
        counters_section(page, "System status", kSystemStatusFields, drive.status.system);
        counters_section(page, "Flash status", kFlashStatusFields, drive.status.flash);
    } else {
        not_read(page, drive, CommandId::sysinfo, "System and flash status");
    }
    if (std::none_of(drive.failures.begin(), drive.failures.end(),
                     [](const FailedCommand& f) { return !bridge_limit(f); })) {
        page.add(std::string("<section><h2>Failed commands</h2><p class=\"ok\">") +
                 (drive.failures.empty() ? "None: every command the report sent was answered."
                                         : "None but the bridge's tunnel reads named at the top.") +
                 "</p></section>");
    }
    files_section(page, drive);
    return page.finish("torvik_usb_pssd_flash_id " + run.tool_version + " (" + run.platform + ")");
}

}  // namespace torvik
