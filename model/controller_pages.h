// The controller's vendor pages: the flash ID and info pages read first, then the six pages of a
// supported controller. All multi-byte numbers are little-endian unless a row says big-endian.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <vector>

#include "model/page_field.h"
#include "scsi/commands.h"

namespace torvik {

inline constexpr std::size_t kFlashIdSize = 8;
using FlashIdBytes = std::array<std::uint8_t, kFlashIdSize>;

// A flash ID slot whose first two bytes are zero holds no flash.
constexpr bool flash_id_present(const FlashIdBytes& id) {
    return id[0] != 0 || id[1] != 0;
}

// ---- fid page: the first flash package's ID -----------------------------------------------------

inline constexpr FieldDef kFidFlashId = be("flash_id", 0, kFlashIdSize, Unit::id);  // in page order
static_assert(fields_fit({kFidFlashId}, command_info(CommandId::read_fid).length));

// ---- info page ----------------------------------------------------------------------------------

inline constexpr FieldDef kInfoFields[] = {
    text("firmware_text", 0, 32), be("controller_id", 382, 2, Unit::id),  // 0x5021 for TK5021
};
static_assert(fields_fit(kInfoFields, command_info(CommandId::read_info).length));
inline constexpr const FieldDef& kInfoFirmwareText = kInfoFields[0];
inline constexpr const FieldDef& kInfoControllerId = kInfoFields[1];

// Only these controllers go on past the identity lines.
inline constexpr std::uint16_t kSupportedControllers[] = {0x5017, 0x5018, 0x5021};
bool controller_supported(std::uint16_t controller_id);

// The controller's name as every output shows it: "TK5021".
struct ControllerName {
    char text[8];
};
ControllerName controller_name(std::uint16_t controller_id);

// ---- sysinfo page: flash geometry, system and flash status counters -----------------------------

// The configuration fields, read as unsigned.
struct FlashGeometry {
    std::uint32_t ce_count = 0;
    std::uint32_t channels = 0;
    std::uint32_t interleave = 0;
    std::uint32_t bits_per_cell = 0;
    std::uint32_t pages_per_block = 0;
    std::uint32_t blocks_per_ce = 0;
    std::uint32_t dies_per_ce = 0;
    std::uint32_t ce_mask = 0;  // bit k: chip enable k
    std::uint32_t cpu_clock = 0;
    std::uint32_t flash_clock = 0;
    std::uint32_t pe_limit_first = 0;   // program/erase cycles of a block in SLC mode
    std::uint32_t pe_limit_second = 0;  // in native mode
};

struct GeometryField {
    FieldDef field;
    std::uint32_t FlashGeometry::*member;
};

// Columns: name, offset, width, unit; the member it decodes into.
inline constexpr GeometryField kGeometryFields[] = {
    {le("flash_ce", 0x00, 1), &FlashGeometry::ce_count},
    {le("flash_channels", 0x01, 1), &FlashGeometry::channels},
    {le("interleave", 0x02, 1), &FlashGeometry::interleave},
    {le("bits_per_cell", 0x08, 1, Unit::count), &FlashGeometry::bits_per_cell},
    {le("pages_per_block", 0x0A, 2), &FlashGeometry::pages_per_block},
    {le("blocks_per_ce", 0x0C, 2, Unit::blocks), &FlashGeometry::blocks_per_ce},
    {le("dies_per_ce", 0x0F, 1), &FlashGeometry::dies_per_ce},
    {le("flash_ce_mask", 0x18, 4, Unit::id), &FlashGeometry::ce_mask},
    {le("cpu_clock", 0x38, 2, Unit::megahertz), &FlashGeometry::cpu_clock},
    {le("flash_clock_mt", 0x3E, 2, Unit::megatransfers), &FlashGeometry::flash_clock},
    {le("pe_cycle_limit_first", 0x28C, 4), &FlashGeometry::pe_limit_first},
    {le("pe_cycle_limit_second", 0x290, 2), &FlashGeometry::pe_limit_second},
};

// The rated program/erase cycles of a block in native mode, which the verdict reads.
inline constexpr const FieldDef& kPeLimitSecond = kGeometryFields[11].field;
static_assert(kGeometryFields[11].member == &FlashGeometry::pe_limit_second);
// The chip enables and the bits per cell, which the flash figures read.
inline constexpr const FieldDef& kFlashCe = kGeometryFields[0].field;
inline constexpr const FieldDef& kBitsPerCell = kGeometryFields[3].field;
inline constexpr const FieldDef& kFlashCeMask = kGeometryFields[7].field;
static_assert(kGeometryFields[0].member == &FlashGeometry::ce_count &&
              kGeometryFields[3].member == &FlashGeometry::bits_per_cell &&
              kGeometryFields[7].member == &FlashGeometry::ce_mask);

FlashGeometry decode_flash_geometry(const std::uint8_t* sysinfo);

// "SLC", "MLC", "TLC" or "QLC" for 1 to 4 bits per cell; nullptr for any other count.
const char* bits_per_cell_name(unsigned bits_per_cell);

// The firmware's system status counters. Columns: name, offset, width, unit.
inline constexpr FieldDef kSystemStatusFields[] = {
    le("disk_init_fail", 0x109, 1),
    le("disk_hw_status", 0x10A, 2, Unit::id),
    le("write_protect", 0x10C, 1),
    le("ftl_err_path", 0x10D, 1),
    le("hardware_initial_error", 0x10E, 2),
    le("fw_code_update_count", 0x110, 4),
    le("security_state", 0x114, 1, Unit::id),
    le("gpio", 0x115, 1, Unit::id),
    le("power_cycle_count", 0x120, 4),
    le("abnormal_power_cycle_count", 0x124, 4),
    le("fw_internal_power_cycle_count", 0x128, 4),
    le("power_on_time", 0x12C, 4, Unit::seconds),
    le("flash_ip_reset_count", 0x134, 4),
    le("host_e3d_err_count", 0x138, 4),
    le("flash_e3d_err_count", 0x13C, 4),
    le("ddr_ecc_err_count", 0x140, 4),
    le("dbuf_ecc_err_count", 0x144, 4),
    le("gc_table_trigger_count", 0x148, 4),
    le("d1_gc_data_trigger_count", 0x14C, 4),
    le("d2_d3_gc_data_trigger_count", 0x150, 4),
    le("dynamic_d1_gc_data_trigger_count", 0x154, 4),
    le("d1_gc_block_rate_of_data", 0x158, 1, Unit::percent),
    le("d2_d3_gc_block_rate_of_data", 0x159, 1, Unit::percent),
    le("dynamic_d1_gc_block_rate_of_data", 0x15A, 1, Unit::percent),
    le("vendor_aes_set_key_status", 0x15B, 1, Unit::id),
    le("axi_err_slave", 0x15C, 1, Unit::id),
    le("axi_err_zone", 0x15D, 1, Unit::id),
    le("d1_wear_leveling_check_count", 0x164, 4),
    le("d1_wear_leveling_trigger_count", 0x168, 4),
    le("d1_wear_leveling_block_rate", 0x16C, 1, Unit::percent),
    le("d2_d3_wear_leveling_check_count", 0x170, 4),
    le("d2_d3_wear_leveling_trigger_count", 0x174, 4),
    le("d2_d3_wear_leveling_block_rate", 0x178, 1, Unit::percent),
    le("vuc_protect_mode", 0x179, 1, Unit::id),
    le("vuc_protect_state", 0x17A, 1, Unit::id),
};

// The firmware's flash status counters. The two PE cycle limits are the configuration's, read
// here as 16 bits both. Columns: name, offset, width, unit.
inline constexpr FieldDef kFlashStatusFields[] = {
    le("max_erase_count_d1", 0x200, 4),
    le("max_erase_count_d2_d3", 0x204, 4),
    le("average_erase_count_d1", 0x208, 4),
    le("average_erase_count_d2_d3", 0x20C, 4),
    le("min_erase_count_d1", 0x210, 4),
    le("min_erase_count_d2_d3", 0x214, 4),
    le_signed("total_flash_erase_count_d1", 0x218, 8),
    le_signed("total_flash_erase_count_d2_d3", 0x220, 8),
    le_signed("total_flash_program_count_d1", 0x228, 8),
    le_signed("total_flash_program_count_d2_d3", 0x230, 8),
    le_signed("total_flash_read_count", 0x238, 8),
    le_signed("total_flash_write_count", 0x240, 8),
    le_signed("read_flash_unc_retry_ok_count_d1", 0x248, 8),
    le_signed("read_flash_unc_retry_ok_count_d2_d3", 0x250, 8),
    le("read_flash_unc_retry_fail_count_d1", 0x258, 4),
    le("read_flash_unc_retry_fail_count_d2_d3", 0x25C, 4),
    le("raid_ecc_recovery_ok_count_d1", 0x260, 4),
    le("raid_ecc_recovery_ok_count_d2_d3", 0x264, 4),
    le("raid_ecc_recovery_fail_count_d1", 0x268, 4),
    le("raid_ecc_recovery_fail_count_d2_d3", 0x26C, 4),
    le("logical_good_block_count_d1", 0x270, 2, Unit::blocks),
    le("logical_good_block_count_d2_d3", 0x272, 2, Unit::blocks),
    le("total_early_bad_physical_block_count", 0x274, 2, Unit::blocks),
    le("total_later_bad_physical_block_count", 0x276, 2, Unit::blocks),
    le("total_read_fail_block_count_d1", 0x278, 2, Unit::blocks),
    le("total_read_fail_block_count_d2_d3", 0x27A, 2, Unit::blocks),
    le("total_program_fail_block_count_d1", 0x27C, 2, Unit::blocks),
    le("total_program_fail_block_count_d2_d3", 0x27E, 2, Unit::blocks),
    le("total_erase_fail_block_count_d1", 0x280, 2, Unit::blocks),
    le("total_erase_fail_block_count_d2_d3", 0x282, 2, Unit::blocks),
    le("raid_ecc_entry", 0x284, 4),
    le("read_disturb_count", 0x288, 4),
    le("flash_max_pecycle_slc", 0x28C, 2),
    le("flash_max_pecycle_tlc", 0x290, 2),
};
static_assert(fields_fit(kSystemStatusFields, command_info(CommandId::sysinfo).length));
static_assert(fields_fit(kFlashStatusFields, command_info(CommandId::sysinfo).length));

inline constexpr std::size_t kSystemStatusCount = std::size(kSystemStatusFields);
inline constexpr std::size_t kFlashStatusCount = std::size(kFlashStatusFields);

// Every counter by its row; signed rows keep their two's complement bits.
struct StatusCounters {
    std::array<std::uint64_t, kSystemStatusCount> system{};
    std::array<std::uint64_t, kFlashStatusCount> flash{};
};

StatusCounters decode_status_counters(const std::uint8_t* sysinfo);

// ---- fidall page: the flash ID of every bank ----------------------------------------------------

inline constexpr RecordLayout kFidallBanks{0, kFlashIdSize, 32};
inline constexpr unsigned kFlashBanks = kFidallBanks.count;
static_assert(kFidallBanks.offset + kFidallBanks.size * kFidallBanks.count <=
              command_info(CommandId::fidall).length);

FlashIdBytes decode_bank_flash_id(const std::uint8_t* fidall, unsigned bank);

// ---- infoblock page: the ATA-style attribute configuration and the SLC cache --------------------

inline constexpr RecordLayout kAttributeSlots{0x600, 16, 32};
inline constexpr std::size_t kAttributeSlotCount = kAttributeSlots.count;

// One attribute configuration record; attr 0 marks an empty slot, and the slots after it may
// still be in use. Bytes 3 and 10..15 are not read. Columns: name, offset, width, unit.
inline constexpr FieldDef kAttributeSlotFields[] = {
    le("attr", 0, 1, Unit::id),      // attribute number
    le("threshold", 1, 1),           // a limit
    le("flags", 2, 1, Unit::id),     //
    le("value_id", 4, 2, Unit::id),  // which counter is the value
    le("worst_id", 6, 2, Unit::id),  // which counter is the worst value
    be("raw_id", 8, 2, Unit::id),    // which counter is the raw value: the description's key
};
static_assert(fields_fit(kAttributeSlotFields, kAttributeSlots.size));
static_assert(kAttributeSlots.offset + kAttributeSlots.size * kAttributeSlots.count <=
              command_info(CommandId::infoblock).length);

struct AttributeSlot {
    std::uint8_t attr = 0;
    std::uint8_t threshold = 0;
    std::uint8_t flags = 0;
    std::uint16_t value_id = 0;
    std::uint16_t worst_id = 0;
    std::uint16_t raw_id = 0;
};

using AttributeSlots = std::array<AttributeSlot, kAttributeSlotCount>;

AttributeSlots decode_attribute_slots(const std::uint8_t* infoblock);

inline constexpr FieldDef kSlcCacheFields[] = {
    le("slc_cache_first", 0x984, 4, Unit::id),  // two raw configuration words
    le("slc_cache_second", 0x988, 4, Unit::id),
};
static_assert(fields_fit(kSlcCacheFields, command_info(CommandId::infoblock).length));

struct SlcCache {
    std::uint32_t first = 0;
    std::uint32_t second = 0;
};

SlcCache decode_slc_cache(const std::uint8_t* infoblock);

// ---- id page: the controller's own texts --------------------------------------------------------

inline constexpr FieldDef kIdPageFields[] = {
    text("controller", 0, 16),
    text("product", 16, 32),
    text("firmware", 48, 32),
};
static_assert(fields_fit(kIdPageFields, command_info(CommandId::id).length));

// ---- smartext page: extended SMART records ------------------------------------------------------

// Up to 128 records of 16 bytes from byte 0. Bytes 0..3 all zero end the records, but only from
// record 3 on.
inline constexpr RecordLayout kExtSmartRecords{0, 16, 128};
inline constexpr std::size_t kExtSmartFirstEndMark = 3;
static_assert(kExtSmartRecords.offset + kExtSmartRecords.size * kExtSmartRecords.count <=
              command_info(CommandId::smartext).length);

// Columns: name, offset, width, unit.
inline constexpr FieldDef kExtSmartRecordFields[] = {
    le("number", 0, 2),
    le("int_id", 2, 2, Unit::id),  // internal attribute id: the description's key
    le("raw", 8, 8),               // bytes 4..7 are not read
};
static_assert(fields_fit(kExtSmartRecordFields, kExtSmartRecords.size));
inline constexpr const FieldDef& kExtNumber = kExtSmartRecordFields[0];
inline constexpr const FieldDef& kExtIntId = kExtSmartRecordFields[1];
inline constexpr const FieldDef& kExtRaw = kExtSmartRecordFields[2];

struct ExtSmartRecord {
    std::uint16_t number = 0;
    std::uint16_t int_id = 0;
    std::uint64_t raw = 0;
};

// The records the page holds, and whether any byte of it was not zero.
struct ExtendedSmart {
    std::vector<ExtSmartRecord> records;
    bool any = false;

    // The first record with that IntId, or nullptr.
    const ExtSmartRecord* find(std::uint16_t int_id) const;
};

ExtendedSmart decode_extended_smart(const std::uint8_t* smartext);

// Extended SMART records the verdict and the HTML page read, by IntId.
inline constexpr std::uint16_t kExtMaxEraseCount = 0x0209;       // D2/D3 max erase count
inline constexpr std::uint16_t kExtAverageEraseCount = 0x020B;   // D2/D3 average erase count
inline constexpr std::uint16_t kExtLifeUsed = 0x020E;            // SSD life used percent D3
inline constexpr std::uint16_t kExtLifeRemaining = 0x020F;       // SSD life remaining percent D3
inline constexpr std::uint16_t kExtMinEraseCount = 0x020C;       // D2/D3 min erase count
inline constexpr std::uint16_t kExtHighestTemperature = 0x0802;  // highest temperature, C
inline constexpr std::uint16_t kExtChipTemperature = 0x0803;     // chip internal temperature, C

}  // namespace torvik
