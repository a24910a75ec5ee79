// The page decoders: each reads its page through the rows of its definition.
#include <algorithm>
#include <cstdio>

#include "model/controller_pages.h"
#include "model/nvme_pages.h"
#include "model/scsi_pages.h"

namespace torvik {

namespace {

bool any_non_zero(const std::uint8_t* page, std::size_t size) {
    return std::any_of(page, page + size, [](std::uint8_t b) { return b != 0; });
}

}  // namespace

InquiryIdentity decode_inquiry(const std::uint8_t* inquiry) {
    return InquiryIdentity{read_text(inquiry, kInquiryModel), read_text(inquiry, kInquiryRevision),
                           read_text(inquiry, kInquirySerial)};
}

NvmeIdentity decode_nvme_identity(const std::uint8_t* identify) {
    NvmeIdentity out;
    out.model_number = read_text(identify, kIdentifyModel);
    out.serial_number = read_text(identify, kIdentifySerial);
    out.firmware_revision = read_text(identify, kIdentifyFirmware);
    out.warning_temperature =
        static_cast<std::uint16_t>(read_field(identify, kIdentifyWarningTemperature));
    out.critical_temperature =
        static_cast<std::uint16_t>(read_field(identify, kIdentifyCriticalTemperature));
    out.total_capacity = read_wide(identify, kIdentifyTotalCapacity);
    out.any = any_non_zero(identify, command_info(CommandId::nvme_identify).length);
    return out;
}

NvmeSmartHealth decode_nvme_smart(const std::uint8_t* smart) {
    NvmeSmartHealth out;
    for (std::size_t i = 0; i < kNvmeSmartFieldCount; ++i)
        out.values[i] = read_wide(smart, kNvmeSmartFields[i]);
    out.any = any_non_zero(smart, command_info(CommandId::nvme_smart_log).length);
    return out;
}

CriticalWarningTexts critical_warning_texts(std::uint64_t warning) {
    CriticalWarningTexts out;
    for (unsigned bit = 0; bit < std::size(kCriticalWarnings); ++bit) {
        if ((warning >> bit & 1) != 0)
            out.texts[out.count++] = kCriticalWarnings[bit];
    }
    return out;
}

std::string joined_critical_warnings(std::uint64_t warning) {
    std::string joined;
    for (const char* text : critical_warning_texts(warning))
        joined.append(joined.empty() ? "" : "; ").append(text);
    return joined;
}

ControllerName controller_name(std::uint16_t controller_id) {
    ControllerName name{};
    std::snprintf(name.text, sizeof name.text, "TK%04X", static_cast<unsigned>(controller_id));
    return name;
}

bool controller_supported(std::uint16_t controller_id) {
    return std::find(std::begin(kSupportedControllers), std::end(kSupportedControllers),
                     controller_id) != std::end(kSupportedControllers);
}

FlashGeometry decode_flash_geometry(const std::uint8_t* sysinfo) {
    FlashGeometry g;
    for (const GeometryField& row : kGeometryFields)
        g.*row.member = static_cast<std::uint32_t>(read_field(sysinfo, row.field));
    return g;
}

const char* bits_per_cell_name(unsigned bits_per_cell) {
    constexpr const char* kNames[] = {"SLC", "MLC", "TLC", "QLC"};
    return bits_per_cell >= 1 && bits_per_cell <= 4 ? kNames[bits_per_cell - 1] : nullptr;
}

StatusCounters decode_status_counters(const std::uint8_t* sysinfo) {
    StatusCounters out;
    for (std::size_t i = 0; i < kSystemStatusCount; ++i)
        out.system[i] = read_field(sysinfo, kSystemStatusFields[i]);
    for (std::size_t i = 0; i < kFlashStatusCount; ++i)
        out.flash[i] = read_field(sysinfo, kFlashStatusFields[i]);
    return out;
}

FlashIdBytes decode_bank_flash_id(const std::uint8_t* fidall, unsigned bank) {
    FlashIdBytes id{};
    const std::uint8_t* from = fidall + kFidallBanks.offset + kFidallBanks.size * bank;
    std::copy(from, from + kFlashIdSize, id.begin());
    return id;
}

AttributeSlots decode_attribute_slots(const std::uint8_t* infoblock) {
    AttributeSlots slots{};
    for (std::size_t k = 0; k < kAttributeSlotCount; ++k) {
        const std::uint8_t* record = infoblock + kAttributeSlots.offset + kAttributeSlots.size * k;
        auto field = [record](std::size_t i) {
            return read_field(record, kAttributeSlotFields[i]);
        };
        AttributeSlot& slot = slots[k];
        slot.attr = static_cast<std::uint8_t>(field(0));
        slot.threshold = static_cast<std::uint8_t>(field(1));
        slot.flags = static_cast<std::uint8_t>(field(2));
        slot.value_id = static_cast<std::uint16_t>(field(3));
        slot.worst_id = static_cast<std::uint16_t>(field(4));
        slot.raw_id = static_cast<std::uint16_t>(field(5));
    }
    return slots;
}

SlcCache decode_slc_cache(const std::uint8_t* infoblock) {
    return SlcCache{static_cast<std::uint32_t>(read_field(infoblock, kSlcCacheFields[0])),
                    static_cast<std::uint32_t>(read_field(infoblock, kSlcCacheFields[1]))};
}

const ExtSmartRecord* ExtendedSmart::find(std::uint16_t int_id) const {
    for (const ExtSmartRecord& r : records) {
        if (r.int_id == int_id)
            return &r;
    }
    return nullptr;
}

ExtendedSmart decode_extended_smart(const std::uint8_t* smartext) {
    ExtendedSmart out;
    for (std::size_t k = 0; k < kExtSmartRecords.count; ++k) {
        const std::uint8_t* record = smartext + kExtSmartRecords.offset + kExtSmartRecords.size * k;
        // The end mark: the number and IntId both zero.
        if (k >= kExtSmartFirstEndMark && read_field(record, kExtNumber) == 0 &&
            read_field(record, kExtIntId) == 0)
            break;
        out.records.push_back(
            ExtSmartRecord{static_cast<std::uint16_t>(read_field(record, kExtNumber)),
                           static_cast<std::uint16_t>(read_field(record, kExtIntId)),
                           read_field(record, kExtRaw)});
    }
    out.any = any_non_zero(smartext, command_info(CommandId::smartext).length);
    return out;
}

}  // namespace torvik
