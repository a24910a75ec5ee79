#include "report/json_report.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <iterator>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include <algorithm>

#include "common/utc_time.h"
#include "flashid/flash_id.h"
#include "model/attribute_table.h"
#include "model/drive_model.h"
#include "model/flash_counters.h"
#include "model/key_figures.h"
#include "model/nvme_pages.h"
#include "platform/storage_descriptor.h"
#include "report/all_drives_summary.h"
#include "report/drive_list.h"

namespace torvik {

namespace {

// Keys keep the order in which they are written, so the file reads like the text report.
using Json = nlohmann::ordered_json;

// The USB bridge: its ID and the tunnel form of the NVMe reads (null: not known, none), and
// "kind": "sata" for a bridge the bridge table lists as a SATA bridge.
Json usb_bridge(const std::optional<UsbId>& id, const std::optional<BridgeForm>& form, bool sata) {
    Json bridge = {{"id", id ? Json(usb_id_text(*id)) : Json()},
                   {"form", form ? Json(bridge_form_name(*form)) : Json()}};
    if (sata)
        bridge["kind"] = "sata";
    return bridge;
}

Json flash_id_json(const FlashReading& flash);

// Whole numbers up to 2^53 in magnitude as JSON numbers, larger ones as decimal strings, so that
// no reader that keeps numbers as doubles can round them.
Json json_integer(std::uint64_t value);
Json json_integer(std::int64_t value);
Json json_integer(Uint128 value);

constexpr std::uint64_t kLargestExactInteger = std::uint64_t{1} << 53;

// A text of the tables that joins the description after a space, without that space.
const char* without_leading_space(const char* text) {
    return text[0] == ' ' ? text + 1 : text;
}

// A field's value: numbers of up to 4 bytes as they are, wider ones exactly (signed where the
// field is), 128-bit counters in full where the health log shows only their low bits.
Json field_value(const FieldDef& field, Uint128 value) {
    if (field.width <= 4)
        return value.low;
    if (field.is_signed)
        return json_integer(static_cast<std::int64_t>(value.low));
    return json_integer(value);
}

template <std::size_t N, std::size_t M>
void add_fields(Json& out, const FieldDef (&fields)[N],
                const std::array<std::uint64_t, M>& values) {
    static_assert(N == M);
    for (std::size_t i = 0; i < N; ++i)
        out[fields[i].name] = field_value(fields[i], Uint128{0, values[i]});
}

// A page's one name in the document: the command table's short name (the manifest's too), the
// failed command's "command", the health verdict's "source" and the key of the page's own section
// alike. The Identify page keeps the section key it has always had.
const char* page_key(CommandId id) {
    return id == CommandId::nvme_identify ? "nvme_identify" : command_info(id).page_name;
}

Json temperature(std::uint16_t kelvin) {
    return Json{{"kelvin", kelvin}, {"celsius", kelvin_to_celsius(kelvin)}};
}

Json identity(const DriveModel& model) {
    Json out = Json::object();
    if (model.has(CommandId::inquiry)) {
        out["model"] = model.identity.model;
        out["revision"] = model.identity.revision;
        out["serial"] = model.identity.serial;
        if (std::string hex = serial_hex(identify_text(model.identity.serial)); !hex.empty())
            out["serial_hex"] = std::move(hex);
    }
    if (model.last_lba) {
        out["last_lba"] = json_integer(*model.last_lba);
        out["size_bytes"] = json_integer(size_in_bytes(*model.last_lba));
    }
    return out;
}

Json controller(const DriveModel& model) {
    Json out = Json::object();
    if (model.has(CommandId::read_info)) {
        out["id"] = model.controller_id;
        out["name"] = controller_name(model.controller_id).text;
    }
    out["supported"] = model.controller_supported;
    return out;
}

Json banks(const DriveModel& model) {
    Json out = Json::array();
    for (unsigned bank = 0; bank < kFlashBanks; ++bank) {
        const FlashReading& flash = model.banks[bank];
        if (!flash_id_present(flash.bytes))
            continue;
        Json entry = {{"bank", bank}};
        entry.update(flash_id_json(flash));
        out.push_back(std::move(entry));
    }
    return out;
}

// A count the run may not know: null when it does not.
Json known_count(const std::optional<unsigned>& count) {
    return count ? Json(*count) : Json(nullptr);
}

Json flash(const FlashFigures& f) {
    Json parts = Json::array();
    for (const FlashPart& part : f.parts) {
        char description[kFlashDescriptionSize];
        format_flash_description(part.fields, description, sizeof description);
        Json banks = Json::array();
        for (unsigned bank = 0; bank < kFlashBanks; ++bank) {
            if ((part.banks >> bank & 1) != 0)
                banks.push_back(bank);
        }
        parts.push_back(
            {{"id", flash_id_hex(part.bytes)}, {"description", description}, {"banks", banks}});
    }
    Json notes = Json::array();
    for (const FlashNote note : f.notes)
        notes.push_back(flash_note_name(note));
    return {{"bytes", f.bytes ? json_integer(*f.bytes) : Json()},
            {"offered_bytes", f.offered_bytes ? json_integer(*f.offered_bytes) : Json()},
            {"nvme_total_bytes", f.nvme_total_bytes ? json_integer(*f.nvme_total_bytes) : Json()},
            {"kept_back_percent",
             f.kept_back_permille ? Json(static_cast<double>(*f.kept_back_permille) / 10) : Json()},
            {"banks", known_count(f.banks)},
            {"ce_count", known_count(f.ce_count)},
            {"ce_mask_bits", known_count(f.ce_mask_bits)},
            {"parts", std::move(parts)},
            {"notes", std::move(notes)}};
}

Json configuration(const DriveModel& model, bool sysinfo, bool infoblock) {
    Json out = Json::object();
    if (sysinfo) {
        const FlashGeometry& g = model.geometry;
        out["cpu_clock"] = g.cpu_clock;
        out["flash_ce"] = g.ce_count;
        out["flash_channels"] = g.channels;
        out["interleave"] = g.interleave;
        out["flash_ce_mask"] = g.ce_mask;
        out["flash_clock_mt"] = g.flash_clock;
        out["dies_per_ce"] = g.dies_per_ce;
        out["blocks_per_ce"] = g.blocks_per_ce;
        out["pages_per_block"] = g.pages_per_block;
        out["bits_per_cell"] = g.bits_per_cell;
        if (const char* cell = bits_per_cell_name(g.bits_per_cell))
            out["cell_type"] = cell;
        out["pe_cycle_limit"] = {{"first", g.pe_limit_first}, {"second", g.pe_limit_second}};
    }
    if (infoblock) {
        out["slc_cache"] = {{"first", model.slc_cache.first}, {"second", model.slc_cache.second}};
    }
    return out;
}

Json attribute_configuration(const DriveModel& model) {
    Json out = Json::array();
    for (std::size_t k = 0; k < kAttributeSlotCount; ++k) {
        const AttributeSlot& slot = model.attribute_slots[k];
        if (slot.attr == 0)
            continue;  // an empty slot
        Json entry = {{"slot", k},
                      {"attr", slot.attr},
                      {"threshold", slot.threshold},
                      {"flags", slot.flags},
                      {"value_id", slot.value_id},
                      {"worst_id", slot.worst_id},
                      {"raw_id", slot.raw_id}};
        if (const char* text = find_attribute_description(slot.raw_id))
            entry["description"] = text;
        out.push_back(std::move(entry));
    }
    return out;
}

Json nvme_smart(const NvmeSmartHealth& smart) {
    Json out = Json::object();
    Json sensors = Json::array();
    for (std::size_t i = 0; i < kNvmeSmartFieldCount; ++i) {
        const FieldDef& field = kNvmeSmartFields[i];
        if (i == kSmartCriticalWarning) {
            const std::uint64_t warning = smart[i];
            Json texts = Json::array();
            for (const char* text : critical_warning_texts(warning))
                texts.push_back(text);
            out[field.name] = {{"value", warning}, {"texts", texts}};
        } else if (i == kSmartCompositeTemperature) {
            out[field.name] = temperature(static_cast<std::uint16_t>(smart[i]));
        } else if (i >= kSmartFirstSensor && i < kSmartFirstSensor + kSmartSensorCount) {
            const auto kelvin = static_cast<std::uint16_t>(smart[i]);
            if (kelvin != 0) {  // 0: no such sensor
                Json sensor = {{"sensor", i - kSmartFirstSensor}};
                sensor.update(temperature(kelvin));
                sensors.push_back(std::move(sensor));
            }
            if (i == kSmartFirstSensor + kSmartSensorCount - 1)
                out["temperature_sensors"] = std::move(sensors);
        } else {
            out[field.name] = field_value(field, smart.values[i]);
            if (i == kSmartDataUnitsRead)
                out["data_read_bytes"] = json_integer(data_unit_bytes(smart.values[i]));
            if (i == kSmartDataUnitsWritten)
                out["data_written_bytes"] = json_integer(data_unit_bytes(smart.values[i]));
        }
    }
    return out;
}

Json extended_smart(const ExtendedSmart& ext) {
    Json out = Json::array();
    for (const ExtSmartRecord& r : ext.records) {
        Json entry = {{"number", r.number}, {"int_id", r.int_id}, {"raw", json_integer(r.raw)}};
        if (const char* text = find_attribute_description(r.int_id))
            entry["description"] = text;
        out.push_back(std::move(entry));
    }
    return out;
}

Json failed_commands(const DriveModel& model) {
    Json out = Json::array();
    for (const FailedCommand& f : model.failures) {
        const CommandInfo& command = command_info(f.command);
        Json entry = {
            {"command", page_key(f.command)}, {"dump_file", command.dump_name}, {"error", f.error}};
        if (command.failure_name != nullptr)
            entry["report_name"] = command.failure_name;
        out.push_back(std::move(entry));
    }
    return out;
}

Json health(const HealthAssessment& assessment) {
    Json reasons = Json::array();
    for (const HealthReason& r : assessment.reasons) {
        Json entry = {{"level", level_name(r.level)},
                      {"field", r.field},
                      {"value", json_integer(r.value)},
                      {"unit", r.unit}};
        // A temperature also in degrees, as the text gives it, beside the page's kelvins.
        if (std::string_view(r.unit) == "K" && r.value.high == 0 && r.value.low <= 0xFFFF)
            entry["value_celsius"] = kelvin_to_celsius(static_cast<std::uint16_t>(r.value.low));
        entry["text"] = r.text;
        entry["source"] = r.source;
        reasons.push_back(std::move(entry));
    }
    const char* source = source_name(assessment.source);
    return Json{{"verdict", verdict_name(assessment.verdict)},
                {"source", source != nullptr ? Json(source) : Json(nullptr)},
                {"reasons", std::move(reasons)}};
}

// A rate as a JSON number; null when it is unknown or not a finite number, which JSON cannot hold.
Json rate(const std::optional<double>& value) {
    return value && std::isfinite(*value) ? Json(*value) : Json(nullptr);
}

Json trend(const WearTrend& trend) {
    Json out = {{"records", trend.records},
                {"first_time", format_utc_time(trend.first_time)},
                {"last_time", format_utc_time(trend.last_time)},
                {"elapsed_days", rate(trend.elapsed_days)},
                {"bytes_written_per_day", rate(trend.bytes_written_per_day)},
                {"percentage_used_per_30_days", rate(trend.percentage_used_per_30_days)},
                {"pe_cycles_per_30_days", rate(trend.pe_cycles_per_30_days)},
                {"source", trend_source_name(trend.source)},
                {"controller_resets", trend.controller_resets},
                {"restarts", trend.restarts},
                {"out_of_order", trend.out_of_order},
                {"other_drive", trend.other_drive}};
    if (trend.projected_end_time) {
        out["projection"] = {{"end_time", format_utc_time(*trend.projected_end_time)},
                             {"earliest_end_time", format_utc_time(trend.earliest_end_time)},
                             {"latest_end_time", format_utc_time(trend.latest_end_time)},
                             {"days_left", days_until(*trend.projected_end_time, trend.last_time)},
                             {"window_start", format_utc_time(trend.window_start)},
                             {"window_end", format_utc_time(trend.window_end)},
                             {"window_records", trend.window_records},
                             {"slope_per_day", rate(trend.slope_per_day)}};
    } else {
        out["not_projected"] = trend.not_projected;
        out["not_projected_code"] = trend.not_projected_code;
    }
    // The flash's own counters that rose over the window, by their history key; as read.
    Json rises = Json::object();
    for (const FlashCounterRise& rise : trend.flash_rises) {
        rises[kFlashCounters[rise.counter].key] = {{"first", rise.first},
                                                   {"last", rise.last},
                                                   {"change", rise.last - rise.first},
                                                   {"since", format_utc_time(rise.first_time)}};
    }
    out["flash_counters"] = std::move(rises);
    return out;
}

Json files(const DriveModel& model) {
    Json out = Json::object();
    for (const FileOutcome outcome :
         {FileOutcome::written, FileOutcome::not_created, FileOutcome::write_failed})
        out[file_outcome_name(outcome)] = Json::array();
    for (const FileRecord& file : model.files)
        out[file_outcome_name(file.outcome)].push_back(file.name);
    return out;
}

Json json_integer(std::uint64_t value) {
    if (value <= kLargestExactInteger)
        return value;
    return std::to_string(value);
}

Json json_integer(std::int64_t value) {
    // The magnitude as unsigned, so that the most negative value has one too.
    const std::uint64_t magnitude = value < 0 ? std::uint64_t{0} - static_cast<std::uint64_t>(value)
                                              : static_cast<std::uint64_t>(value);
    if (magnitude <= kLargestExactInteger)
        return value;
    return std::to_string(value);
}

Json json_integer(Uint128 value) {
    if (value.high == 0)
        return json_integer(value.low);
    return decimal_text(value).text;
}

Json flash_id_json(const FlashReading& flash) {
    Json out = {{"bytes", Json::array()}};
    for (const std::uint8_t byte : flash.bytes)
        out["bytes"].push_back(byte);
    const FlashFields& fields = flash.fields;
    char description[kFlashDescriptionSize];
    format_flash_description(fields, description, sizeof description);
    out["description"] = description;
    if (fields.maker != nullptr)
        out["maker"] = fields.maker;
    if (fields.node != nullptr)
        out["node"] = without_leading_space(fields.node);
    if (fields.part != nullptr)
        out["part"] = without_leading_space(fields.part);
    if (fields.cell)
        out["cell_type"] = without_leading_space(cell_type_text(*fields.cell));
    if (fields.page_kib)
        out["page_size_kib"] = *fields.page_kib;
    if (fields.capacity) {
        out["capacity_per_ce_gb"] = fields.capacity->per_ce_gb;
        out["capacity_per_die_gb"] = fields.capacity->per_die_gb;
    }
    if (fields.planes_per_die)
        out["planes_per_die"] = *fields.planes_per_die;
    return out;
}

// The whole document of a run.
Json json_report(const RunInfo& run, const DriveModel& model) {
    Json doc;
    doc["json_format_version"] = kJsonFormatVersion;
    doc["tool"] = {{"name", "torvik_usb_pssd_flash_id"},
                   {"version", run.tool_version},
                   {"platform", run.platform}};
    doc["os"] = {{"major", run.os.major},
                 {"minor", run.os.minor},
                 {"build", run.os.build},
                 {"detail", run.os.service_pack}};
    doc["run_time"] = model.run_time ? Json(format_utc_time(*model.run_time)) : Json(nullptr);
    doc["drive"] = {{"number", run.drive}, {"bus", run.bus}};
    if (!run.simulation.empty()) {
        doc["drive"]["simulated"] = {{"kind", run.simulation}, {"source", run.simulation_source}};
    }
    doc["drive"]["usb_bridge"] =
        model.bridge.id || model.bridge.form
            ? usb_bridge(model.bridge.id, model.bridge.form, model.bridge.kind == BridgeKind::sata)
            : Json();
    doc["identity"] = identity(model);
    doc["controller"] = controller(model);
    doc["health"] = health(model.health);
    if (model.trend)
        doc["trend"] = trend(*model.trend);

    if (model.has(CommandId::read_fid) && flash_id_present(model.flash_id.bytes))
        doc["flash_id"] = flash_id_json(model.flash_id);
    if (model.has(CommandId::fidall))
        doc["banks"] = banks(model);
    if (model.flash)
        doc["flash"] = flash(*model.flash);

    const bool sysinfo = model.has(CommandId::sysinfo);
    const bool infoblock = model.has(CommandId::infoblock);
    if (sysinfo || infoblock)
        doc["configuration"] = configuration(model, sysinfo, infoblock);
    if (infoblock)
        doc["attribute_configuration"] = attribute_configuration(model);
    // The two SMART sections follow the health log: a page of zeros has nothing to show.
    if (model.has(CommandId::smart) && model.smart_controller.any)
        doc[page_key(CommandId::smart)] = nvme_smart(model.smart_controller);
    // The same log as read through the bridge, which the health verdict prefers.
    if (model.has(CommandId::nvme_smart_log) && model.smart_bridge.any)
        doc[page_key(CommandId::nvme_smart_log)] = nvme_smart(model.smart_bridge);
    if (model.has(CommandId::nvme_identify)) {
        const NvmeIdentity& identify = model.nvme_identity;
        Json out = Json::object();
        // A page that holds no text names no drive: its texts are left out, not empty.
        if (nvme_identity_texts(model) != nullptr) {
            out[kIdentifyModel.name] = identify_text(identify.model_number);
            out[kIdentifySerial.name] = identify_text(identify.serial_number);
            if (std::string hex = serial_hex(identify_text(identify.serial_number)); !hex.empty())
                out["serial_hex"] = std::move(hex);
            out[kIdentifyFirmware.name] = identify_text(identify.firmware_revision);
        }
        if (identify.warning_temperature != 0)
            out[kIdentifyWarningTemperature.name] = temperature(identify.warning_temperature);
        if (identify.critical_temperature != 0)
            out[kIdentifyCriticalTemperature.name] = temperature(identify.critical_temperature);
        if (!out.empty())
            doc[page_key(CommandId::nvme_identify)] = std::move(out);
    }
    if (model.has(CommandId::smartext) && model.extended_smart.any)
        doc[page_key(CommandId::smartext)] = extended_smart(model.extended_smart);
    if (sysinfo) {
        Json system = Json::object();
        add_fields(system, kSystemStatusFields, model.status.system);
        doc["system_status"] = std::move(system);
        Json flash = Json::object();
        add_fields(flash, kFlashStatusFields, model.status.flash);
        doc["flash_status"] = std::move(flash);
    }
    doc["failed_commands"] = failed_commands(model);
    doc["files"] = files(model);
    return doc;
}

}  // namespace

std::string flash_id_json_text(const std::uint8_t* id) {
    FlashIdBytes bytes{};
    std::copy(id, id + kFlashIdSize, bytes.begin());
    return flash_id_json(read_flash(bytes)).dump();
}

std::string json_report_text(const RunInfo& run, const DriveModel& model) {
    // Texts from the drive may hold any bytes: those that are not UTF-8 become U+FFFD, and the
    // document stays ASCII.
    return json_report(run, model)
               .dump(2, ' ', true, nlohmann::ordered_json::error_handler_t::replace) +
           "\n";
}

}  // namespace torvik

