#include "scsi/tunnel_forms.h"

#include "common/bytes.h"

namespace torvik {

namespace {

// A CDB of the form's length with its opcode in byte 0.
Cdb cdb_of(BridgeForm form) {
    Cdb cdb;
    cdb.length = tunnel_form(form).cdb_length;
    cdb.bytes[0] = tunnel_form(form).opcode;
    return cdb;
}

bool zero_from(const std::uint8_t* cdb, std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to; ++i) {
        if (cdb[i] != 0)
            return false;
    }
    return true;
}

// The 0xA1 form's phase of each step.
constexpr std::uint8_t kA1Phases[] = {kA1PhaseCommand, kA1PhaseData, kA1PhaseCompletion};

}  // namespace

Cdb e6_cdb(const NvmeCommandBlock& block, TunnelStep, std::uint32_t) {
    Cdb cdb = cdb_of(BridgeForm::e6);
    cdb.bytes[1] = block[kNvmeOpcodeByte];
    cdb.bytes[3] = block[kNvmeCdw10Byte];
    return cdb;
}

std::optional<TunnelCdbFields> read_e6_cdb(const std::uint8_t* cdb, std::uint32_t) {
    if (cdb[2] != 0 || !zero_from(cdb, 4, 16))
        return std::nullopt;
    return TunnelCdbFields{TunnelStep::data, cdb[1], cdb[3]};
}

Cdb e4_cdb(const NvmeCommandBlock& block, TunnelStep, std::uint32_t length) {
    Cdb cdb = cdb_of(BridgeForm::e4);
    put_le16(cdb.bytes.data() + 1, static_cast<std::uint16_t>(length));
    cdb.bytes[3] = block[kNvmeOpcodeByte];
    cdb.bytes[4] = block[kNvmeCdw10Byte];
    return cdb;
}

std::optional<TunnelCdbFields> read_e4_cdb(const std::uint8_t* cdb, std::uint32_t transfer_length) {
    if (get_le16(cdb + 1) != transfer_length || !zero_from(cdb, 5, 16))
        return std::nullopt;
    return TunnelCdbFields{TunnelStep::data, cdb[3], cdb[4]};
}

Cdb a1_cdb(const NvmeCommandBlock&, TunnelStep step, std::uint32_t length) {
    Cdb cdb = cdb_of(BridgeForm::a1);
    cdb.bytes[1] = static_cast<std::uint8_t>(kA1Admin | kA1Phases[static_cast<std::size_t>(step)]);
    put_be24(cdb.bytes.data() + 3, length);
    return cdb;
}

std::optional<TunnelCdbFields> read_a1_cdb(const std::uint8_t* cdb, std::uint32_t transfer_length) {
    if ((cdb[1] & kA1Admin) == 0 || cdb[2] != 0 || get_be24(cdb + 3) != transfer_length ||
        !zero_from(cdb, 6, kA1CdbLength))
        return std::nullopt;
    for (std::size_t step = 0; step < std::size(kA1Phases); ++step) {
        if ((cdb[1] ^ kA1Admin) == kA1Phases[step])
            return TunnelCdbFields{static_cast<TunnelStep>(step)};
    }
    return std::nullopt;
}

A1CommandBlock a1_command_block(const NvmeCommandBlock& block) {
    A1CommandBlock out{};
    put_le32(out.data(), kA1Signature);
    put_le32(out.data() + 8, get_le32(block.data() + kNvmeOpcodeByte));
    put_le32(out.data() + 12, get_le32(block.data() + 4));
    put_le32(out.data() + 48, get_le32(block.data() + kNvmeCdw10Byte));
    return out;
}

A1Completion a1_completion(const std::uint8_t* block) {
    A1Completion out;
    out.signature = get_le32(block) == kA1Signature;
    out.result = get_le32(block + 8);
    out.status = static_cast<std::uint16_t>(get_le32(block + 20) >> 17);
    return out;
}

std::optional<BridgeForm> parse_bridge_form(std::string_view name) {
    for (const TunnelFormInfo& form : kTunnelForms) {
        if (name == form.name)
            return form.form;
    }
    return std::nullopt;
}

}  // namespace torvik
