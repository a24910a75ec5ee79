#include "sim/sim_drive.h"

#include <algorithm>
#include <cstring>

#include "common/bytes.h"
#include "scsi/cdb.h"
#include "scsi/tunnel_forms.h"

namespace torvik {

namespace {

constexpr std::size_t index_of(CommandId id) {
    return static_cast<std::size_t>(id);
}

constexpr std::uint8_t kFixedSenseCurrent = 0x70;
constexpr std::uint8_t kFixedSenseAdditionalLength = 10;  // 18-byte fixed format

constexpr std::uint32_t kDefaultLastLba = 1953525167;  // 1 TB in 512-byte blocks
constexpr std::uint32_t kBlockLength = 512;

bool zero_from(const std::uint8_t* cdb, std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to; ++i) {
        if (cdb[i] != 0) {
            return false;
        }
    }
    return true;
}

void put_text(std::vector<std::uint8_t>& page, std::size_t at, const std::string& text,
              std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) {
        page[at + i] = static_cast<std::uint8_t>(i < text.size() ? text[i] : ' ');
    }
}

SimAnswer check_condition(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq) {
    SimAnswer answer;
    answer.status = SimAnswer::Status::check_condition;
    answer.sense[0] = kFixedSenseCurrent;
    answer.sense[2] = key;
    answer.sense[7] = kFixedSenseAdditionalLength;
    answer.sense[12] = asc;
    answer.sense[13] = ascq;
    return answer;
}

// The allocation length a CDB carries, where it carries one.
std::uint32_t allocation_length(CommandId id, const std::uint8_t* cdb) {
    switch (id) {
        case CommandId::inquiry:
            return cdb[4];
        case CommandId::read_capacity16:
            return get_be32(cdb + 10);
        default:
            return 0xFFFFFFFF;
    }
}

}  // namespace

std::optional<CommandId> command_of(const std::uint8_t* cdb, std::uint8_t cdb_length) {
    if (cdb == nullptr || cdb_length == 0) {
        return std::nullopt;
    }
    for (const CommandInfo& info : kCommands) {
        if (cdb_length != info.cdb_length || cdb[0] != command_opcode(info)) {
            continue;
        }
        bool match = false;
        switch (info.form) {
            case CommandForm::scsi:
                if (info.id == CommandId::inquiry) {
                    // Standard data only: no vital product data page.
                    match = cdb[1] == 0 && cdb[2] == 0;
                } else if (info.id == CommandId::read_capacity10) {
                    match = true;
                } else {
                    match = (cdb[1] & 0x1F) == kReadCapacity16ServiceAction;
                }
                break;
            case CommandForm::vendor12:
                match = get_be16(cdb) == info.code && zero_from(cdb, 2, 12);
                break;
            case CommandForm::vendor16:
                match = get_be32(cdb) == info.code && zero_from(cdb, 4, 16);
                break;
            case CommandForm::tunnel: {
                // Only the low byte of command dword 10 reaches the drive.
                const std::optional<TunnelCdbFields> read =
                    tunnel_form(BridgeForm::e6).read(cdb, 0);
                match = read && read->nvme_opcode == info.code &&
                        read->cdw10_low == (info.nvme_cdw10 & 0xFF);
                break;
            }
        }
        if (match) {
            return info.id;
        }
    }
    return std::nullopt;
}

SimDrive::SimDrive() {
    for (const CommandInfo& info : kCommands) {
        pages_[index_of(info.id)].assign(info.length, 0);
    }

    std::vector<std::uint8_t>& inquiry = pages_[index_of(CommandId::inquiry)];
    inquiry[2] = 0x06;  // SPC-4
    inquiry[3] = 0x02;  // response data format 2
    inquiry[4] = static_cast<std::uint8_t>(inquiry.size() - 5);
    put_text(inquiry, 8, descriptor_.vendor, 8);
    put_text(inquiry, 16, descriptor_.product, 16);
    put_text(inquiry, 32, "0001", 4);
    put_text(inquiry, 36, "00000001", 8);

    std::vector<std::uint8_t>& capacity = pages_[index_of(CommandId::read_capacity10)];
    put_be32(capacity.data(), kDefaultLastLba);
    put_be32(capacity.data() + 4, kBlockLength);

    std::vector<std::uint8_t>& capacity16 = pages_[index_of(CommandId::read_capacity16)];
    put_be64(capacity16.data(), kDefaultLastLba);
    put_be32(capacity16.data() + 8, kBlockLength);

    // Identify Controller: model number at bytes 24 to 63.
    put_text(pages_[index_of(CommandId::nvme_identify)], 24, "TORVIK PSSD", 40);
}

void SimDrive::set_page(CommandId command, std::vector<std::uint8_t> bytes) {
    pages_[index_of(command)] = std::move(bytes);
}

const std::vector<std::uint8_t>& SimDrive::page(CommandId command) const {
    return pages_[index_of(command)];
}

void SimDrive::set_fault(CommandId command, Fault fault) {
    faults_[index_of(command)] = fault;
}

const Fault& SimDrive::fault(CommandId command) const {
    return faults_[index_of(command)];
}

void SimDrive::clear_faults() {
    faults_.fill(Fault{});
}

void SimDrive::set_tunnel_supported(bool supported, std::uint32_t error_code) {
    tunnel_supported_ = supported;
    tunnel_error_ = error_code;
}

