// The pass-through request buffer: the record, the sense area and the data area in one block,
// cleared and filled for one command, sent as both input and output of the I/O control.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/pass_through_record.h"
#include "transport/cdb.h"
#include "transport/drive_link.h"

namespace torvik {

inline constexpr std::uint32_t kRequestTimeoutSeconds = 2;

// What differs from one command to the next; every other record field is fixed.
struct RequestParams {
    Cdb cdb;
    std::uint8_t sense_length = 0;  // kSenseAreaSize, or 0 when no sense data is asked for
    bool inquiry = false;           // data area kInquiryGap later, and only the record goes in
    bool data_in = true;
    std::uint32_t transfer_length = 0;
};

// Where the data area starts and the two sizes handed to the I/O control. The buffer always has
// room for the largest transfer, whatever this one's length.
struct RequestSizes {
    std::uint32_t data_offset = 0;
    std::uint32_t in_size = 0;
    std::uint32_t out_size = 0;
    std::uint32_t buffer_size = 0;
};

RequestSizes request_sizes(const RequestParams& params,
                           const PassThroughLayout& layout = kPassThroughLayout);

class Request {
  public:
    // Allocates the buffer cleared to zero and fills the record.
    explicit Request(const RequestParams& params,
                     const PassThroughLayout& layout = kPassThroughLayout);

    // One DeviceIoControl(IOCTL_SCSI_PASS_THROUGH) on the disk; true when the call succeeded.
    bool send(DriveLink& link);

    std::uint8_t* data() { return buffer_.data() + sizes_.data_offset; }
    const std::vector<std::uint8_t>& bytes() const { return buffer_; }
    const RequestSizes& sizes() const { return sizes_; }

  private:
    RequestSizes sizes_;
    std::vector<std::uint8_t> buffer_;
};

}  // namespace torvik
