#include "model/drive_model.h"

#include <algorithm>
#include <string_view>

#include "common/crc32.h"

namespace torvik {

FlashReading read_flash(const FlashIdBytes& bytes) {
    FlashReading reading;
    reading.bytes = bytes;
    decode_flash_fields(bytes.data(), reading.fields);
    return reading;
}

const char* file_outcome_name(FileOutcome outcome) {
    switch (outcome) {
        case FileOutcome::written:
            return "written";
        case FileOutcome::not_created:
            return "not_created";
        case FileOutcome::write_failed:
            break;
    }
    return "write_failed";
}

namespace {

// Decodes the page of one command into its place in the model.
void decode_page(DriveModel& m, CommandId id, const std::uint8_t* page) {
    switch (id) {
        case CommandId::inquiry:
            m.identity = decode_inquiry(page);
            break;
        case CommandId::read_capacity10:
        case CommandId::read_capacity16:
            break;  // the run judges the two together
        case CommandId::read_fid: {
            FlashIdBytes bytes{};
            std::copy(page + kFidFlashId.offset, page + kFidFlashId.offset + kFlashIdSize,
                      bytes.begin());
            m.flash_id = read_flash(bytes);
            break;
        }
        case CommandId::read_info:
            m.controller_id = static_cast<std::uint16_t>(read_field(page, kInfoControllerId));
            break;
        case CommandId::sysinfo:
            m.geometry = decode_flash_geometry(page);
            m.status = decode_status_counters(page);
            break;
        case CommandId::fidall:
            for (unsigned bank = 0; bank < kFlashBanks; ++bank) {
                const FlashIdBytes bytes = decode_bank_flash_id(page, bank);
                m.banks[bank] = flash_id_present(bytes) ? read_flash(bytes) : FlashReading{};
            }
            break;
        case CommandId::infoblock:
            m.attribute_slots = decode_attribute_slots(page);
            m.slc_cache = decode_slc_cache(page);
            break;
        case CommandId::id:
            break;  // dumped only
        case CommandId::smart:
            m.smart_controller = decode_nvme_smart(page);
            break;
        case CommandId::smartext:
            m.extended_smart = decode_extended_smart(page);
            break;
        case CommandId::nvme_identify:
            m.nvme_identity = decode_nvme_identity(page);
            break;
        case CommandId::nvme_smart_log:
            m.smart_bridge = decode_nvme_smart(page);
            break;
    }
}

}  // namespace

void DriveModel::sent(CommandId id, const std::uint8_t* area, const CommandResult& result) {
    RecordedCommand& command = commands[static_cast<std::size_t>(id)];
    command.sent = true;
    command.result = result;
    command.reply.assign(area, area + command_info(id).length);
    decode_page(*this, id, area);
    if (id == CommandId::inquiry || id == CommandId::nvme_identify)
        drive_identity = identify_drive(*this);
}

void DriveModel::failed(CommandId id, std::uint32_t error) {
    commands[static_cast<std::size_t>(id)].failed = true;
    failures.push_back(FailedCommand{id, error});
    if (id == CommandId::inquiry || id == CommandId::nvme_identify)
        drive_identity = identify_drive(*this);
}

void DriveModel::file(const char* name, const FileResult& result) {
    files.push_back(FileRecord{name, result.outcome, result.error});
}

const std::uint8_t* DriveModel::page(CommandId id) const {
    const RecordedCommand& command = commands[static_cast<std::size_t>(id)];
    if (!command.sent || command.failed || command.reply.size() != command_info(id).length)
        return nullptr;
    return command.reply.data();
}

RunManifest DriveModel::manifest() const {
    RunManifest manifest;
    manifest.run_time = run_time;
    if (bridge.form != BridgeForm::e6 || bridge.kind != BridgeKind::nvme)
        manifest.bridge = bridge;
    for (const CommandInfo& info : kCommands) {
        const RecordedCommand& command = commands[static_cast<std::size_t>(info.id)];
        ManifestEntry& entry = manifest[static_cast<std::size_t>(info.id)];
        if (!command.sent)
            continue;
        entry.sent = true;
        entry.outcome = command.result.outcome;
        entry.received = command.result.ok() ? command.result.received : 0;
        entry.error = command.result.ok() ? 0 : command.result.error;
        entry.zeros = std::all_of(command.reply.begin(), command.reply.end(),
                                  [](std::uint8_t b) { return b == 0; });
        const bool dumped = std::any_of(files.begin(), files.end(), [&](const FileRecord& f) {
            return f.name == info.dump_name && f.outcome == FileOutcome::written;
        });
        if (dumped) {
            entry.dump = ManifestDump{static_cast<std::uint32_t>(command.reply.size()),
                                      crc32(command.reply.data(), command.reply.size())};
        }
    }
    return manifest;
}

HealthPages health_pages(const DriveModel& model) {
    HealthPages pages;
    if (model.has(CommandId::nvme_smart_log))
        pages.nvme_smart_bridge = &model.smart_bridge;
    if (model.has(CommandId::nvme_identify))
        pages.nvme_identify = &model.nvme_identity;
    if (model.has(CommandId::smart))
        pages.nvme_smart_controller = &model.smart_controller;
    if (model.has(CommandId::smartext))
        pages.smartext = &model.extended_smart;
    if (model.has(CommandId::sysinfo))
        pages.sysinfo = &model.geometry;
    if (model.flash)
        pages.flash = &*model.flash;
    pages.bridge_note = model.bridge_note;
    return pages;
}

const NvmeIdentity* nvme_identity_texts(const DriveModel& model) {
    const NvmeIdentity& nvme = model.nvme_identity;
    if (!model.has(CommandId::nvme_identify) ||
        (identify_text(nvme.model_number).empty() && identify_text(nvme.serial_number).empty() &&
         identify_text(nvme.firmware_revision).empty()))
        return nullptr;
    return &nvme;
}

const NvmeSmartHealth* judged_smart_log(const DriveModel& model) {
    switch (model.health.source) {
        case HealthSource::nvme_smart_bridge:
            return &model.smart_bridge;
        case HealthSource::nvme_smart_controller:
            return &model.smart_controller;
        case HealthSource::extended_smart:
        case HealthSource::flash:
        case HealthSource::none:
            break;
    }
    return nullptr;
}

}  // namespace torvik
