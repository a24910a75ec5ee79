// The bridge's NVMe tunnel carried to a real NVMe controller: a tunnel CDB (or, for the 0xA1
// form, its command block) becomes an NVMe admin command, the controller's data go back over USB,
// and a status it reports goes back as the bridge's form reports it: CHECK CONDITION for the 0xE6
// and 0xE4 forms, the completion block for the 0xA1 form. Everything else still goes to the drive
// model behind it, so the controller's vendor pages keep coming from the device's profile.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "tests/e2e/usbdev/responder.h"

namespace torvik::usbdev {

inline constexpr std::uint8_t kNvmeGetLogPage = 0x02;
inline constexpr std::uint8_t kNvmeIdentify = 0x06;
inline constexpr std::uint32_t kNvmeIdentifySize = 4096;
inline constexpr std::uint32_t kNvmeAllNamespaces = 0xFFFFFFFF;

// The three tunnels a USB-to-NVMe bridge may speak, by their CDB's operation code.
enum class TunnelForm : std::uint8_t { e6 = 0xE6, e4 = 0xE4, a1 = 0xA1 };

// "e6", "e4", "a1"; none for anything else.
std::optional<TunnelForm> parse_tunnel_form(std::string_view name);
const char* tunnel_form_name(TunnelForm form);

// True for the operation codes of the three tunnels.
bool is_tunnel_opcode(std::uint8_t opcode);

// One admin command as the kernel's pass-through carries it; the other dwords are zero.
struct NvmeAdminCommand {
    std::uint8_t opcode = 0;
    std::uint32_t nsid = 0;
    std::uint32_t cdw10 = 0;
    std::uint32_t cdw11 = 0;
    std::uint32_t data_length = 0;  // bytes the controller moves to the host
};

// The controller's answer: `status` is the NVMe status field (0 for success; bits 10..8 the
// status code type, 7..0 the status code), `result` the completion's dword 0, `error` the
// system's error code when the call itself failed (the controller never saw the command).
struct NvmeAdminResult {
    int error = 0;
    std::uint16_t status = 0;
    std::uint32_t result = 0;
};

// The platform seam of the forwarding: one admin command with a data-in buffer.
class NvmeAdmin {
  public:
    virtual ~NvmeAdmin() = default;
    virtual NvmeAdminResult run(const NvmeAdminCommand& command, std::uint8_t* data) = 0;
};

// The admin command a one-CDB tunnel read stands for, with `transfer_length` bytes in:
//   0xE6  byte 1  the NVMe opcode         byte 3  bits 7..0 of command dword 10
//   0xE4  bytes 1-2  the transfer length, little-endian (must equal the wrapper's)
//         byte 3  the NVMe opcode         byte 4  bits 7..0 of command dword 10
// Identify (0x06): CNS from the CDB, namespace 0, always 4096 bytes from the controller.
// Get Log Page (0x02): log identifier from the CDB, all namespaces, the dword count (split over
// dwords 10 and 11) from the transfer length. `log_id_override`, when set, replaces the log
// identifier: a bridge that garbles it, so the controller rejects the command.
// None for a CDB that is not a data-in tunnel read of those two (the bridge never lets through
// an admin command that could change the controller), or a log length that is not whole dwords.
std::optional<NvmeAdminCommand> tunnel_to_admin(const ScsiCommand& command,
                                                std::optional<std::uint8_t> log_id_override);

// The 0xA1 form: one 12-byte CDB a phase, the same for every phase:
//   byte 0  0xA1   byte 1  0x80 (admin command) | the phase   bytes 3-5  length, big-endian
// (must equal the wrapper's transfer length). Phase 0: the 512-byte command block goes out;
// phase 2: the command runs and its data come in; phase 0xF: the 512-byte completion block
// comes in.
inline constexpr std::uint8_t kA1AdminFlag = 0x80;
inline constexpr std::uint8_t kA1CommandPhase = 0x0;
inline constexpr std::uint8_t kA1DataPhase = 0x2;
inline constexpr std::uint8_t kA1CompletionPhase = 0xF;
inline constexpr std::uint32_t kA1BlockBytes = 512;
inline constexpr std::uint32_t kA1BlockSignature = 0x454D564E;  // "NVME", little-endian

// The command block, 512 bytes of little-endian dwords:
//   dword 0  the signature   dword 2  the NVMe opcode   dword 3  the namespace id
//   dwords 12-17  command dwords 10-15
// Only Identify and Get Log Page pass, with dwords 10 and 11 and nothing in dwords 12-15; the
// data length follows from the command (4096 for Identify, the dword count for a log).
enum class A1Block { command, no_signature, not_forwarded };
A1Block a1_block_to_admin(const std::uint8_t* block, NvmeAdminCommand& admin);

// The completion block, 512 bytes of little-endian dwords, as the controller's completion queue
// entry would have it: dword 0 the signature, dword 2 the command's result (its dword 0),
// dword 5 bits 31..17 the NVMe status field.
std::array<std::uint8_t, kA1BlockBytes> a1_completion_block(const NvmeAdminResult& result);

// The reply to the host for a controller's non-zero status: CHECK CONDITION, ILLEGAL REQUEST with
// INVALID COMMAND OPERATION CODE (invalid opcode) or INVALID FIELD IN CDB (invalid field, invalid
// log page), HARDWARE ERROR with INTERNAL TARGET FAILURE for any other status.
ScsiReply reply_for_status(std::uint16_t status);

// The bridge in front of the drive model. A bridge of one form knows no other form's operation
// code, and a bridge of no form (`form` none: a SATA bridge, or one that carries no tunnel) knows
// none of them: those get ILLEGAL REQUEST, INVALID COMMAND OPERATION CODE and never reach the
// controller.
class NvmeTunnelResponder : public Responder {
  public:
    // `admin` may be null only when `form` is none; `log` (may be null) gets one line per tunnel
    // command: what was forwarded and what the controller answered, or why it was not.
    NvmeTunnelResponder(Responder& inner, NvmeAdmin* admin, std::optional<TunnelForm> form,
                        std::optional<std::uint8_t> log_id_override, std::FILE* log)
        : inner_(inner), admin_(admin), form_(form), log_id_override_(log_id_override), log_(log) {}

    ScsiReply answer(const ScsiCommand& command, std::uint8_t* data, std::size_t capacity) override;

  private:
    // Runs one admin command and places up to `wanted` bytes of its data at `data`; `sent` gets
    // their number.
    NvmeAdminResult forward(const NvmeAdminCommand& admin, std::uint32_t wanted, std::uint8_t* data,
                            std::size_t capacity, std::uint32_t& sent);
    ScsiReply one_cdb(const ScsiCommand& command, std::uint8_t* data, std::size_t capacity);
    ScsiReply a1_phase(const ScsiCommand& command, std::uint8_t* data, std::size_t capacity);

    Responder& inner_;
    NvmeAdmin* admin_;
    std::optional<TunnelForm> form_;
    std::optional<std::uint8_t> log_id_override_;
    std::FILE* log_;
    // The 0xA1 form's state between its phases: the command block waiting for its data phase,
    // then the controller's answer waiting for the completion phase.
    std::optional<NvmeAdminCommand> a1_pending_;
    std::optional<NvmeAdminResult> a1_done_;
};

// The kernel's admin pass-through on an NVMe controller node (/dev/nvme0). Null, with the reason
// in `error`, when the node cannot be opened.
std::unique_ptr<NvmeAdmin> open_nvme_admin(const std::string& path, std::string& error);

}  // namespace torvik::usbdev
