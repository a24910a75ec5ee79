#include "transport/cdb.h"

#include "common/bytes.h"
#include "transport/commands.h"

namespace torvik {

namespace {

std::uint8_t scsi_opcode(CommandId id) {
    return static_cast<std::uint8_t>(command_info(id).code);
}

}  // namespace

Cdb inquiry_cdb(std::uint8_t allocation_length) {
    Cdb cdb;
    cdb.length = 6;
    cdb.bytes[0] = scsi_opcode(CommandId::inquiry);
    cdb.bytes[4] = allocation_length;
    return cdb;
}

Cdb read_capacity10_cdb() {
    Cdb cdb;
    cdb.length = 10;
    cdb.bytes[0] = scsi_opcode(CommandId::read_capacity10);
    return cdb;
}

Cdb read_capacity16_cdb(std::uint32_t allocation_length) {
    Cdb cdb;
    cdb.length = 16;
    cdb.bytes[0] = scsi_opcode(CommandId::read_capacity16);
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
    Cdb cdb;
    cdb.length = 16;
    cdb.bytes[0] = kTunnelOpcode;
    cdb.bytes[1] = block[kNvmeOpcodeByte];
    cdb.bytes[3] = block[kNvmeCdw10Byte];
    return cdb;
}

}  // namespace torvik
