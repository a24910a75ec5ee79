// The SCSI_PASS_THROUGH record and the request buffer built around it, as byte offsets.
//
// A pass-through request is one buffer: the record, a 24-byte sense area right behind it, and the
// data area behind that (8 bytes further for INQUIRY). Every offset of the buffer follows from the
// record's size, so a build whose record is larger keeps the same order.
//
//   offset  size  field (32-bit layout; the 64-bit Windows layout differs from DataBufferOffset on)
//   0       2     Length              the record's own size
//   2       1     ScsiStatus          written back by the platform
//   3       1     PathId
//   4       1     TargetId
//   5       1     Lun
//   6       1     CdbLength
//   7       1     SenseInfoLength
//   8       1     DataIn              0 data out, 1 data in, 2 unspecified
//   12      4     DataTransferLength
//   16      4     TimeOutValue        seconds
//   20      4     DataBufferOffset    (64-bit Windows: 8 bytes at 24)
//   24      4     SenseInfoOffset     (64-bit Windows: at 32)
//   28      16    Cdb                 (64-bit Windows: at 36, record padded to 56)
#pragma once

#include <cstdint>

namespace torvik {

// The fields whose position depends on the pointer size of the build.
struct PassThroughLayout {
    std::uint32_t record_size;
    std::uint32_t data_buffer_offset_at;
    std::uint32_t data_buffer_offset_width;  // 4, or 8 where it is a ULONG_PTR
    std::uint32_t sense_info_offset_at;
    std::uint32_t cdb_at;
};

// Our own definition of the 32-bit record: the Linux build and the simulated drive see the same
// bytes a 32-bit Windows build sends.
inline constexpr PassThroughLayout kPassThroughLayout32{44, 20, 4, 24, 28};
// The OS's record in a 64-bit Windows build.
inline constexpr PassThroughLayout kPassThroughLayout64{56, 24, 8, 32, 36};

#if defined(_WIN64)
inline constexpr PassThroughLayout kPassThroughLayout = kPassThroughLayout64;
#else
inline constexpr PassThroughLayout kPassThroughLayout = kPassThroughLayout32;
#endif

// Fields at the same place in both layouts.
inline constexpr std::uint32_t kSptLength = 0;
inline constexpr std::uint32_t kSptScsiStatus = 2;
inline constexpr std::uint32_t kSptPathId = 3;
inline constexpr std::uint32_t kSptTargetId = 4;
inline constexpr std::uint32_t kSptLun = 5;
inline constexpr std::uint32_t kSptCdbLength = 6;
inline constexpr std::uint32_t kSptSenseInfoLength = 7;
inline constexpr std::uint32_t kSptDataIn = 8;
inline constexpr std::uint32_t kSptDataTransferLength = 12;
inline constexpr std::uint32_t kSptTimeOutValue = 16;
inline constexpr std::uint32_t kSptCdbSize = 16;

// DataIn values.
inline constexpr std::uint8_t kScsiIoctlDataOut = 0;
inline constexpr std::uint8_t kScsiIoctlDataIn = 1;
inline constexpr std::uint8_t kScsiIoctlDataUnspecified = 2;

// The request buffer around the record.
inline constexpr std::uint32_t kSenseAreaSize = 24;
inline constexpr std::uint32_t kInquiryGap = 8;  // INQUIRY's data area starts this much later

constexpr std::uint32_t sense_area_offset(const PassThroughLayout& layout) {
    return layout.record_size;
}
constexpr std::uint32_t data_area_offset(const PassThroughLayout& layout) {
    return layout.record_size + kSenseAreaSize;
}
constexpr std::uint32_t inquiry_data_area_offset(const PassThroughLayout& layout) {
    return data_area_offset(layout) + kInquiryGap;
}

static_assert(data_area_offset(kPassThroughLayout32) == 68);
static_assert(inquiry_data_area_offset(kPassThroughLayout32) == 76);
static_assert(kPassThroughLayout32.cdb_at + kSptCdbSize == kPassThroughLayout32.record_size);

}  // namespace torvik
