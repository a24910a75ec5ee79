#include "sim/profiles.h"

#include <algorithm>
#include <cstring>

#include "common/bytes.h"

namespace torvik {

namespace {

using Page = std::vector<std::uint8_t>;

// BiCS5 TLC packages of four dies, 2 Tb per chip enable: four of them make the 1 TB drive.
constexpr std::uint8_t kFlashId[8] = {0x98, 0x49, 0x9A, 0xB3, 0x7E, 0xF4, 0x08, 0x00};

Page& reply(SimProfileData& data, CommandId id) {
    Page& page = data.replies[static_cast<std::size_t>(id)];
    page.assign(command_info(id).length, 0);
    return page;
}

void put_text(Page& page, std::size_t offset, const char* text) {
    std::memcpy(page.data() + offset, text, std::strlen(text));
}

void put_flash_id(Page& page, std::size_t offset, const std::uint8_t (&id)[8]) {
    std::copy(id, id + 8, page.begin() + static_cast<std::ptrdiff_t>(offset));
}

// Standard INQUIRY data: direct-access device, SPC-4, vendor and product identification, revision,
// and the serial number in the first eight vendor-specific bytes.
void standard_inquiry(SimProfileData& data, const char* revision, const char* serial) {
    Page& inq = reply(data, CommandId::inquiry);
    inq[2] = 0x06;
    inq[3] = 0x02;
    inq[4] = 51;  // additional length: 56 bytes in all
    put_text(inq, 8, data.vendor.c_str());
    put_text(inq, 16, data.product.c_str());
    put_text(inq, 32, revision);
    put_text(inq, 36, serial);
}

void capacity(SimProfileData& data, std::uint64_t last_lba) {
    Page& cap10 = reply(data, CommandId::read_capacity10);
    put_be32(cap10.data(),
             last_lba > 0xFFFFFFFF ? 0xFFFFFFFF : static_cast<std::uint32_t>(last_lba));
    put_be32(cap10.data() + 4, 512);
    Page& cap16 = reply(data, CommandId::read_capacity16);
    put_be64(cap16.data(), last_lba);
    put_be32(cap16.data() + 8, 512);
}

void controller_identity(SimProfileData& data, std::uint16_t controller) {
    Page& fid = reply(data, CommandId::read_fid);
    put_flash_id(fid, 0, kFlashId);
    Page& info = reply(data, CommandId::read_info);
    put_text(info, 0, "TK5021 PSSD FW 1.0.3");
    put_be16(info.data() + 382, controller);
}

void system_info(SimProfileData& data) {
    Page& sys = reply(data, CommandId::sysinfo);
    std::uint8_t* p = sys.data();
    p[0x00] = 4;                // chip enables
    p[0x01] = 4;                // channels
    p[0x02] = 1;                // interleave
    p[0x08] = 3;                // bits per cell
    put_le16(p + 0x0A, 1152);   // pages per block
    put_le16(p + 0x0C, 14040);  // blocks per CE
    p[0x0F] = 4;                // dies per CE
    put_le32(p + 0x18, 0x0000000F);
    put_le16(p + 0x38, 800);   // CPU clock
    put_le16(p + 0x3E, 1200);  // flash clock, MT/s
    // System status log.
    p[0x109] = 0;
    put_le16(p + 0x10A, 0x0001);
    p[0x10C] = 0;
    p[0x10D] = 0;
    put_le16(p + 0x10E, 0);
    put_le32(p + 0x110, 3);  // firmware updates
    p[0x114] = 1;
    p[0x115] = 0x0C;
    put_le32(p + 0x120, 412);  // power cycles
    put_le32(p + 0x124, 23);
    put_le32(p + 0x128, 5);
    put_le32(p + 0x12C, 4968123);  // power-on seconds
    put_le32(p + 0x134, 2);
    put_le32(p + 0x138, 0);
    put_le32(p + 0x13C, 1);
    put_le32(p + 0x140, 0);
    put_le32(p + 0x144, 0);
    put_le32(p + 0x148, 87);
    put_le32(p + 0x14C, 1532);
    put_le32(p + 0x150, 6021);
    put_le32(p + 0x154, 311);
    p[0x158] = 12;
    p[0x159] = 35;
    p[0x15A] = 8;
    p[0x15B] = 1;
    p[0x15C] = 0;
    p[0x15D] = 0;
    put_le32(p + 0x164, 940);
    put_le32(p + 0x168, 41);
    p[0x16C] = 3;
    put_le32(p + 0x170, 2210);
    put_le32(p + 0x174, 96);
    p[0x178] = 5;
    p[0x179] = 0;
    p[0x17A] = 0;
    // Flash status log.
    put_le32(p + 0x200, 61);
    put_le32(p + 0x204, 48);
    put_le32(p + 0x208, 37);
    put_le32(p + 0x20C, 29);
    put_le32(p + 0x210, 21);
    put_le32(p + 0x214, 17);
    put_le64(p + 0x218, 1204331);
    put_le64(p + 0x220, 2290876);
    put_le64(p + 0x228, 354112908);
    put_le64(p + 0x230, 1730998431);
    put_le64(p + 0x238, 5123456789);
    put_le64(p + 0x240, 2085111320);
    put_le64(p + 0x248, 1877);
    put_le64(p + 0x250, 5203);
    put_le32(p + 0x258, 0);
    put_le32(p + 0x25C, 2);
    put_le32(p + 0x260, 4);
    put_le32(p + 0x264, 9);
    put_le32(p + 0x268, 0);
    put_le32(p + 0x26C, 0);
    put_le16(p + 0x270, 1902);
    put_le16(p + 0x272, 7811);
    put_le16(p + 0x274, 37);
    put_le16(p + 0x276, 3);
    put_le16(p + 0x278, 0);
    put_le16(p + 0x27A, 1);
    put_le16(p + 0x27C, 0);
    put_le16(p + 0x27E, 2);
    put_le16(p + 0x280, 0);
    put_le16(p + 0x282, 1);
    put_le32(p + 0x284, 16);
    put_le32(p + 0x288, 118);
    put_le32(p + 0x28C, 30000);  // PE cycle limit, SLC
    put_le16(p + 0x290, 3000);   // PE cycle limit, TLC
}

void flash_banks(SimProfileData& data) {
    Page& fidall = reply(data, CommandId::fidall);
    for (std::size_t bank = 0; bank < 4; ++bank) {
        put_flash_id(fidall, 8 * bank, kFlashId);
    }
}

// Attribute configuration records at 0x600: Attr, Tresh, Flags, -, ValId (LE), WrstId (LE),
// RawId (BE). Slot 6 is left empty, as firmware leaves gaps.
void attribute_configuration(SimProfileData& data) {
    Page& info = reply(data, CommandId::infoblock);
    struct Slot {
        std::uint8_t attr, tresh, flags;
        std::uint16_t val_id, wrst_id, raw_id;
    };
    constexpr Slot kSlots[] = {
        {0x01, 0x32, 0x0B, 0x0001, 0x0002, 0x0100}, {0x05, 0x0A, 0x33, 0x0001, 0x0002, 0x0300},
        {0x09, 0x00, 0x32, 0x0001, 0x0002, 0x0600}, {0x0C, 0x00, 0x32, 0x0001, 0x0002, 0x0607},
        {0xA1, 0x00, 0x33, 0x0003, 0x0003, 0x0305}, {0xA5, 0x00, 0x32, 0x0004, 0x0004, 0x0201},
        {0xA7, 0x00, 0x32, 0x0004, 0x0004, 0x020B}, {0xA9, 0x0A, 0x33, 0x0005, 0x0005, 0x020F},
        {0xAB, 0x00, 0x32, 0x0001, 0x0002, 0x0501}, {0xAC, 0x00, 0x32, 0x0001, 0x0002, 0x0502},
        {0xC2, 0x00, 0x22, 0x0006, 0x0007, 0x0803}, {0xF1, 0x00, 0x32, 0x0001, 0x0002, 0x0402},
        {0xF2, 0x00, 0x32, 0x0001, 0x0002, 0x0422},
    };
    std::size_t slot = 0;
    for (const Slot& s : kSlots) {
        if (slot == 6)
            ++slot;
        std::uint8_t* r = info.data() + 0x600 + 16 * slot++;
        r[0] = s.attr;
        r[1] = s.tresh;
        r[2] = s.flags;
        put_le16(r + 4, s.val_id);
        put_le16(r + 6, s.wrst_id);
        put_be16(r + 8, s.raw_id);
    }
    put_le32(info.data() + 0x984, 0x00060000);  // SLC cache
    put_le32(info.data() + 0x988, 0x00000C00);
}

void identification(SimProfileData& data) {
    Page& id = reply(data, CommandId::id);
    put_text(id, 0, "TK5021");
    put_text(id, 16, "PSSD-T7-1TB");
    put_text(id, 48, "1.0.3 2026-03-14");
}

// NVMe SMART / Health log layout.
void health(Page& smart) {
    std::uint8_t* p = smart.data();
    p[0] = 0;
    put_le16(p + 1, 309);  // 36 C
    p[3] = 100;
    p[4] = 10;
    p[5] = 2;
    put_le64(p + 0x20, 40112233);  // data units read
    put_le64(p + 0x30, 35276512);  // data units written
    put_le64(p + 0x40, 912345678);
    put_le64(p + 0x50, 701234567);
    put_le32(p + 0x60, 1240);  // controller busy minutes
    put_le32(p + 0x70, 412);   // power cycles
    put_le32(p + 0x80, 1380);  // power-on hours
    put_le32(p + 0x90, 23);    // unsafe shutdowns
    put_le32(p + 0xA0, 0);
    put_le32(p + 0xB0, 0);
    put_le32(p + 0xC0, 0);
    put_le32(p + 0xC4, 0);
    put_le16(p + 0xC8, 312);  // sensor 0: 39 C
    put_le16(p + 0xCA, 305);  // sensor 1: 32 C
    put_le32(p + 0xD8, 4);
    put_le32(p + 0xDC, 0);
    put_le32(p + 0xE0, 96);
    put_le32(p + 0xE4, 0);
}

// Extended SMART records: #, IntId, 4 unused bytes, 64-bit raw value.
void extended_smart(SimProfileData& data) {
    Page& ext = reply(data, CommandId::smartext);
    struct Record {
        std::uint16_t int_id;
        std::uint64_t raw;
    };
    constexpr Record kRecords[] = {
        {0x0100, 0},  {0x0103, 0},  {0x0107, 0},  {0x0204, 3162},    {0x0205, 3495207},
        {0x0209, 61}, {0x020B, 37}, {0x020C, 21}, {0x020E, 2},       {0x020F, 98},
        {0x0300, 40}, {0x0301, 37}, {0x0302, 3},  {0x0410, 1134662}, {0x0430, 1623018},
        {0x0500, 0},  {0x0501, 2},  {0x0502, 1},  {0x0704, 3},       {0x0802, 71},
        {0x0803, 44}, {0xF013, 0},
    };
    std::size_t k = 0;
    for (const Record& r : kRecords) {
        std::uint8_t* rec = ext.data() + 16 * k;
        put_le16(rec, static_cast<std::uint16_t>(k + 1));
        put_le16(rec + 2, r.int_id);
        put_le64(rec + 8, r.raw);
        ++k;
    }
}

void nvme_pages(SimProfileData& data) {
    Page& id = reply(data, CommandId::nvme_identify);
    put_le16(id.data() + 0, 0x1D79);  // PCI vendor id
    put_le16(id.data() + 2, 0x1D79);
    put_text(id, 4, "TV21A0F31C7E58D2    ");
    put_text(id, 24, "TORVIK PSSD T7 1TB                      ");
    put_text(id, 64, "TK5021.3");
    id[77] = 7;  // maximum data transfer size
    health(reply(data, CommandId::nvme_smart_log));
}

SimProfileData make_default() {
    SimProfileData data;
    standard_inquiry(data, "1.03", "TV21A0F3");
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
    put_be16(data.replies[static_cast<std::size_t>(CommandId::read_info)].data() + 382, 0x5019);
    return data;
}

SimProfileData make_no_tunnel() {
    SimProfileData data = make_default();
    data.tunnel_supported = false;
    return data;
}

SimProfileData make_large() {
    SimProfileData data = make_default();
    data.product = "PSSD T7 4TB     ";
    standard_inquiry(data, "1.03", "TV40B1D9");
    capacity(data, 7814037167);  // 4 TB: READ CAPACITY(10) answers 0xFFFFFFFF
    return data;
}

SimProfileData make_failing_pages() {
    SimProfileData data = make_default();
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
SimProfileData health_variant(const char* product, const char* serial, void (*edit)(Page&)) {
    SimProfileData data = make_default();
    data.product = product;
    standard_inquiry(data, "1.03", serial);
    edit(data.replies[static_cast<std::size_t>(CommandId::smart)]);
    edit(data.replies[static_cast<std::size_t>(CommandId::nvme_smart_log)]);
    // Warning and critical composite temperature thresholds in the NVMe Identify page: 70 C, 85 C.
    Page& id = data.replies[static_cast<std::size_t>(CommandId::nvme_identify)];
    put_le16(id.data() + 266, 343);
    put_le16(id.data() + 268, 358);
    return data;
}

SimProfileData make_hot() {
    return health_variant("PSSD SIM HOT    ", "SIM00101", [](Page& smart) {
        smart[0] = 0x02;                    // temperature outside a threshold
        put_le16(smart.data() + 1, 347);    // 74 C
        put_le32(smart.data() + 0xC0, 38);  // minutes above the warning threshold
        put_le16(smart.data() + 0xC8, 350);
    });
}

SimProfileData make_media_errors() {
    return health_variant("PSSD SIM ERR    ", "SIM00102",
                          [](Page& smart) { put_le32(smart.data() + 0xA0, 7); });
}

SimProfileData make_spare_low() {
    return health_variant("PSSD SIM SPARE  ", "SIM00103", [](Page& smart) {
        smart[0] = 0x01;  // spare below threshold
        smart[3] = 4;
    });
}

SimProfileData make_worn_out() {
    SimProfileData data = health_variant("PSSD SIM WORN   ", "SIM00104", [](Page& smart) {
        smart[0] = 0x04;  // reliability degraded
        smart[3] = 12;
        smart[5] = 104;
    });
    return data;
}

// Neither copy of the NVMe log: a bridge without the tunnel and a failing smart page, so the
// verdict falls back to the extended SMART life figures (8% of the rated life left).
SimProfileData make_vendor_life() {
    SimProfileData data = make_default();
    data.product = "PSSD SIM LIFE   ";
    standard_inquiry(data, "1.03", "SIM00105");
    data.tunnel_supported = false;
    data.faults[static_cast<std::size_t>(CommandId::smart)] =
        Fault{FaultKind::platform_error, 31, 0};
    Page& ext = data.replies[static_cast<std::size_t>(CommandId::smartext)];
    put_le64(ext.data() + 16 * 8 + 8, 92);    // SSD life used percent
    put_le64(ext.data() + 16 * 9 + 8, 8);     // SSD life remaining percent
    put_le64(ext.data() + 16 * 6 + 8, 2790);  // average erase count
    return data;
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
    SimDescriptor descriptor = drive.descriptor();
    descriptor.vendor = data.vendor;
    descriptor.product = data.product;
    drive.set_descriptor(descriptor);
}

const SimProfile* find_sim_profile(std::string_view name) {
    for (const SimProfile& profile : sim_profiles()) {
        if (name == profile.name)
            return &profile;
    }
    return nullptr;
}

}  // namespace torvik
