// The USB bridges' NVMe tunnels, one row a form: its name, its CDB's operation code and length,
// the longest transfer and log page it carries, its CDB builder and the reading back of its CDBs
// (what a bridge of the form, the simulated one among them, answers by). The transport, the
// simulated drive, the command line and every output that names a form read this table; which
// bridge speaks which form is the bridge table's (scsi/bridge_table.h).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "common/joined_text.h"
#include "platform/pass_through.h"
#include "scsi/cdb.h"
#include "scsi/commands.h"

namespace torvik {

// The forms, by their CDB's operation code, in the table's order.
enum class BridgeForm : std::uint8_t { e6, e4, a1 };

// The steps of one NVMe read. A form whose CDB carries the NVMe command sends the data step
// alone; a framed form sends the command block out first and reads a completion block after the
// page, each step one CDB.
enum class TunnelStep : std::uint8_t { command, data, completion };

// What a tunnel CDB asks for, read back from its bytes.
struct TunnelCdbFields {
    TunnelStep step = TunnelStep::data;
    // Of a form whose CDB carries the command: the NVMe opcode and command dword 10's low byte.
    std::uint8_t nvme_opcode = 0;
    std::uint8_t cdw10_low = 0;
};

struct TunnelFormInfo {
    BridgeForm form;
    const char* name;              // on the command line, in the manifest, the listing and JSON
    std::uint8_t opcode;           // CDB byte 0
    std::uint8_t cdb_length;       // bytes of each CDB
    std::uint32_t max_transfer;    // the longest transfer its CDB can state
    std::uint32_t max_log_length;  // the longest log page the form reads whole
    bool framed;                   // a command block goes out before the page, a completion after
    // The CDB of one step of the read `block` names, `length` bytes long.
    Cdb (*cdb)(const NvmeCommandBlock& block, TunnelStep step, std::uint32_t length);
    // What a CDB of the form (cdb_length bytes) asks for, with the request's transfer length;
    // none when a byte its layout fixes is wrong.
    std::optional<TunnelCdbFields> (*read)(const std::uint8_t* cdb, std::uint32_t transfer_length);
};

// The 0xE6 form, 16 bytes, one step. Only two bytes of the command block reach the drive; the
// amount of data is the transfer length alone:
//   0: 0xE6   1: NVMe opcode (block byte 0)   2: 0   3: command dword 10 bits 7..0 (block byte 8)
//   4-15: 0
Cdb e6_cdb(const NvmeCommandBlock& block, TunnelStep step, std::uint32_t length);
std::optional<TunnelCdbFields> read_e6_cdb(const std::uint8_t* cdb, std::uint32_t transfer_length);

// The 0xE4 form, 16 bytes, one step, data in:
//   0: 0xE4   1-2: transfer length, little-endian   3: NVMe opcode (block byte 0)
//   4: command dword 10 bits 7..0 (block byte 8)   5-15: 0
Cdb e4_cdb(const NvmeCommandBlock& block, TunnelStep step, std::uint32_t length);
std::optional<TunnelCdbFields> read_e4_cdb(const std::uint8_t* cdb, std::uint32_t transfer_length);

// The 0xA1 form, 12 bytes, one CDB a step, framed:
//   0: 0xA1   1: 0x80 (admin) | phase   2: 0   3-5: length, big-endian   6-11: 0
// Phase 0: the command block goes out (512 bytes); phase 2: the page comes in; phase 0xF: the
// completion block comes in (512 bytes).
Cdb a1_cdb(const NvmeCommandBlock& block, TunnelStep step, std::uint32_t length);
std::optional<TunnelCdbFields> read_a1_cdb(const std::uint8_t* cdb, std::uint32_t transfer_length);

// The 0xA1 form's command block, 512 bytes of little-endian dwords:
//   dword 0: signature 0x454D564E ("NVME")   dword 2: NVMe opcode   dword 3: namespace id
//   dwords 12-17: command dwords 10-15   every other dword: 0
using A1CommandBlock = std::array<std::uint8_t, kA1BlockLength>;
A1CommandBlock a1_command_block(const NvmeCommandBlock& block);

// The 0xA1 form's completion block, 512 bytes of little-endian dwords:
//   dword 0: signature   dword 2: the command's result   dword 5 bits 31..17: the NVMe status
struct A1Completion {
    bool signature = false;  // dword 0 is the signature
    std::uint16_t status = 0;
    std::uint32_t result = 0;

