#include "platform/windows_pass_through.h"

#include <algorithm>
#include <cstring>

#include "common/bytes.h"

namespace torvik {

namespace {

constexpr std::uint8_t kInquiryOpcode = 0x12;

std::uint8_t data_in_value(DataDirection direction) {
    switch (direction) {
        case DataDirection::in:
            return kScsiIoctlDataIn;
        case DataDirection::out:
            return kScsiIoctlDataOut;
        case DataDirection::none:
            break;
    }
    return kScsiIoctlDataUnspecified;
}

}  // namespace

WindowsPassThrough build_windows_pass_through(const PassThroughRequest& request,
                                              const PassThroughLayout& layout) {
    const bool inquiry = request.cdb[0] == kInquiryOpcode;
    const std::uint32_t sense_area = std::max<std::uint32_t>(kSenseAreaSize, request.sense_length);
    WindowsPassThrough sent;
    sent.data_offset = layout.record_size + sense_area + (inquiry ? kInquiryGap : 0);
    sent.out_size = sent.data_offset + request.transfer_length;
    // INQUIRY hands in the record alone; every other request the whole buffer up to its data.
    sent.in_size = inquiry ? layout.record_size : sent.out_size;
    sent.buffer.assign(std::max(sent.in_size, sent.out_size), 0);

    std::uint8_t* record = sent.buffer.data();
    put_le16(record + kSptLength, static_cast<std::uint16_t>(layout.record_size));
    record[kSptCdbLength] = request.cdb_length;
    record[kSptSenseInfoLength] = request.sense_length;
    record[kSptDataIn] = data_in_value(request.direction);
    put_le32(record + kSptDataTransferLength, request.transfer_length);
    put_le32(record + kSptTimeOutValue, request.timeout_seconds);
    if (layout.data_buffer_offset_width == 8) {
        put_le64(record + layout.data_buffer_offset_at, sent.data_offset);
    } else {
        put_le32(record + layout.data_buffer_offset_at, sent.data_offset);
    }
    put_le32(record + layout.sense_info_offset_at, layout.record_size);
    std::memcpy(record + layout.cdb_at, request.cdb.data(), request.cdb_length);
    if (request.direction == DataDirection::out && request.transfer_length != 0) {
        std::memcpy(record + sent.data_offset, request.data, request.transfer_length);
    }
    return sent;
}

PassThroughResult read_windows_pass_through(const WindowsPassThrough& sent,
                                            const PassThroughRequest& request,
                                            const PassThroughLayout& layout) {
    const std::uint8_t* record = sent.buffer.data();
    PassThroughResult result;
    result.completed = true;
    result.scsi_status = record[kSptScsiStatus];
    const std::uint32_t came =
        std::min(get_le32(record + kSptDataTransferLength), request.transfer_length);
    result.residual = request.transfer_length - came;
    result.sense_length = std::min({record[kSptSenseInfoLength], request.sense_length,
                                    static_cast<std::uint8_t>(result.sense.size())});
    std::memcpy(result.sense.data(), record + layout.record_size, result.sense_length);
    if (request.direction == DataDirection::in && came != 0) {
        std::memcpy(request.data, record + sent.data_offset, came);
    }
    return result;
}

}  // namespace torvik
