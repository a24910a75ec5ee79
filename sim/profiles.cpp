#include "sim/profiles.h"

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <iterator>
#include <string>

#include "model/controller_pages.h"
#include "model/nvme_pages.h"
#include "model/scsi_pages.h"

namespace torvik {

namespace {

using Page = std::vector<std::uint8_t>;

// BiCS5 TLC packages of four dies, 2 Tb per chip enable: four of them make the 1 TB drive.
constexpr FlashIdBytes kFlashId = {0x98, 0x49, 0x9A, 0xB3, 0x7E, 0xF4, 0x08, 0x00};

// One field and the value the simulated drive holds in it.
struct Value {
    const FieldDef& field;
    std::uint64_t value;
};

Page& reply(SimProfileData& data, CommandId id) {
    Page& page = data.replies[static_cast<std::size_t>(id)];
    page.assign(command_info(id).length, 0);
    return page;
}

Page& page_of(SimProfileData& data, CommandId id) {
    return data.replies[static_cast<std::size_t>(id)];
}

void put(std::uint8_t* page, std::initializer_list<Value> values) {
    for (const Value& v : values)
        write_field(page, v.field, v.value);
}

template <std::size_t N>
consteval const FieldDef& field(const FieldDef (&fields)[N], std::string_view name) {
    return fields[field_index(fields, name)];
}

void put_flash_id(std::uint8_t* at) {
    std::copy(kFlashId.begin(), kFlashId.end(), at);
}

// Standard INQUIRY data: direct-access device, SPC-4, vendor and product identification, revision,
// and the serial number in the first eight vendor-specific bytes.
void standard_inquiry(SimProfileData& data, const char* revision, const char* serial) {
    std::uint8_t* inq = reply(data, CommandId::inquiry).data();
    put(inq, {{field(kInquiryFields, "version"), 0x06},
              {field(kInquiryFields, "response_data_format"), 0x02},
              {field(kInquiryFields, "additional_length"), 51}});  // 56 bytes in all
    write_text(inq, kInquiryVendor, data.vendor);
    write_text(inq, kInquiryProduct, data.product);
    write_text(inq, kInquiryRevision, revision);
    write_text(inq, kInquirySerial, serial);
}

void capacity(SimProfileData& data, std::uint64_t last_lba) {
    put(reply(data, CommandId::read_capacity10).data(),
        {{kCapacity10Fields[0], last_lba > kLastLba32 ? kLastLba32 : last_lba},
         {kCapacity10Fields[1], 512}});
    put(reply(data, CommandId::read_capacity16).data(),
        {{kCapacity16Fields[0], last_lba}, {kCapacity16Fields[1], 512}});
}

void controller_identity(SimProfileData& data, std::uint16_t controller) {
    put_flash_id(reply(data, CommandId::read_fid).data() + kFidFlashId.offset);
    std::uint8_t* info = reply(data, CommandId::read_info).data();
    write_text(info, kInfoFirmwareText, "TK5021 PSSD FW 1.0.3");
    write_field(info, kInfoControllerId, controller);
}

// The configuration and the system and flash status counters; the two PE cycle limits are
// configuration fields that the flash status log shows too.
void system_info(SimProfileData& data) {
    std::uint8_t* p = reply(data, CommandId::sysinfo).data();
    constexpr std::uint32_t kConfiguration[] = {
        4,      // flash_ce
        4,      // flash_channels
        1,      // interleave
        3,      // bits_per_cell
        1152,   // pages_per_block
        14040,  // blocks_per_ce
        4,      // dies_per_ce
        0x0F,   // flash_ce_mask
        800,    // cpu_clock
        1200,   // flash_clock_mt
        30000,  // pe_cycle_limit_first, SLC
        3000,   // pe_cycle_limit_second, TLC
    };
    static_assert(std::size(kConfiguration) == std::size(kGeometryFields));
    for (std::size_t i = 0; i < std::size(kGeometryFields); ++i)
        write_field(p, kGeometryFields[i].field, kConfiguration[i]);
    // In the order of kSystemStatusFields.
    constexpr std::uint64_t kSystemStatus[] = {
        0,   0x0001, 0,    0,       0,  3,  1, 0x0C,  // init fail .. gpio; 3 firmware updates
        412, 23,     5,    4968123,     // power cycles, abnormal, internal; power-on seconds
        2,   0,      1,    0,       0,  // resets and ECC errors
        87,  1532,   6021, 311,     12, 35, 8,  // garbage collection
        1,   0,      0,                         // AES key, AXI errors
        940, 41,     3,    2210,    96, 5,      // wear levelling
        0,   0,                                 // VUC protection
    };
    static_assert(std::size(kSystemStatus) == kSystemStatusCount);
    for (std::size_t i = 0; i < kSystemStatusCount; ++i)
        write_field(p, kSystemStatusFields[i], kSystemStatus[i]);
    // In the order of kFlashStatusFields, but for the two PE cycle limits written above.
    constexpr std::uint64_t kFlashStatus[] = {
        61,         48,         37,        29,         21, 17,  // max, average, min erase counts
        1204331,    2290876,    354112908, 1730998431,          // erase and program totals
        5123456789, 2085111320, 1877,      5203,                // read and write totals, retries ok
        0,          2,          4,         9,          0,  0,   // retries failed, RAID recovery
        1902,       7811,       37,        3,          0,  1,  0, 2, 0, 1,  // block counts
        16,         118,  // RAID ECC entry, read disturb
    };
    static_assert(std::size(kFlashStatus) == kFlashStatusCount - 2);
    for (std::size_t i = 0; i < std::size(kFlashStatus); ++i)
        write_field(p, kFlashStatusFields[i], kFlashStatus[i]);
}

void flash_banks(SimProfileData& data) {
    std::uint8_t* fidall = reply(data, CommandId::fidall).data();
    for (std::size_t bank = 0; bank < 4; ++bank)
        put_flash_id(fidall + kFidallBanks.offset + kFidallBanks.size * bank);
}

consteval const FieldDef& geometry_field(std::string_view name) {
    for (const GeometryField& g : kGeometryFields) {
        if (name == g.field.name)
            return g.field;
    }
    throw "no configuration field of that name";
}

// Another make of flash: the fid page's ID, one bank for each ID given (bank 0 first), and the
// chip enables of the configuration to match, spread over channels.
void fit_flash(SimProfileData& data, const std::vector<FlashIdBytes>& banks, unsigned channels) {
    std::copy(banks.front().begin(), banks.front().end(),
              page_of(data, CommandId::read_fid).data() + kFidFlashId.offset);
    std::uint8_t* fidall = reply(data, CommandId::fidall).data();
    for (std::size_t bank = 0; bank < banks.size(); ++bank) {
        std::copy(banks[bank].begin(), banks[bank].end(),
                  fidall + kFidallBanks.offset + kFidallBanks.size * bank);
    }
    const auto ces = static_cast<unsigned>(banks.size());
    put(page_of(data, CommandId::sysinfo).data(), {{kFlashCe, ces},
                                                   {geometry_field("flash_channels"), channels},
                                                   {geometry_field("interleave"), ces / channels},
                                                   {kFlashCeMask, (std::uint64_t{1} << ces) - 1}});
}

// Attribute configuration records; slot 6 is left empty, as firmware leaves gaps.
void attribute_configuration(SimProfileData& data) {
    std::uint8_t* info = reply(data, CommandId::infoblock).data();
    // Columns in the order of kAttributeSlotFields: attr, threshold, flags, value, worst and raw
    // ids.
    constexpr std::uint16_t kSlots[][6] = {
        {0x01, 0x32, 0x0B, 0x0001, 0x0002, 0x0100}, {0x05, 0x0A, 0x33, 0x0001, 0x0002, 0x0300},
        {0x09, 0x00, 0x32, 0x0001, 0x0002, 0x0600}, {0x0C, 0x00, 0x32, 0x0001, 0x0002, 0x0607},
        {0xA1, 0x00, 0x33, 0x0003, 0x0003, 0x0305}, {0xA5, 0x00, 0x32, 0x0004, 0x0004, 0x0201},
        {0xA7, 0x00, 0x32, 0x0004, 0x0004, 0x020B}, {0xA9, 0x0A, 0x33, 0x0005, 0x0005, 0x020F},
        {0xAB, 0x00, 0x32, 0x0001, 0x0002, 0x0501}, {0xAC, 0x00, 0x32, 0x0001, 0x0002, 0x0502},
        {0xC2, 0x00, 0x22, 0x0006, 0x0007, 0x0803}, {0xF1, 0x00, 0x32, 0x0001, 0x0002, 0x0402},
        {0xF2, 0x00, 0x32, 0x0001, 0x0002, 0x0422},
    };
    static_assert(std::size(kSlots[0]) == std::size(kAttributeSlotFields));
    std::size_t slot = 0;
    for (const auto& values : kSlots) {
        if (slot == 6)
            ++slot;
        std::uint8_t* record = info + kAttributeSlots.offset + kAttributeSlots.size * slot++;
        for (std::size_t i = 0; i < std::size(kAttributeSlotFields); ++i)
            write_field(record, kAttributeSlotFields[i], values[i]);
    }
    put(info, {{kSlcCacheFields[0], 0x00060000}, {kSlcCacheFields[1], 0x00000C00}});
}

void identification(SimProfileData& data) {
    std::uint8_t* id = reply(data, CommandId::id).data();
    write_text(id, field(kIdPageFields, "controller"), "TK5021");
    write_text(id, field(kIdPageFields, "product"), "PSSD-SIM-1TB");
    write_text(id, field(kIdPageFields, "firmware"), "1.0.3 2026-03-14");
}

// The NVMe SMART / Health log of a healthy drive.
void health(Page& smart) {
    const FieldDef(&f)[kNvmeSmartFieldCount] = kNvmeSmartFields;
    put(smart.data(), {
                          {f[kSmartCompositeTemperature], 309},  // 36 C
                          {f[kSmartAvailableSpare], 100},
                          {f[kSmartSpareThreshold], 10},
                          {f[kSmartPercentageUsed], 2},
                          {f[kSmartDataUnitsRead], 40112233},
                          {f[kSmartDataUnitsWritten], 35276512},
                          {field(kNvmeSmartFields, "host_read_commands"), 912345678},
                          {field(kNvmeSmartFields, "host_write_commands"), 701234567},
                          {field(kNvmeSmartFields, "controller_busy_time"), 1240},
                          {f[kSmartPowerCycles], 412},
                          {f[kSmartPowerOnHours], 1380},
                          {f[kSmartUnsafeShutdowns], 23},
                          {f[kSmartFirstSensor], 312},      // 39 C
                          {f[kSmartFirstSensor + 1], 305},  // 32 C
                          {field(kNvmeSmartFields, "thermal_management_temp1_transition_count"), 4},
                          {field(kNvmeSmartFields, "thermal_management_temp1_total_time"), 96},
                      });
}

// Extended SMART records, numbered from 1.
void extended_smart(SimProfileData& data) {
    std::uint8_t* ext = reply(data, CommandId::smartext).data();
    constexpr std::uint64_t kRecords[][2] = {
        // IntId, raw value
        {0x0100, 0},  {0x0103, 0},  {0x0107, 0},  {0x0204, 3162},    {0x0205, 3495207},
        {0x0209, 61}, {0x020B, 37}, {0x020C, 21}, {0x020E, 2},       {0x020F, 98},
        {0x0300, 40}, {0x0301, 37}, {0x0302, 3},  {0x0410, 1134662}, {0x0430, 1623018},
        {0x0500, 0},  {0x0501, 2},  {0x0502, 1},  {0x0704, 3},       {0x0802, 71},
        {0x0803, 44}, {0xF013, 0},
    };
    std::size_t k = 0;
    for (const auto& r : kRecords) {
        std::uint8_t* record = ext + kExtSmartRecords.offset + kExtSmartRecords.size * k++;
        put(record, {{kExtNumber, k}, {kExtIntId, r[0]}, {kExtRaw, r[1]}});
    }
}

// The raw value of the first extended SMART record with that IntId.
void set_ext_raw(Page& ext, std::uint16_t int_id, std::uint64_t raw) {
    for (std::size_t k = 0; k < kExtSmartRecords.count; ++k) {
        std::uint8_t* record = ext.data() + kExtSmartRecords.offset + kExtSmartRecords.size * k;
        if (read_field(record, kExtIntId) == int_id) {
            write_field(record, kExtRaw, raw);
            return;
        }
    }
}

// A worn drive's vendor pages: the life the extended SMART page counts used and left, and the
// erase counts (average of the TLC blocks given, the highest and lowest about it) that the
// extended SMART page and the flash status log both keep.
void wear(SimProfileData& data, std::uint64_t life_used, std::uint64_t average_erases) {
    Page& ext = page_of(data, CommandId::smartext);
    set_ext_raw(ext, kExtLifeUsed, life_used);
    set_ext_raw(ext, kExtLifeRemaining, life_used >= 100 ? 0 : 100 - life_used);
    set_ext_raw(ext, kExtAverageEraseCount, average_erases);
    set_ext_raw(ext, kExtMaxEraseCount, average_erases + average_erases / 10);
    set_ext_raw(ext, kExtMinEraseCount, average_erases - average_erases / 10);
    put(page_of(data, CommandId::sysinfo).data(),
        {{field(kFlashStatusFields, "max_erase_count_d2_d3"), average_erases + average_erases / 10},
         {field(kFlashStatusFields, "average_erase_count_d2_d3"), average_erases},
         {field(kFlashStatusFields, "min_erase_count_d2_d3"),
          average_erases - average_erases / 10}});
}

// The NVMe Identify page's serial (20 bytes, space padded): each profile has one of its own.
void nvme_serial(SimProfileData& data, const char* serial) {
    char padded[21];
    std::snprintf(padded, sizeof padded, "%-20s", serial);
    write_text(page_of(data, CommandId::nvme_identify).data(), kIdentifySerial, padded);
}

void nvme_pages(SimProfileData& data) {
    std::uint8_t* id = reply(data, CommandId::nvme_identify).data();
    put(id, {{field(kNvmeIdentifyFields, "pci_vendor_id"), 0x1D79},
             {field(kNvmeIdentifyFields, "pci_subsystem_vendor_id"), 0x1D79},
             {field(kNvmeIdentifyFields, "maximum_data_transfer_size"), 7}});
    nvme_serial(data, "SIM00000000000001");
    write_text(id, kIdentifyModel, "TORVIK PSSD SIM 1TB                     ");
    write_text(id, kIdentifyFirmware, "TK5021.3");
    health(reply(data, CommandId::nvme_smart_log));
}

SimProfileData make_default() {
    SimProfileData data;
    standard_inquiry(data, "1.03", "SIM00001");
    capacity(data, 1953525167);  // 1 TB
    controller_identity(data, 0x5021);
    system_info(data);
    flash_banks(data);
    attribute_configuration(data);
    identification(data);
    health(reply(data, CommandId::smart));
    extended_smart(data);
    nvme_pages(data);
    return data;
}

SimProfileData make_unsupported() {
    SimProfileData data = make_default();
    nvme_serial(data, "SIM00000000000002");
    write_field(page_of(data, CommandId::read_info).data(), kInfoControllerId, 0x5019);
    return data;
}

SimProfileData make_no_tunnel() {
    SimProfileData data = make_default();
    nvme_serial(data, "SIM00000000000003");
    data.tunnel_supported = false;
    return data;
}

SimProfileData make_large() {
    SimProfileData data = make_default();
    nvme_serial(data, "SIM00000000000004");
    data.product = "PSSD SIM 4TB    ";
    standard_inquiry(data, "1.03", "SIM00004");
    capacity(data, 7814037167);  // 4 TB: READ CAPACITY(10) answers 0xFFFFFFFF
    fit_flash(data, std::vector<FlashIdBytes>(16, kFlashId), 4);  // 16 x 2 Tb: 4,398.0 GB
    std::uint8_t* identify = page_of(data, CommandId::nvme_identify).data();
    write_text(identify, kIdentifyModel, "TORVIK PSSD SIM 4TB                     ");
    write_wide(identify, kIdentifyTotalCapacity, size_in_bytes(7814037167));
    return data;
}

SimProfileData make_failing_pages() {
    SimProfileData data = make_default();
    nvme_serial(data, "SIM00000000000005");
    constexpr std::uint32_t kErrorGenFailure = 31;  // a device that does not function
    for (CommandId id : {CommandId::sysinfo, CommandId::fidall, CommandId::infoblock, CommandId::id,
                         CommandId::smart, CommandId::smartext}) {
        data.faults[static_cast<std::size_t>(id)] =
            Fault{FaultKind::platform_error, kErrorGenFailure, 0};
    }
    return data;
}

// The health profiles: the default drive with its two copies of the NVMe SMART / Health log (the
// controller's and the bridge's) changed alike, under a name and serial of their own.
SimProfileData health_variant(const char* product, const char* serial,
                              void (*edit)(std::uint8_t*)) {
    SimProfileData data = make_default();
    data.product = product;
    standard_inquiry(data, "1.03", serial);
    nvme_serial(data, (std::string("SIM000000000") + (serial + 3)).c_str());
    edit(page_of(data, CommandId::smart).data());
    edit(page_of(data, CommandId::nvme_smart_log).data());
    // Warning and critical composite temperature thresholds in the NVMe Identify page: 70 C, 85 C.
    put(page_of(data, CommandId::nvme_identify).data(),
        {{kIdentifyWarningTemperature, 343}, {kIdentifyCriticalTemperature, 358}});
    return data;
}

SimProfileData make_hot() {
    SimProfileData data = health_variant("PSSD SIM HOT    ", "SIM00101", [](std::uint8_t* smart) {
        const FieldDef(&f)[kNvmeSmartFieldCount] = kNvmeSmartFields;
        put(smart, {{f[kSmartCriticalWarning], 0x02},      // temperature outside a threshold
                    {f[kSmartCompositeTemperature], 347},  // 74 C
                    {field(kNvmeSmartFields, "warning_composite_temperature_time"), 38},
                    {f[kSmartFirstSensor], 350}});
    });
    // The vendor pages saw the same heat: the highest temperature at least the present one.
    Page& ext = page_of(data, CommandId::smartext);
    set_ext_raw(ext, kExtHighestTemperature, 77);
    set_ext_raw(ext, kExtChipTemperature, 74);
    return data;
}

SimProfileData make_media_errors() {
    return health_variant("PSSD SIM ERR    ", "SIM00102", [](std::uint8_t* smart) {
        write_field(smart, kNvmeSmartFields[kSmartMediaErrors], 7);
    });
}

SimProfileData make_spare_low() {
    return health_variant("PSSD SIM SPARE  ", "SIM00103", [](std::uint8_t* smart) {
        put(smart, {{kNvmeSmartFields[kSmartCriticalWarning], 0x01},  // spare below threshold
                    {kNvmeSmartFields[kSmartAvailableSpare], 4}});
    });
}

SimProfileData make_worn_out() {
    SimProfileData data = health_variant("PSSD SIM WORN   ", "SIM00104", [](std::uint8_t* smart) {
        put(smart, {{kNvmeSmartFields[kSmartCriticalWarning], 0x04},  // reliability degraded
                    {kNvmeSmartFields[kSmartAvailableSpare], 12},
                    {kNvmeSmartFields[kSmartPercentageUsed], 104}});
    });
    wear(data, 104, 3120);  // 104% of the 3000 rated cycles
    return data;
}

// Neither copy of the NVMe log: a bridge without the tunnel and a failing smart page, so the
// verdict falls back to the extended SMART life figures (8% of the rated life left).
SimProfileData make_vendor_life() {
    SimProfileData data = make_default();
    data.product = "PSSD SIM LIFE   ";
    standard_inquiry(data, "1.03", "SIM00105");
    nvme_serial(data, "SIM00000000000105");
    data.tunnel_supported = false;
    data.faults[static_cast<std::size_t>(CommandId::smart)] =
        Fault{FaultKind::platform_error, 31, 0};
    wear(data, 92, 2790);
    return data;
}

// A drive sold as 2 TB that holds two packages of 512 Gb (137.4 GB of flash): its firmware offers
// the made-up size through READ CAPACITY and the NVMe Identify page alike. Every SMART figure is
// fine; the flash fails it.
SimProfileData make_counterfeit() {
    SimProfileData data = make_default();
    data.product = "PSSD SIM 2TB    ";
    standard_inquiry(data, "1.03", "SIM00110");
    nvme_serial(data, "SIM00000000000110");
    capacity(data, 3907029167);  // 2,000.4 GB
    constexpr FlashIdBytes kSmallPart = {0x98, 0x3E, 0x98, 0xB3, 0x76, 0xF2, 0x00, 0x00};
    fit_flash(data, {kSmallPart, kSmallPart}, 2);
    write_field(page_of(data, CommandId::sysinfo).data(), geometry_field("dies_per_ce"), 1);
    std::uint8_t* identify = page_of(data, CommandId::nvme_identify).data();
    write_text(identify, kIdentifyModel, "TORVIK PSSD SIM 2TB                     ");
    write_wide(identify, kIdentifyTotalCapacity, size_in_bytes(3907029167));
    return data;
}

// The 1 TB drive rebuilt from two makes of 2 Tb package, which hold enough for its offer.
SimProfileData make_mixed_flash() {
    SimProfileData data = make_default();
    data.product = "PSSD SIM MIXED  ";
    standard_inquiry(data, "1.03", "SIM00111");
    nvme_serial(data, "SIM00000000000111");
    constexpr FlashIdBytes kOtherPart = {0x9B, 0xC6, 0x28, 0x49, 0x20, 0x00, 0x00, 0x00};
    fit_flash(data, {kFlashId, kFlashId, kOtherPart, kOtherPart}, 4);
    return data;
}

// The 1 TB drive's TLC flash run at 1 bit per cell, which offers a third of its 1,099.5 GB.
SimProfileData make_slc_mode() {
    SimProfileData data = make_default();
    data.product = "PSSD SIM SLC    ";
    standard_inquiry(data, "1.03", "SIM00112");
    nvme_serial(data, "SIM00000000000112");
    capacity(data, 715827881);  // 366.5 GB
    write_field(page_of(data, CommandId::sysinfo).data(), kBitsPerCell, 1);
    return data;
}

// A drive that ages with the run's time: new on kAgeingBorn, then every 30 days one step of
// percentage used and of the vendor's life used, one erase cycle of its TLC blocks and 1 TB
// written (the drive's size once over), at eight hours of power a day; its flash status counters
// rise too: blocks that fail to program, erase or read, each one a grown bad block, reads whose
// retries failed, RAID recoveries. A whole-number reading one step up in 30 days cannot tell the
// pace, so runs 30 days apart give a projection from the third. It stops ageing when percentage
// used reaches 255, the most its byte holds, which keeps every counter within its field.
constexpr std::int64_t kAgeingBorn = 1767225600;  // 2026-01-01T00:00:00Z
constexpr std::uint64_t kAgeingStepDays = 30;
constexpr std::uint64_t kAgeingLastDay = 255 * kAgeingStepDays;

void age(SimProfileData& data, std::int64_t now) {
    const std::uint64_t day =
        now <= kAgeingBorn
            ? 0
            : std::min(static_cast<std::uint64_t>(now - kAgeingBorn) / 86400, kAgeingLastDay);
    const std::uint64_t steps = day / kAgeingStepDays;
    // 1 TB written and 1.5 TB read every 30 days, in data units of 512,000 bytes.
    const std::uint64_t written = day * 1953125 / kAgeingStepDays;
    const std::uint64_t read = written * 3 / 2;
    const std::uint64_t hours = day * 8;
    const std::uint64_t cycles = 1 + day;
    const std::uint64_t unsafe = day / 45;
    for (const CommandId id : {CommandId::smart, CommandId::nvme_smart_log}) {
        const FieldDef(&f)[kNvmeSmartFieldCount] = kNvmeSmartFields;
        put(page_of(data, id).data(),
            {{f[kSmartAvailableSpare], 100 - std::min<std::uint64_t>(steps / 4, 100)},
             {f[kSmartPercentageUsed], steps},
             {f[kSmartDataUnitsRead], read},
             {f[kSmartDataUnitsWritten], written},
             {field(kNvmeSmartFields, "host_read_commands"), read * 24},
             {field(kNvmeSmartFields, "host_write_commands"), written * 20},
             {field(kNvmeSmartFields, "controller_busy_time"), day * 30},
             {f[kSmartPowerCycles], cycles},
             {f[kSmartPowerOnHours], hours},
             {f[kSmartUnsafeShutdowns], unsafe}});
    }
    wear(data, steps, steps);

    // The flash's own counters: blocks that failed (d1 the SLC cache, d2/d3 the TLC blocks),
    // each then counted a later bad block, and the reads and recoveries that failed.
    const std::uint64_t read_fail[] = {day / 120, day / 30};
    const std::uint64_t program_fail[] = {day / 150, day / 25};
    const std::uint64_t erase_fail[] = {day / 200, day / 40};
    std::uint64_t later_bad = 0;
    for (const std::uint64_t* fails : {read_fail, program_fail, erase_fail})
        later_bad += fails[0] + fails[1];
    const std::uint64_t slc_erases = day * 12 / kAgeingStepDays;
    std::uint8_t* sysinfo = page_of(data, CommandId::sysinfo).data();
    put(sysinfo,
        {{field(kSystemStatusFields, "power_cycle_count"), cycles},
         {field(kSystemStatusFields, "abnormal_power_cycle_count"), unsafe},
         {field(kSystemStatusFields, "power_on_time"), hours * 3600},
         {field(kFlashStatusFields, "max_erase_count_d1"), slc_erases + slc_erases / 5},
         {field(kFlashStatusFields, "average_erase_count_d1"), slc_erases},
         {field(kFlashStatusFields, "min_erase_count_d1"), slc_erases - slc_erases / 5},
         {field(kFlashStatusFields, "total_flash_erase_count_d1"), slc_erases * 1902},
         {field(kFlashStatusFields, "total_flash_erase_count_d2_d3"), steps * 7811},
         {field(kFlashStatusFields, "total_flash_program_count_d1"), slc_erases * 1902 * 384},
         {field(kFlashStatusFields, "total_flash_program_count_d2_d3"), steps * 7811 * 1152},
         {field(kFlashStatusFields, "total_flash_read_count"), read * 4},
         {field(kFlashStatusFields, "total_flash_write_count"), written * 4},
         {field(kFlashStatusFields, "read_flash_unc_retry_ok_count_d1"), day * 60},
         {field(kFlashStatusFields, "read_flash_unc_retry_ok_count_d2_d3"), day * 200},
         {field(kFlashStatusFields, "read_flash_unc_retry_fail_count_d1"), day / 45},
         {field(kFlashStatusFields, "read_flash_unc_retry_fail_count_d2_d3"), day / 12},
         {field(kFlashStatusFields, "raid_ecc_recovery_ok_count_d1"), day / 60},
         {field(kFlashStatusFields, "raid_ecc_recovery_ok_count_d2_d3"), day / 10},
         {field(kFlashStatusFields, "raid_ecc_recovery_fail_count_d1"), day / 365},
         {field(kFlashStatusFields, "raid_ecc_recovery_fail_count_d2_d3"), day / 100},
         {field(kFlashStatusFields, "logical_good_block_count_d2_d3"), 7814 - later_bad},
         {field(kFlashStatusFields, "total_later_bad_physical_block_count"), later_bad},
         {field(kFlashStatusFields, "total_read_fail_block_count_d1"), read_fail[0]},
         {field(kFlashStatusFields, "total_read_fail_block_count_d2_d3"), read_fail[1]},
         {field(kFlashStatusFields, "total_program_fail_block_count_d1"), program_fail[0]},
         {field(kFlashStatusFields, "total_program_fail_block_count_d2_d3"), program_fail[1]},
         {field(kFlashStatusFields, "total_erase_fail_block_count_d1"), erase_fail[0]},
         {field(kFlashStatusFields, "total_erase_fail_block_count_d2_d3"), erase_fail[1]},
         {field(kFlashStatusFields, "read_disturb_count"), day * 4}});
    // The extended SMART page keeps the same counts.
    Page& ext = page_of(data, CommandId::smartext);
    set_ext_raw(ext, 0x0300, 37 + later_bad);  // early and later bad blocks
    set_ext_raw(ext, 0x0302, later_bad);
    set_ext_raw(ext, 0x0410, written / 31);
    set_ext_raw(ext, 0x0430, read / 25);
    set_ext_raw(ext, 0x0500, read_fail[0] + read_fail[1]);
    set_ext_raw(ext, 0x0501, program_fail[0] + program_fail[1]);
    set_ext_raw(ext, 0x0502, erase_fail[0] + erase_fail[1]);
    set_ext_raw(ext, 0xF013, day / 365 + day / 100);
}

SimProfileData make_ageing() {
    SimProfileData data = make_default();
    data.product = "PSSD SIM AGEING ";
    standard_inquiry(data, "1.03", "SIM00120");
    nvme_serial(data, "SIM00000000000120");
    age(data, kAgeingBorn);
    return data;
}

// The default drive in an enclosure whose bridge speaks another tunnel, or none, under a name and
// serials of its own.
SimProfileData bridge_variant(const char* product, const char* serial, const char* nvme_serial,
                              UsbId bridge, std::optional<BridgeForm> form) {
    SimProfileData data = make_default();
    data.product = product;
    standard_inquiry(data, "1.03", serial);
    write_text(page_of(data, CommandId::nvme_identify).data(), kIdentifySerial, nvme_serial);
    data.bridge_id = bridge;
    data.bridge_form = form;
    return data;
}

SimProfileData make_bridge_e4() {
    return bridge_variant("PSSD SIM E4     ", "SIM00106", "SIM00000000000106   ",
                          UsbId{0x0BDA, 0x9210}, BridgeForm::e4);
}

SimProfileData make_bridge_a1() {
    return bridge_variant("PSSD SIM A1     ", "SIM00107", "SIM00000000000107   ",
                          UsbId{0x152D, 0x0583}, BridgeForm::a1);
}

// A bridge of an ID no table lists, which in fact speaks the 0xE4 tunnel: only --bridge reaches it.
SimProfileData make_bridge_unknown() {
    return bridge_variant("PSSD SIM UNKNOWN", "SIM00108", "SIM00000000000108   ",
                          UsbId{0xF0E1, 0x0D0C}, BridgeForm::e4);
}

// A SATA bridge of a listed vendor: no NVMe tunnel at all, every tunnel CDB an illegal request.
SimProfileData make_sata_bridge() {
    return bridge_variant("PSSD SIM SATA   ", "SIM00109", "SIM00000000000109   ",
                          UsbId{0x152D, 0x0578}, std::nullopt);
}

}  // namespace

const std::vector<SimProfile>& sim_profiles() {
    static const std::vector<SimProfile> kProfiles = {
        {"default", "1 TB drive, controller TK5021, every page filled", make_default},
        {"unsupported", "controller TK5019: the report stops after the FlashID line",
         make_unsupported},
        {"no-tunnel", "a bridge that does not know the 0xE6 NVMe tunnel", make_no_tunnel},
        {"large", "4 TB drive: the size comes from READ CAPACITY(16)", make_large},
        {"failing-pages", "the six controller pages fail with error 0x1f", make_failing_pages},
        {"hot", "74 C against a 70 C warning threshold: health WARNING", make_hot},
        {"media-errors", "7 media and data integrity errors: health WARNING", make_media_errors},
        {"spare-low", "available spare 4% below its 10% threshold: health FAILED", make_spare_low},
        {"worn-out", "percentage used 104%, reliability degraded: health FAILED", make_worn_out},
        {"vendor-life", "no NVMe SMART log; extended SMART: 8% life left: health WARNING",
         make_vendor_life},
        {"bridge-e4", "a bridge of the 0xE4 NVMe tunnel (USB ID 0bda:9210)", make_bridge_e4},
        {"bridge-a1", "a bridge of the 0xA1 NVMe tunnel (USB ID 152d:0583)", make_bridge_a1},
        {"bridge-unknown", "a USB bridge no table lists (f0e1:0d0c): no NVMe health read",
         make_bridge_unknown},
        {"sata-bridge", "a SATA bridge of a listed vendor (152d:0578): no NVMe tunnel at all",
         make_sata_bridge},
        {"ageing", "wears with the run's time (SOURCE_DATE_EPOCH): 1% used every 30 days",
         make_ageing, age},
        {"counterfeit", "offers 2 TB, holds 137.4 GB of flash: health FAILED", make_counterfeit},
        {"mixed-flash", "banks of two makes of flash part: a note", make_mixed_flash},
        {"slc-mode", "TLC flash run at 1 bit per cell, a third of it offered: a note",
         make_slc_mode},
    };
    return kProfiles;
}

void load_profile(SimDrive& drive, const SimProfileData& data) {
    for (const CommandInfo& command : kCommands) {
        const std::size_t index = static_cast<std::size_t>(command.id);
        drive.set_page(command.id, data.replies[index]);
        drive.set_fault(command.id, data.faults[index]);
    }
    drive.set_tunnel_supported(data.tunnel_supported);
    drive.set_bridge(data.bridge_id, data.bridge_form, data.recorded_bridge.has_value());
    SimDescriptor descriptor = drive.descriptor();
    descriptor.vendor = data.vendor;
    descriptor.product = data.product;
    drive.set_descriptor(descriptor);
}

SimProfileData make_profile(const SimProfile& profile, std::optional<std::int64_t> now) {
    SimProfileData data = profile.make();
    if (profile.age != nullptr && now)
        profile.age(data, *now);
    return data;
}

const SimProfile* find_sim_profile(std::string_view name) {
    for (const SimProfile& profile : sim_profiles()) {
        if (name == profile.name)
            return &profile;
    }
    return nullptr;
}

}  // namespace torvik
