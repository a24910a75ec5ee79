#include "scsi/cdb.h"

#include "common/bytes.h"

namespace torvik {

namespace {

// A CDB of the command's length with its opcode in byte 0.
Cdb cdb_of(CommandId id) {
    Cdb cdb;
    cdb.length = command_info(id).cdb_length;
    cdb.bytes[0] = command_opcode(command_info(id));
    return cdb;
}

}  // namespace

Cdb inquiry_cdb(std::uint8_t allocation_length) {
    Cdb cdb = cdb_of(CommandId::inquiry);
    cdb.bytes[4] = allocation_length;
    return cdb;
}

Cdb read_capacity10_cdb() {
    return cdb_of(CommandId::read_capacity10);
}

Cdb read_capacity16_cdb(std::uint32_t allocation_length) {
    Cdb cdb = cdb_of(CommandId::read_capacity16);
    cdb.bytes[1] = kReadCapacity16ServiceAction;
    put_be32(cdb.bytes.data() + 10, allocation_length);
    return cdb;
}

Cdb vendor12_cdb(std::uint16_t code) {
    Cdb cdb;
    cdb.length = 12;
    put_be16(cdb.bytes.data(), code);
    return cdb;
}

Cdb vendor16_cdb(std::uint32_t code) {
    Cdb cdb;
    cdb.length = 16;
    put_be32(cdb.bytes.data(), code);
    return cdb;
}

NvmeCommandBlock nvme_command_block(std::uint8_t opcode, std::uint32_t namespace_id,
                                    std::uint32_t cdw10) {
    NvmeCommandBlock block{};
    put_le32(block.data(), opcode);
    put_le32(block.data() + 4, namespace_id);
    put_le32(block.data() + kNvmeCdw10Byte, cdw10);
    return block;
}

Cdb tunnel_cdb(const NvmeCommandBlock& block) {
    Cdb cdb = cdb_of(CommandId::nvme_identify);
    cdb.bytes[1] = block[kNvmeOpcodeByte];
    cdb.bytes[3] = block[kNvmeCdw10Byte];
    return cdb;
}

Cdb tunnel_e4_cdb(const NvmeCommandBlock& block, std::uint16_t transfer_length) {
    Cdb cdb;
    cdb.length = tunnel_form(BridgeForm::e4).cdb_length;
    cdb.bytes[0] = tunnel_form(BridgeForm::e4).opcode;
    put_le16(cdb.bytes.data() + 1, transfer_length);
    cdb.bytes[3] = block[kNvmeOpcodeByte];
    cdb.bytes[4] = block[kNvmeCdw10Byte];
    return cdb;
}

Cdb tunnel_a1_cdb(std::uint8_t phase, std::uint32_t length) {
    Cdb cdb;
    cdb.length = tunnel_form(BridgeForm::a1).cdb_length;
    cdb.bytes[0] = tunnel_form(BridgeForm::a1).opcode;
    cdb.bytes[1] = static_cast<std::uint8_t>(kA1Admin | phase);
    cdb.bytes[3] = static_cast<std::uint8_t>(length >> 16);
    cdb.bytes[4] = static_cast<std::uint8_t>(length >> 8);
    cdb.bytes[5] = static_cast<std::uint8_t>(length);
    return cdb;
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

const CommandInfo* command_by_page_name(std::string_view name) {
    for (const CommandInfo& info : kCommands) {
        if (name == info.page_name)
            return &info;
    }
    return nullptr;
}

}  // namespace torvik
