// One SCSI command as every platform carries it, and what came of it.
//
// The request names the command (its CDB), which way its data goes, the caller's buffer and a
// time-out; the result says whether the command was carried out and, when it was, the drive's SCSI
// status, its sense data and how much of the transfer did not happen, or else the OS error number
// and its text. Each backend turns the request into its OS's own form (Windows: the
// SCSI_PASS_THROUGH record; Linux: an sg_io_hdr); the simulated drive answers it itself.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace torvik {

inline constexpr std::uint8_t kMaxCdbLength = 16;
inline constexpr std::uint8_t kMaxSenseLength = 32;
// The largest transfer a request may name; anything larger is refused rather than sent.
inline constexpr std::uint32_t kMaxPassThroughTransfer = 16u << 20;

enum class DataDirection : std::uint8_t { none, in, out };

struct PassThroughRequest {
    std::array<std::uint8_t, kMaxCdbLength> cdb{};
    std::uint8_t cdb_length = 0;
    DataDirection direction = DataDirection::none;
    // transfer_length bytes: they receive the data of a data-in command (only the part that came
    // is written for certain) and hold the bytes of a data-out one.
    std::uint8_t* data = nullptr;
    std::uint32_t transfer_length = 0;
    std::uint8_t sense_length = 0;  // sense bytes asked for, at most kMaxSenseLength
    std::uint32_t timeout_seconds = 0;
};

struct PassThroughResult {
    // Whether the command was carried out. A command the drive ends with CHECK CONDITION was; a
    // request refused before it was sent, or one the OS, the host adapter or the bridge did not
    // carry through (a time-out, a lost device), was not, and error says why.
    bool completed = false;
    std::uint8_t scsi_status = 0;
    std::uint32_t residual = 0;  // bytes of the transfer that did not happen
    std::uint8_t sense_length = 0;
    std::array<std::uint8_t, kMaxSenseLength> sense{};
    std::uint32_t error = 0;  // the OS error number of a call that failed, and its words
    std::string error_text;

    std::uint32_t transferred(const PassThroughRequest& request) const {
        return request.transfer_length - residual;
    }
};

// The only operation codes a request may carry: INQUIRY, READ CAPACITY (10) and (16), the
// controller's vendor reads and the bridges' NVMe tunnels (0xE6, 0xE4, 0xA1). Every one of them
// reads; the 0xA1 tunnel's one data-out phase is checked on its own (a1_command_block_reads).
inline constexpr std::uint8_t kReadOnlyOpcodes[] = {0x12, 0x25, 0x9E, 0x06, 0xE6, 0xE4, 0xA1};

constexpr bool is_read_only_opcode(std::uint8_t opcode) {
    for (const std::uint8_t allowed : kReadOnlyOpcodes) {
        if (opcode == allowed)
            return true;
    }
    return false;
}

// The NVMe admin commands a bridge tunnel may carry, in any form: Identify and Get Log Page.
// Both read; no other NVMe opcode can be expressed.
inline constexpr std::uint8_t kNvmeIdentifyOpcode = 0x06;
inline constexpr std::uint8_t kNvmeGetLogPageOpcode = 0x02;
inline constexpr std::uint8_t kTunnelNvmeOpcodes[] = {kNvmeIdentifyOpcode, kNvmeGetLogPageOpcode};

constexpr bool is_tunnel_nvme_opcode(std::uint32_t opcode) {
    for (const std::uint8_t allowed : kTunnelNvmeOpcodes) {
        if (opcode == allowed)
            return true;
    }
    return false;
}

// The 0xA1 tunnel: 12-byte CDBs, byte 1 the admin flag OR'd with the phase, bytes 3-5 the length
// (big-endian). Phase 0 sends the 512-byte command block (data out), phase 2 reads the page,
// phase 0xF reads the 512-byte completion block.
inline constexpr std::uint8_t kA1Opcode = 0xA1;
inline constexpr std::uint8_t kA1CdbLength = 12;
inline constexpr std::uint8_t kA1Admin = 0x80;
inline constexpr std::uint8_t kA1PhaseCommand = 0x0;
inline constexpr std::uint8_t kA1PhaseData = 0x2;
inline constexpr std::uint8_t kA1PhaseCompletion = 0xF;
inline constexpr std::uint32_t kA1BlockLength = 512;
// Dword 0 of the command and completion blocks: "NVME" in memory.
inline constexpr std::uint32_t kA1Signature = 0x454D564E;

// Whether block (kA1BlockLength bytes) is a 0xA1 command block of one NVMe read: the signature
// in dword 0, an opcode of kTunnelNvmeOpcodes in dword 2, any namespace id in dword 3, any
// command dwords 10-15 in dwords 12-17, and every other byte zero.
bool a1_command_block_reads(const std::uint8_t* block);

// The codes a platform fails a request with that it does not send.
struct PassThroughRefusals {
    std::uint32_t invalid_parameter;  // the request is malformed
    std::uint32_t access_denied;      // the request does not read
};

// The check every platform makes before a request reaches the OS or the drive. 0 when it may be
// sent. A malformed request (no CDB or one longer than kMaxCdbLength, more sense than
// kMaxSenseLength, a transfer with no direction, no buffer or above kMaxPassThroughTransfer) is
// refused as an invalid parameter; then anything but a data-in request whose CDB begins with one
// of kReadOnlyOpcodes is refused with access denied. The one data-out request allowed is the
// 0xA1 tunnel's command phase carrying a command block that a1_command_block_reads; a data-in
// 0xA1 request must name the data or the completion phase.
std::uint32_t refusal(const PassThroughRequest& request, const PassThroughRefusals& refusals);

// A result whose call failed with error.
PassThroughResult failed_call(std::uint32_t error, std::string error_text);

}  // namespace torvik