    bool ok() const { return signature && status == 0; }
};
A1Completion a1_completion(const std::uint8_t* block);

// clang-format off
// Columns: form, name, CDB operation code, CDB length, longest transfer the CDB states, longest
// log read, framed, CDB builder, CDB reader. The 0xE6 CDB states no length; the 0xE4 bridges
// return stale data for a log read over 512 bytes.
inline constexpr TunnelFormInfo kTunnelForms[] = {
    {BridgeForm::e6, "e6", kTunnelOpcode, 16,           0xFFFFFFFF, 4096, false, e6_cdb, read_e6_cdb},
    {BridgeForm::e4, "e4", 0xE4,          16,           0xFFFF,     512,  false, e4_cdb, read_e4_cdb},
    {BridgeForm::a1, "a1", kA1Opcode,     kA1CdbLength, 0xFFFFFF,   4096, true,  a1_cdb, read_a1_cdb},
};
// clang-format on

inline constexpr std::size_t kTunnelFormCount = std::size(kTunnelForms);

constexpr const TunnelFormInfo& tunnel_form(BridgeForm form) {
    return kTunnelForms[static_cast<std::size_t>(form)];
}

// The form whose CDBs begin with opcode; nullptr for none.
constexpr const TunnelFormInfo* tunnel_form_of(std::uint8_t opcode) {
    for (const TunnelFormInfo& form : kTunnelForms) {
        if (form.opcode == opcode)
            return &form;
    }
    return nullptr;
}

// "e6", "e4", "a1".
constexpr const char* bridge_form_name(BridgeForm form) {
    return tunnel_form(form).name;
}

// The form a name stands for; none for anything else.
std::optional<BridgeForm> parse_bridge_form(std::string_view name);

namespace detail {

// The names with ", " between them and " or " before the last.
constexpr std::array<std::string_view, 2 * kTunnelFormCount - 1> form_list_parts() {
    std::array<std::string_view, 2 * kTunnelFormCount - 1> parts{};
    for (std::size_t i = 0; i < kTunnelFormCount; ++i) {
        parts[2 * i] = kTunnelForms[i].name;
        if (i + 1 < kTunnelFormCount)
            parts[2 * i + 1] = i + 2 == kTunnelFormCount ? " or " : ", ";
    }
    return parts;
}

// The form carries every bridge read of the command table whole.
constexpr bool bridge_reads_fit(const TunnelFormInfo& form) {
    for (const CommandInfo& c : kCommands) {
        if (c.form == CommandForm::tunnel &&
            (c.length > form.max_transfer ||
             (c.code == kNvmeGetLogPageOpcode && c.length > form.max_log_length)))
            return false;
    }
    return true;
}

constexpr bool tunnel_forms_are_sound() {
    for (std::size_t i = 0; i < kTunnelFormCount; ++i) {
        const TunnelFormInfo& form = kTunnelForms[i];
        if (static_cast<std::size_t>(form.form) != i || !is_read_only_opcode(form.opcode) ||
            form.cdb_length > sizeof(Cdb{}.bytes) || !bridge_reads_fit(form))
            return false;
        for (std::size_t j = 0; j < i; ++j) {
            if (kTunnelForms[j].opcode == form.opcode ||
                std::string_view(kTunnelForms[j].name) == form.name)
                return false;
        }
    }
    // The command table's bridge reads are shaped as the default run sends them: the 0xE6 form.
    const TunnelFormInfo& e6 = kTunnelForms[static_cast<std::size_t>(BridgeForm::e6)];
    for (const CommandInfo& c : kCommands) {
        if (c.form == CommandForm::tunnel &&
            (command_opcode(c) != e6.opcode || c.cdb_length != e6.cdb_length))
            return false;
    }
    return true;
}

}  // namespace detail

static_assert(detail::tunnel_forms_are_sound(),
              "every form: indexed by its value, a read-only opcode and a name of its own, a CDB "
              "that fits, every bridge read carried whole; the command table's bridge reads in "
              "the 0xE6 form");

// "e6, e4 or a1": every form's name, as the command line's help and messages list them.
inline constexpr auto kBridgeFormList =
    joined_text<joined_length(detail::form_list_parts())>(detail::form_list_parts());

}  // namespace torvik
