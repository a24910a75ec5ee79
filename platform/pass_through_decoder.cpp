#include "platform/pass_through_decoder.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "common/bytes.h"

namespace torvik {

namespace {

// [offset, offset + length) lies behind the record and inside limit.
bool span_fits(std::uint64_t offset, std::uint64_t length, std::uint32_t record_size,
               std::uint32_t limit) {
    return offset >= record_size && offset + length <= limit;
}

bool spans_overlap(std::uint64_t a, std::uint64_t a_length, std::uint64_t b,
                   std::uint64_t b_length) {
    return a < b + b_length && b < a + a_length;
}

}  // namespace

bool decode_pass_through(const std::uint8_t* buffer, std::uint32_t in_size, std::uint32_t out_size,
                         PassThroughView& view, const PassThroughLayout& layout) {
    // Both sizes cover the record, and the record names its own size.
    if (buffer == nullptr || in_size < layout.record_size || out_size < layout.record_size ||
        in_size > kMaxPassThroughBuffer || out_size > kMaxPassThroughBuffer ||
        get_le16(buffer + kSptLength) != layout.record_size) {
        return false;
    }

    view = PassThroughView{};
    view.cdb_length = buffer[kSptCdbLength];
    if (view.cdb_length == 0 || view.cdb_length > kSptCdbSize) {
        return false;
    }
    std::memcpy(view.cdb.data(), buffer + layout.cdb_at, view.cdb_length);

    switch (buffer[kSptDataIn]) {
        case kScsiIoctlDataOut:
            view.direction = PassThroughDirection::out;
            break;
        case kScsiIoctlDataIn:
            view.direction = PassThroughDirection::in;
            break;
        case kScsiIoctlDataUnspecified:
            view.direction = PassThroughDirection::unspecified;
            break;
        default:
            return false;
    }
    view.transfer_length = get_le32(buffer + kSptDataTransferLength);
    view.timeout_seconds = get_le32(buffer + kSptTimeOutValue);

    const std::uint64_t data_offset = layout.data_buffer_offset_width == 8
                                          ? get_le64(buffer + layout.data_buffer_offset_at)
                                          : get_le32(buffer + layout.data_buffer_offset_at);
    const std::uint64_t sense_offset = get_le32(buffer + layout.sense_info_offset_at);
    view.sense_length = buffer[kSptSenseInfoLength];

    if (view.transfer_length != 0) {
        // Data in is written to the output, data out is read from the input; a transfer with no
        // direction cannot be carried out.
        if (view.direction == PassThroughDirection::unspecified) {
            return false;
        }
        const std::uint32_t limit = view.direction == PassThroughDirection::in ? out_size : in_size;
        if (!span_fits(data_offset, view.transfer_length, layout.record_size, limit)) {
            return false;
        }
        view.data_offset = static_cast<std::uint32_t>(data_offset);
    }
    if (view.sense_length != 0) {
        if (!span_fits(sense_offset, view.sense_length, layout.record_size, out_size)) {
            return false;
        }
        view.sense_offset = static_cast<std::uint32_t>(sense_offset);
    }
    if (view.transfer_length != 0 && view.sense_length != 0 &&
        spans_overlap(view.data_offset, view.transfer_length, view.sense_offset,
                      view.sense_length)) {
        return false;
    }
    return true;
}

bool is_read_request(const PassThroughView& view) {
    return view.direction == PassThroughDirection::in && view.cdb_length != 0 &&
           is_read_only_opcode(view.cdb[0]);
}

std::uint32_t check_pass_through(const void* in, std::uint32_t in_size, std::uint32_t out_size,
                                 const PassThroughRefusals& refusals,
                                 const PassThroughLayout& layout) {
    PassThroughView view;
    if (in == nullptr || !decode_pass_through(static_cast<const std::uint8_t*>(in), in_size,
                                              out_size, view, layout)) {
        return refusals.invalid_parameter;
    }
    return is_read_request(view) ? 0 : refusals.access_denied;
}

PassThroughCall answer_pass_through(const void* in, std::uint32_t in_size, void* out,
                                    std::uint32_t out_size, const PassThroughRefusals& refusals,
                                    const PassThroughExecutor& execute,
                                    const PassThroughLayout& layout) {
    const PassThroughCall invalid{false, refusals.invalid_parameter, 0};
    if (in == nullptr || out == nullptr) {
        return invalid;
    }
    if (in_size > kMaxPassThroughBuffer || out_size > kMaxPassThroughBuffer) {
        return invalid;
    }

    // A private copy: in and out may be one buffer or two, and a failed call must leave out as
    // it was.
    std::vector<std::uint8_t> system(std::max(in_size, out_size), 0);
    std::memcpy(system.data(), in, in_size);

    PassThroughView view;
    if (!decode_pass_through(system.data(), in_size, out_size, view, layout)) {
        return invalid;
    }
    if (!is_read_request(view)) {
        return PassThroughCall{false, refusals.access_denied, 0};
    }

    std::uint8_t* data = view.transfer_length != 0 ? system.data() + view.data_offset : nullptr;
    std::uint8_t* sense = view.sense_length != 0 ? system.data() + view.sense_offset : nullptr;
    const PassThroughResult result = execute(view, data, sense);
    if (!result.completed) {
        return PassThroughCall{false, result.error, 0};
    }

    const std::uint32_t transferred = std::min(result.data_transferred, view.transfer_length);
    const std::uint32_t sensed = std::min<std::uint32_t>(result.sense_written, view.sense_length);
    std::uint8_t* record = system.data();
    record[kSptScsiStatus] = result.scsi_status;
    put_le32(record + kSptDataTransferLength, transferred);
    record[kSptSenseInfoLength] = static_cast<std::uint8_t>(sensed);

    // Only the answered part goes back: the record, the sense bytes written and the data read.
    std::uint32_t returned = layout.record_size;
    if (sensed != 0) {
        returned = std::max(returned, view.sense_offset + sensed);
    }
    if (view.direction == PassThroughDirection::in && transferred != 0) {
        returned = std::max(returned, view.data_offset + transferred);
    }
    std::memcpy(out, system.data(), returned);
    return PassThroughCall{true, 0, returned};
}

}  // namespace torvik
