// Every command the tool sends, with its reply length and the dump file that keeps the reply.
// The drive report, the simulated drive and the replay loader all read this one table.
#pragma once

#include <cstddef>
#include <cstdint>

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
    tunnel,    // NVMe admin command through the bridge's 0xE6 tunnel
};

struct CommandInfo {
    CommandId id;
    CommandForm form;
    std::uint32_t code;    // vendor code, or the NVMe opcode for the tunnel, or the SCSI opcode
    std::uint32_t length;  // reply length the report asks for (and the dump length)
    const char* dump_name;
};

// Columns: id, form, code, length, dump file. In the order the report sends them.
inline constexpr CommandInfo kCommands[] = {
    {CommandId::inquiry, CommandForm::scsi, 0x12, 56, "torvik_usb_inq.bin"},
    {CommandId::read_capacity10, CommandForm::scsi, 0x25, 8, "torvik_usb_cap.bin"},
    {CommandId::read_capacity16, CommandForm::scsi, 0x9E, 32, "torvik_usb_cap16.bin"},
    {CommandId::read_fid, CommandForm::vendor12, 0x0656, 512, "torvik_usb_fid.bin"},
    {CommandId::read_info, CommandForm::vendor12, 0x0605, 528, "torvik_usb_info.bin"},
    {CommandId::sysinfo, CommandForm::vendor16, 0x06008000, 4096, "torvik_pssd_sysinfo.bin"},
    {CommandId::fidall, CommandForm::vendor16, 0x06009000, 512, "torvik_pssd_fidall.bin"},
    {CommandId::infoblock, CommandForm::vendor16, 0x0600B100, 6144, "torvik_pssd_infoblock.bin"},
    {CommandId::id, CommandForm::vendor16, 0x0600FD13, 4096, "torvik_pssd_id.bin"},
    {CommandId::smart, CommandForm::vendor16, 0x06008901, 512, "torvik_pssd_smart.bin"},
    {CommandId::smartext, CommandForm::vendor16, 0x06008902, 4096, "torvik_pssd_smartext.bin"},
    {CommandId::nvme_identify, CommandForm::tunnel, 0x06, 4096, "torvik_pssd_nvme_id.bin"},
    {CommandId::nvme_smart_log, CommandForm::tunnel, 0x02, 512, "torvik_pssd_nvme_smart.bin"},
};

inline constexpr std::size_t kCommandCount = sizeof kCommands / sizeof kCommands[0];

constexpr const CommandInfo& command_info(CommandId id) {
    return kCommands[static_cast<std::size_t>(id)];
}

static_assert(command_info(CommandId::nvme_smart_log).id == CommandId::nvme_smart_log,
              "kCommands is indexed by CommandId");

}  // namespace torvik