// The drive list lives here too, so the JSON library stays inside this one file.
namespace torvik {

std::string drive_list_json(const DriveList& list, const char* tool_version, const char* platform) {
    // The list's own layout version, raised as kJsonFormatVersion is.
    constexpr int kDriveListFormatVersion = 1;
    Json doc = {{"format_version", kDriveListFormatVersion},
                {"tool_version", tool_version},
                {"platform", platform}};
    Json drives = Json::array();
    for (const ListedDrive& drive : list.drives) {
        Json entry = {{"number", drive.number}, {"path", drive.names.path}};
        entry["generic_path"] =
            drive.names.generic_path.empty() ? Json() : Json(drive.names.generic_path);
        entry["bus"] = bus_type_name(drive.bus_type);
        entry["bus_type"] = drive.bus_type;
        entry["vendor"] = listed_text(drive.vendor);
        entry["product"] = listed_text(drive.product);
        entry["size_bytes"] = drive.size ? json_integer(*drive.size) : Json();
        if (drive.usb_id)
            entry["usb_bridge"] = usb_bridge(*drive.usb_id, bridge_form(*drive.usb_id),
                                             is_sata_bridge(*drive.usb_id));
        drives.push_back(std::move(entry));
    }
    doc["drives"] = std::move(drives);
    doc["access_denied"] = list.access_denied;
    return doc.dump(2, ' ', true, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

std::string refused_run_json(const char* tool_version, const char* platform,
                             std::optional<std::int32_t> drive,
                             const HealthAssessment& assessment) {
    Json doc;
    doc["json_format_version"] = kJsonFormatVersion;
    doc["tool"] = {
        {"name", "torvik_usb_pssd_flash_id"}, {"version", tool_version}, {"platform", platform}};
    doc["drive"] = {{"number", drive ? Json(*drive) : Json(nullptr)}};
    doc["examined"] = false;
    doc["health"] = health(assessment);
    return doc.dump(2, ' ', true, Json::error_handler_t::replace) + "\n";
}

namespace {

// text (a document, ending with a line feed or not) with every line after the first indented by
// `by` spaces, and no line feed at its end: to nest one pretty-printed document in another.
std::string nested(std::string text, std::size_t by) {
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    std::string out;
    for (const char c : text) {
        out += c;
        if (c == '\n')
            out.append(by, ' ');
    }
    return out;
}

}  // namespace

std::string all_drives_json(const std::vector<std::string>& drive_documents,
                            const std::vector<SummaryLine>& summary) {
    // The drives' documents are nested as they were written, not parsed again.
    std::string text = "{\n  \"json_format_version\": " + std::to_string(kJsonFormatVersion) +
                       ",\n  \"drives\": [";
    for (std::size_t i = 0; i < drive_documents.size(); ++i)
        text += (i == 0 ? "\n    " : ",\n    ") + nested(drive_documents[i], 4);
    text += drive_documents.empty() ? "],\n" : "\n  ],\n";
    nlohmann::ordered_json lines = nlohmann::ordered_json::array();
    for (const SummaryLine& line : summary) {
        lines.push_back(
            {{"drive", line.drive},
             {"path", line.path},
             {"serial", line.serial.empty() ? nlohmann::ordered_json(nullptr)
                                            : nlohmann::ordered_json(line.serial)},
             {"bridge_serial", line.bridge_serial.empty()
                                   ? nlohmann::ordered_json(nullptr)
                                   : nlohmann::ordered_json(line.bridge_serial)},
             {"result", (line.verdict ? verdict_name(*line.verdict) : "") + line.result},
             {"folder", line.folder.empty() ? nlohmann::ordered_json(nullptr)
                                            : nlohmann::ordered_json(line.folder)},
             {"status", line.status}});
    }
    text += "  \"summary\": " +
            nested(lines.dump(2, ' ', true, nlohmann::ordered_json::error_handler_t::replace), 2);
    return text + "\n}\n";
}

}  // namespace torvik