SimAnswer SimDrive::execute(const SimRequest& request, std::uint8_t* data) {
    requests_.push_back(request);
    const std::uint8_t cdb_length =
        std::min<std::uint8_t>(request.cdb_length, static_cast<std::uint8_t>(request.cdb.size()));

    if (const std::optional<SimAnswer> answer = tunnel(request, data))
        return *answer;
    const std::optional<CommandId> id = command_of(request.cdb.data(), cdb_length);
    if (!id) {
        return check_condition(kSenseIllegalRequest, kAscInvalidOpcode, 0);
    }
    // Every command the drive knows reads; data sent to it is refused.
    if (!request.data_in && request.transfer_length != 0) {
        return check_condition(kSenseIllegalRequest, kAscInvalidFieldInCdb, 0);
    }
    return answer_page(*id, request, data);
}

SimAnswer SimDrive::answer_page(CommandId id, const SimRequest& request, std::uint8_t* data) const {
    const Fault& fault = faults_[index_of(id)];
    if (fault.kind == FaultKind::platform_error) {
        SimAnswer answer;
        answer.status = SimAnswer::Status::platform_error;
        answer.error_code = fault.error_code;
        return answer;
    }

    const std::vector<std::uint8_t>& page = pages_[index_of(id)];
    std::uint32_t length =
        std::min<std::uint32_t>(static_cast<std::uint32_t>(page.size()), request.transfer_length);
    length = std::min(length, allocation_length(id, request.cdb.data()));
    if (fault.kind == FaultKind::short_data || fault.kind == FaultKind::check_condition) {
        length = std::min(length, fault.short_length);
    }
    if (data == nullptr || !request.data_in) {
        length = 0;
    }
    if (length != 0) {
        std::memcpy(data, page.data(), length);
    }

    SimAnswer answer = fault.kind == FaultKind::check_condition
                           ? check_condition(fault.sense_key, fault.asc, fault.ascq)
                           : SimAnswer{};
    answer.data_length = length;
    return answer;
}

namespace {

// The bridge read of the command table with this NVMe opcode and command dword 10 (all of it,
// or its low byte only), and, when given, this namespace id.
std::optional<CommandId> tunnel_read_of(std::uint32_t opcode, std::uint32_t cdw10, bool low_byte,
                                        std::optional<std::uint32_t> namespace_id) {
    for (const CommandInfo& info : kCommands) {
        if (info.form != CommandForm::tunnel || info.code != opcode)
            continue;
        const std::uint32_t expected = low_byte ? (info.nvme_cdw10 & 0xFF) : info.nvme_cdw10;
        if (expected == cdw10 && (!namespace_id || *namespace_id == info.nvme_namespace))
            return info.id;
    }
    return std::nullopt;
}

}  // namespace

std::optional<SimAnswer> SimDrive::tunnel(const SimRequest& request, std::uint8_t* data) {
    const TunnelFormInfo* form = request.cdb_length != 0 ? tunnel_form_of(request.cdb[0]) : nullptr;
    if (form == nullptr)
        return std::nullopt;
    if (form->form == BridgeForm::e6 && bridge_form_ == BridgeForm::e6 && !tunnel_supported_) {
        SimAnswer answer;
        answer.status = SimAnswer::Status::platform_error;
        answer.error_code = tunnel_error_;
        return answer;
    }
    if ((bridge_form_ != form->form && !any_form_) || request.cdb_length != form->cdb_length)
        return check_condition(kSenseIllegalRequest, kAscInvalidOpcode, 0);
    const std::optional<TunnelCdbFields> fields =
        form->read(request.cdb.data(), request.transfer_length);
    if (!fields)
        return check_condition(kSenseIllegalRequest, kAscInvalidFieldInCdb, 0);
    if (form->framed)
        return framed_step(fields->step, request, data);
    const std::optional<CommandId> id =
        tunnel_read_of(fields->nvme_opcode, fields->cdw10_low, true, std::nullopt);
    if (!id)
        return check_condition(kSenseIllegalRequest, kAscInvalidOpcode, 0);
    // Every read; data sent to the bridge is refused.
    if (!request.data_in && request.transfer_length != 0)
        return check_condition(kSenseIllegalRequest, kAscInvalidFieldInCdb, 0);
    return answer_page(*id, request, data);
}

SimAnswer SimDrive::framed_step(TunnelStep step, const SimRequest& request, std::uint8_t* data) {
    if (step == TunnelStep::command) {
        a1_pending_.reset();
        if (request.data_in || request.transfer_length != kA1BlockLength || data == nullptr ||
            get_le32(data) != kA1Signature)
            return check_condition(kSenseIllegalRequest, kAscInvalidFieldInCdb, 0);
        a1_pending_ =
            tunnel_read_of(get_le32(data + 8), get_le32(data + 48), false, get_le32(data + 12));
        if (!a1_pending_)
            return check_condition(kSenseIllegalRequest, kAscInvalidFieldInCdb, 0);
        return SimAnswer{};
    }
    if (!a1_pending_ || !request.data_in)
        return check_condition(kSenseIllegalRequest, kAscInvalidFieldInCdb, 0);
    if (step == TunnelStep::data)
        return answer_page(*a1_pending_, request, data);
    if (request.transfer_length != kA1BlockLength)
        return check_condition(kSenseIllegalRequest, kAscInvalidFieldInCdb, 0);
    a1_pending_.reset();
    SimAnswer answer;
    if (data != nullptr) {
        std::memset(data, 0, kA1BlockLength);
        put_le32(data, kA1Signature);
        answer.data_length = kA1BlockLength;
    }
    return answer;
}

}  // namespace torvik
