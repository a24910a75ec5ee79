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

const CommandInfo* command_by_page_name(std::string_view name) {
    for (const CommandInfo& info : kCommands) {
        if (name == info.page_name)
            return &info;
    }
    return nullptr;
}

}  // namespace torvik
