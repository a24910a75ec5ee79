#include "report/json_report.h"

#include "report/json_document.h"

#include <iterator>
#include <limits>
#include <string>

#include "common/bytes.h"
#include "flashid/flash_id.h"
#include "platform/storage_descriptor.h"
#include "report/ata_smart_table.h"
#include "report/attribute_table.h"
#include "report/controller_config.h"
#include "report/drive_list.h"
#include "report/health_log.h"
#include "report/health_log_fields.h"
#include "report/health_verdict.h"
#include "report/number_format.h"
#include "report/report_output.h"

namespace torvik {

namespace {

Json flash_id_json(const std::uint8_t* id);

// Whole numbers up to 2^53 in magnitude as JSON numbers, larger ones as decimal strings, so that
// no reader that keeps numbers as doubles can round them.
Json json_integer(std::uint64_t value);
Json json_integer(std::int64_t value);
Json json_integer(Uint128 value);

constexpr std::uint64_t kLargestExactInteger = std::uint64_t{1} << 53;
constexpr std::size_t kFlashIdSize = 8;
constexpr std::size_t kSectorSize = 512;

Uint128 read_le128(const std::uint8_t* p) {
    return Uint128{get_le64(p + 8), get_le64(p)};
}

// A text of the tables that joins the description after a space, without that space.
const char* without_leading_space(const char* text) {
    return text[0] == ' ' ? text + 1 : text;
}

Json field_value(const std::uint8_t* page, const FieldLine& line) {
    const std::uint8_t* p = page + line.offset;
    switch (line.field) {
        case Field::u8:
            return p[0];
        case Field::u16:
            return get_le16(p);
        case Field::u32:
        case Field::seconds:
            return get_le32(p);
        case Field::s64:
            return json_integer(static_cast<std::int64_t>(get_le64(p)));
        case Field::data_units:
        case Field::count96:
        case Field::count32:
            // The whole 128-bit counter, where the log shows only its low bits.
            return json_integer(read_le128(p));
    }
    return nullptr;
}

template <std::size_t N>
void add_fields(Json& out, const std::uint8_t* page, const FieldLine (&lines)[N]) {
    for (const FieldLine& line : lines)
        out[line.key] = field_value(page, line);
}

Json temperature(std::uint16_t kelvin) {
    return Json{{"kelvin", kelvin}, {"celsius", kelvin_to_celsius(kelvin)}};
}

Json identity(const ReportRecorder& record) {
    Json out = Json::object();
    if (record.page(CommandId::inquiry) != nullptr) {
        out["model"] = record.model;
        out["revision"] = record.revision;
        out["serial"] = record.serial;
    }
    if (record.last_lba) {
        // The last LBA counts from 0, so the drive holds one sector more.
        const std::uint64_t lba = *record.last_lba;
        const Uint128 sectors{lba == std::numeric_limits<std::uint64_t>::max() ? 1u : 0u, lba + 1};
        const Uint128 bytes{sectors.high << 9 | sectors.low >> (64 - 9), sectors.low << 9};
        static_assert(kSectorSize == 1u << 9);
        out["last_lba"] = json_integer(lba);
        out["size_bytes"] = json_integer(bytes);
    }
    return out;
}

Json controller(const ReportRecorder& record) {
    Json out = Json::object();
    if (record.page(CommandId::read_info) != nullptr) {
        char name[8];
        std::snprintf(name, sizeof name, "TK%04X", static_cast<unsigned>(record.controller_id));
        out["id"] = record.controller_id;
        out["name"] = name;
    }
    out["supported"] = record.controller_supported;
    return out;
}

bool flash_id_present(const std::uint8_t* id) {
    return id[0] != 0 || id[1] != 0;
}

Json banks(const std::uint8_t* fidall) {
    Json out = Json::array();
    for (unsigned bank = 0; bank < kFlashBanks; ++bank) {
        const std::uint8_t* id = fidall + kFlashIdSize * bank;
        if (!flash_id_present(id))
            continue;
        Json entry = {{"bank", bank}};
        entry.update(flash_id_json(id));
        out.push_back(std::move(entry));
    }
    return out;
}

Json configuration(const std::uint8_t* sysinfo, const std::uint8_t* infoblock) {
    Json out = Json::object();
    if (sysinfo != nullptr) {
        const FlashGeometry g = read_flash_geometry(sysinfo);
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
    if (infoblock != nullptr) {
        const SlcCache slc = read_slc_cache(infoblock);
        out["slc_cache"] = {{"first", slc.first}, {"second", slc.second}};
    }
    return out;
}

Json attribute_configuration(const std::uint8_t* infoblock) {
    Json out = Json::array();
    for (std::size_t k = 0; k < kAttributeSlotCount; ++k) {
        const AttributeSlot slot = read_attribute_slot(infoblock, k);
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

Json nvme_smart(const std::uint8_t* smart) {
    const std::uint8_t warning = smart[kCriticalWarningOffset];
    Json texts = Json::array();
    for (std::size_t bit = 0; bit < std::size(kCriticalWarnings); ++bit) {
        if ((warning >> bit & 1) != 0)
            texts.push_back(kCriticalWarnings[bit]);
    }
    Json out = {{"critical_warning", {{"value", warning}, {"texts", texts}}},
                {"composite_temperature", temperature(composite_temperature(smart))}};
    add_fields(out, smart, kNvmeLinesBeforeSensors);
    Json sensors = Json::array();
    for (std::size_t i = 0; i < kSensorCount; ++i) {
        const std::uint16_t kelvin = temperature_sensor(smart, i);
        if (kelvin == 0)
            continue;  // no such sensor
        Json sensor = {{"sensor", i}};
        sensor.update(temperature(kelvin));
        sensors.push_back(std::move(sensor));
    }
    out["temperature_sensors"] = std::move(sensors);
    add_fields(out, smart, kNvmeLinesAfterSensors);
    return out;
}

Json extended_smart(const std::uint8_t* smartext) {
    Json out = Json::array();
    const std::size_t count = ext_smart_record_count(smartext);
    for (std::size_t k = 0; k < count; ++k) {
        const ExtSmartRecord r = read_ext_smart_record(smartext, k);
        Json entry = {{"number", r.number}, {"int_id", r.int_id}, {"raw", json_integer(r.raw)}};
        if (const char* text = find_attribute_description(r.int_id))
            entry["description"] = text;
        out.push_back(std::move(entry));
    }
    return out;
}

Json status_log(const std::uint8_t* sysinfo, bool flash) {
    Json out = Json::object();
    if (flash)
        add_fields(out, sysinfo, kFlashStatusLines);
    else
        add_fields(out, sysinfo, kSystemStatusLines);
    return out;
}

Json failed_commands(const ReportRecorder& record) {
    Json out = Json::array();
    for (const FailedCommand& f : record.failures) {
        const CommandInfo& command = command_info(f.command);
        Json entry = {
            {"command", command.page_name}, {"dump_file", command.dump_name}, {"error", f.error}};
        if (command.failure_name != nullptr)
            entry["report_name"] = command.failure_name;
        out.push_back(std::move(entry));
    }
    return out;
}

Json health(const HealthAssessment& assessment) {
    Json reasons = Json::array();
    for (const HealthReason& r : assessment.reasons) {
        reasons.push_back({{"level", level_name(r.level)},
                           {"field", r.field},
                           {"value", json_integer(r.value)},
                           {"unit", r.unit},
                           {"text", r.text},
                           {"source", r.source}});
    }
    const char* source = source_name(assessment.source);
    return Json{{"verdict", verdict_name(assessment.verdict)},
                {"source", source != nullptr ? Json(source) : Json(nullptr)},
                {"reasons", std::move(reasons)}};
}

Json files(const ReportRecorder& record) {
    Json out = {{"written", Json::array()},
                {"not_created", Json::array()},
                {"write_failed", Json::array()}};
    for (const FileRecord& file : record.files) {
        switch (file.outcome) {
            case FileOutcome::written:
                out["written"].push_back(file.name);
                break;
            case FileOutcome::not_created:
                out["not_created"].push_back(file.name);
                break;
            case FileOutcome::write_failed:
                out["write_failed"].push_back(file.name);
                break;
        }
    }
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

Json flash_id_json(const std::uint8_t* id) {
    Json out = {{"bytes", Json::array()}};
    for (std::size_t i = 0; i < kFlashIdSize; ++i)
        out["bytes"].push_back(id[i]);
    FlashFields fields;
    decode_flash_fields(id, fields);
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

}  // namespace

Json json_report(const JsonRunInfo& run, const ReportRecorder& record) {
    Json doc;
    doc["json_format_version"] = kJsonFormatVersion;
    doc["tool"] = {{"name", "torvik_usb_pssd_flash_id"},
                   {"version", run.tool_version},
                   {"platform", run.platform}};
    doc["os"] = {{"major", run.os.major},
                 {"minor", run.os.minor},
                 {"build", run.os.build},
                 {"detail", run.os.service_pack}};
    doc["drive"] = {{"number", run.drive}, {"bus", run.bus}};
    if (!run.simulation.empty()) {
        doc["drive"]["simulated"] = {{"kind", run.simulation}, {"source", run.simulation_source}};
    }
    doc["identity"] = identity(record);
    doc["controller"] = controller(record);
    doc["health"] = health(assess_health(health_pages(record)));

    if (const std::uint8_t* fid = record.page(CommandId::read_fid); fid && flash_id_present(fid))
        doc["flash_id"] = flash_id_json(fid);
    if (const std::uint8_t* fidall = record.page(CommandId::fidall))
        doc["banks"] = banks(fidall);

    const std::uint8_t* sysinfo = record.page(CommandId::sysinfo);
    const std::uint8_t* infoblock = record.page(CommandId::infoblock);
    if (sysinfo != nullptr || infoblock != nullptr)
        doc["configuration"] = configuration(sysinfo, infoblock);
    if (infoblock != nullptr)
        doc["attribute_configuration"] = attribute_configuration(infoblock);
    // The two SMART sections follow the health log: a page of zeros has nothing to show.
    if (const std::uint8_t* smart = record.page(CommandId::smart);
        smart != nullptr && nvme_smart_section_due(smart)) {
        doc["nvme_smart"] = nvme_smart(smart);
    }
    // The same log as read through the bridge, which the health verdict prefers.
    if (const std::uint8_t* bridge = record.page(CommandId::nvme_smart_log);
        bridge != nullptr && nvme_smart_section_due(bridge)) {
        doc["bridge_nvme_smart"] = nvme_smart(bridge);
    }
    if (const std::uint8_t* identify = record.page(CommandId::nvme_identify)) {
        const TemperatureThresholds limits = read_temperature_thresholds(identify);
        Json out = Json::object();
        if (limits.warning != 0)
            out["warning_composite_temperature_threshold"] = temperature(limits.warning);
        if (limits.critical != 0)
            out["critical_composite_temperature_threshold"] = temperature(limits.critical);
        doc["nvme_identify"] = std::move(out);
    }
    if (const std::uint8_t* smartext = record.page(CommandId::smartext);
        smartext != nullptr && ext_smart_section_due(smartext)) {
        doc["extended_smart"] = extended_smart(smartext);
    }
    if (sysinfo != nullptr) {
        doc["system_status"] = status_log(sysinfo, false);
        doc["flash_status"] = status_log(sysinfo, true);
    }
    doc["failed_commands"] = failed_commands(record);
    doc["files"] = files(record);
    return doc;
}

std::string flash_id_json_text(const std::uint8_t* id) {
    return flash_id_json(id).dump();
}

FileResult write_json_report(FileStore& files, std::FILE* console, const JsonRunInfo& run,
                             const ReportRecorder& record) {
    const Json report = json_report(run, record);
    // Texts from the drive may hold any bytes: those that are not UTF-8 become U+FFFD, and the
    // file stays ASCII.
    const std::string text =
        report.dump(2, ' ', true, nlohmann::ordered_json::error_handler_t::replace) + "\n";
    return write_text_file(files, console, kJsonReportFileName, text);
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
        drives.push_back(std::move(entry));
    }
    doc["drives"] = std::move(drives);
    doc["access_denied"] = list.access_denied;
    return doc.dump(2, ' ', true, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

}  // namespace torvik
