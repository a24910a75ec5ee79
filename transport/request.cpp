#include "transport/request.h"

#include <algorithm>
#include <cstring>

#include "common/bytes.h"

namespace torvik {

namespace {

constexpr std::uint8_t kStatusCheckCondition = 0x02;

}  // namespace

RequestSizes request_sizes(const RequestParams& params, const PassThroughLayout& layout) {
    RequestSizes sizes;
    sizes.data_offset =
        params.inquiry ? inquiry_data_area_offset(layout) : data_area_offset(layout);
    sizes.out_size = sizes.data_offset + params.transfer_length;
    // INQUIRY hands in the record alone; every other request the whole buffer up to its data.
    sizes.in_size = params.inquiry ? layout.record_size : sizes.out_size;
    sizes.buffer_size = std::max(sizes.in_size, sizes.out_size);
    return sizes;
}

Request::Request(const RequestParams& params, const PassThroughLayout& layout)
    : sizes_(request_sizes(params, layout)),
      transfer_length_(params.transfer_length),
      buffer_(sizes_.buffer_size, 0) {
    std::uint8_t* record = buffer_.data();
    put_le16(record + kSptLength, static_cast<std::uint16_t>(layout.record_size));
    record[kSptCdbLength] = params.cdb.length;
    record[kSptSenseInfoLength] = params.sense_length;
    record[kSptDataIn] = kScsiIoctlDataIn;
    put_le32(record + kSptDataTransferLength, params.transfer_length);
    put_le32(record + kSptTimeOutValue, kRequestTimeoutSeconds);
    if (layout.data_buffer_offset_width == 8) {
        put_le64(record + layout.data_buffer_offset_at, sizes_.data_offset);
    } else {
        put_le32(record + layout.data_buffer_offset_at, sizes_.data_offset);
    }
    put_le32(record + layout.sense_info_offset_at, sense_area_offset(layout));
    std::memcpy(record + layout.cdb_at, params.cdb.bytes.data(), params.cdb.bytes.size());
}

CommandResult Request::send(DriveLink& link) {
    std::uint32_t returned = 0;
    const bool ok =
        link.platform.device_io_control(link.disk, kIoctlScsiPassThrough, buffer_.data(),
                                        sizes_.in_size, buffer_.data(), sizes_.out_size, &returned);
    CommandResult result;
    result.error = link.platform.last_error();
    if (!ok)
        return result;
    // The platform writes back the SCSI status and the number of data bytes that came.
    const std::uint8_t* record = buffer_.data();
    result.outcome = record[kSptScsiStatus] == kStatusCheckCondition
                         ? CommandResult::Outcome::check_condition
                         : CommandResult::Outcome::data;
    result.received = std::min(get_le32(record + kSptDataTransferLength), transfer_length_);
    return result;
}

}  // namespace torvik
