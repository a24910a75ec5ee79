// Every command the tool sends, and every fact that belongs to one command: its CDB form and
// opcode, its reply length, the dump file that keeps the reply, the short page name (JSON keys,
// the run's manifest, fault rules of the test device) and the name its failure line prints.
// The transport, the drive report, the simulated drive and replay all read this one table.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/pass_through.h"

namespace torvik {

enum class CommandId {
    inquiry,
    read_capacity10,
    read_capacity16,
    read_fid,
    read_info,
    sysinfo,
    fidall,
    infoblock,
    id,
    smart,
    smartext,
    nvme_identify,
    nvme_smart_log,
};

enum class CommandForm {
    scsi,      // a standard SCSI command
    vendor12,  // vendor command, 12-byte CDB, 16-bit code
    vendor16,  // vendor command, 16-byte CDB, 32-bit code
    tunnel,    // NVMe admin command through the bridge's tunnel, of whichever form
};

// How a command ended, as the transport saw it.
enum class CommandOutcome : std::uint8_t {
    data,             // the call succeeded and the drive ended the command well
    check_condition,  // the call succeeded, the drive ended the command with CHECK CONDITION
    failed,           // the platform call failed, or the request was refused before it
};

// The 0xE6 form's operation code: the command table's bridge reads are shaped as the default run
// sends them, in that form (scsi/tunnel_forms.h holds every form).
inline constexpr std::uint8_t kTunnelOpcode = 0xE6;

// NVMe admin command values of the two bridge reads.
inline constexpr std::uint32_t kNvmeIdentifyCnsController = 1;  // Identify: the controller
inline constexpr std::uint32_t kNvmeSmartHealthLogId = 2;       // Get Log Page: SMART / Health
inline constexpr std::uint32_t kNvmeAllNamespaces = 0xFFFFFFFF;

// Command dword 10 of a Get Log Page of length bytes: the number of dwords minus one in the upper
// half, the log identifier in the low byte.
constexpr std::uint32_t nvme_log_cdw10(std::uint32_t log_id, std::uint32_t length) {
    return ((length / 4 - 1) << 16) | log_id;
}

struct CommandInfo {
    CommandId id;
    CommandForm form;
    std::uint32_t code;        // SCSI opcode, vendor code, or the NVMe opcode for the tunnel
    std::uint8_t cdb_length;   // bytes of the CDB
    std::uint32_t length;      // reply length the report asks for (and the dump length)
    const char* dump_name;     // "torvik_usb_" or "torvik_pssd_", the page name, ".bin"
    const char* page_name;     // the command's short name
    const char* failure_name;  // the report's failure line; nullptr: it prints none
    // A bridge read's NVMe command: its namespace id and command dword 10.
    std::uint32_t nvme_namespace;
    std::uint32_t nvme_cdw10;
    const char* words;  // what its page holds, in words, for the outputs that name a page
};

// In the order the report sends them. The six controller pages print the name of the info read
// that comes before them; the bridge reads have a line of the transport's only.
// clang-format off
// Columns: id, form, code, CDB length, reply length, dump file, page name, failure line; for the
// bridge reads the NVMe namespace id and command dword 10; what the page holds, in words.
inline constexpr CommandInfo kCommands[] = {
    {CommandId::inquiry,         CommandForm::scsi,     0x12,       6,  56,   "torvik_usb_inq.bin",         "inq",        "Inquiry", 0, 0, "the drive's identity (INQUIRY)"},
    {CommandId::read_capacity10, CommandForm::scsi,     0x25,       10, 8,    "torvik_usb_cap.bin",         "cap",        "ReadCapacity", 0, 0, "the drive's size (READ CAPACITY)"},
    {CommandId::read_capacity16, CommandForm::scsi,     0x9E,       16, 32,   "torvik_usb_cap16.bin",       "cap16",      "ReadCapacity16", 0, 0, "the drive's size (READ CAPACITY)"},
    {CommandId::read_fid,        CommandForm::vendor12, 0x0656,     12, 512,  "torvik_usb_fid.bin",         "fid",        "ReadFID", 0, 0, "the flash ID"},
    {CommandId::read_info,       CommandForm::vendor12, 0x0605,     12, 528,  "torvik_usb_info.bin",        "info",       "ReadInfo", 0, 0, "the controller's identity"},
    {CommandId::sysinfo,         CommandForm::vendor16, 0x06008000, 16, 4096, "torvik_pssd_sysinfo.bin",    "sysinfo",    "ReadInfo", 0, 0, "the system information page (configuration, system and flash status)"},
    {CommandId::fidall,          CommandForm::vendor16, 0x06009000, 16, 512,  "torvik_pssd_fidall.bin",     "fidall",     "ReadInfo", 0, 0, "the flash IDs of every bank"},
    {CommandId::infoblock,       CommandForm::vendor16, 0x0600B100, 16, 6144, "torvik_pssd_infoblock.bin",  "infoblock",  "ReadInfo", 0, 0, "the attribute configuration page (attribute slots, SLC cache)"},
    {CommandId::id,              CommandForm::vendor16, 0x0600FD13, 16, 4096, "torvik_pssd_id.bin",         "id",         "ReadInfo", 0, 0, "the identification page"},
    {CommandId::smart,           CommandForm::vendor16, 0x06008901, 16, 512,  "torvik_pssd_smart.bin",      "smart",      "ReadInfo", 0, 0, "the controller's copy of the NVMe SMART / Health log"},
    {CommandId::smartext,        CommandForm::vendor16, 0x06008902, 16, 4096, "torvik_pssd_smartext.bin",   "smartext",   "ReadInfo", 0, 0, "the extended SMART page"},
    {CommandId::nvme_identify,   CommandForm::tunnel,   0x06,       16, 4096, "torvik_pssd_nvme_id.bin",    "nvme_id",    nullptr, 0, kNvmeIdentifyCnsController, "the NVMe Identify page"},
    {CommandId::nvme_smart_log,  CommandForm::tunnel,   0x02,       16, 512,  "torvik_pssd_nvme_smart.bin", "nvme_smart", nullptr, kNvmeAllNamespaces, nvme_log_cdw10(kNvmeSmartHealthLogId, 512), "the NVMe SMART / Health log"},
};
// clang-format on

inline constexpr std::size_t kCommandCount = std::size(kCommands);

constexpr const CommandInfo& command_info(CommandId id) {
    return kCommands[static_cast<std::size_t>(id)];
}

// The reply area of one command, sized from the table.
template <CommandId id>
using ReplyArea = std::array<std::uint8_t, command_info(id).length>;

// The first CDB byte of the command: what the platform's read-only rule looks at.
constexpr std::uint8_t command_opcode(const CommandInfo& info) {
    switch (info.form) {
        case CommandForm::scsi:
            return static_cast<std::uint8_t>(info.code);
        case CommandForm::vendor12:
            return static_cast<std::uint8_t>(info.code >> 8);
        case CommandForm::vendor16:
            return static_cast<std::uint8_t>(info.code >> 24);
        case CommandForm::tunnel:
            break;
    }
    return kTunnelOpcode;
}

// The command whose page name is `name`; nullptr when none is.
const CommandInfo* command_by_page_name(std::string_view name);

namespace detail {

constexpr bool cdb_length_fits_form(const CommandInfo& c) {
    switch (c.form) {
        case CommandForm::scsi:
            return c.cdb_length == 6 || c.cdb_length == 10 || c.cdb_length == 16;
        case CommandForm::vendor12:
            return c.cdb_length == 12 && c.code <= 0xFFFF;
        case CommandForm::vendor16:
        case CommandForm::tunnel:
            return c.cdb_length == 16;
    }
    return false;
}

// "torvik_usb_" or "torvik_pssd_", then the page name, then ".bin".
constexpr bool dump_name_fits_page(const CommandInfo& c) {
    const std::string_view dump = c.dump_name;
    const std::string_view page = c.page_name;
    for (const std::string_view prefix :
         {std::string_view("torvik_usb_"), std::string_view("torvik_pssd_")}) {
        if (dump.size() == prefix.size() + page.size() + 4 &&
            dump.substr(0, prefix.size()) == prefix &&
            dump.substr(prefix.size(), page.size()) == page &&
            dump.substr(dump.size() - 4) == ".bin")
            return true;
    }
    return false;
}

constexpr bool command_table_is_sound() {
    for (std::size_t i = 0; i < kCommandCount; ++i) {
        const CommandInfo& c = kCommands[i];
        if (static_cast<std::size_t>(c.id) != i || c.length == 0 || c.words == nullptr ||
            !cdb_length_fits_form(c) || !dump_name_fits_page(c) ||
            !is_read_only_opcode(command_opcode(c)) ||
            (c.failure_name == nullptr) != (c.form == CommandForm::tunnel) ||
            (c.form != CommandForm::tunnel && (c.nvme_namespace != 0 || c.nvme_cdw10 != 0))) {
            return false;
        }
        if (c.form == CommandForm::tunnel && !is_tunnel_nvme_opcode(c.code)) {
            return false;
        }
        for (std::size_t j = 0; j < i; ++j) {
            if (std::string_view(kCommands[j].page_name) == c.page_name)
                return false;
        }
    }
    return true;
}

}  // namespace detail

static_assert(detail::command_table_is_sound(),
              "every row: indexed by its id, its page in words, a CDB length its form allows, a "
              "dump name made of its "
              "page name, a read-only opcode, a failure name unless it is a bridge read, a page "
              "name of its own; a bridge read one of the NVMe reads a tunnel may carry");

}  // namespace torvik
