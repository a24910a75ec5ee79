// The Windows backend's form of a pass-through request: IOCTL_SCSI_PASS_THROUGH takes one buffer
// holding the SCSI_PASS_THROUGH record, a 24-byte sense area right behind it and the data area
// behind that (8 bytes further for INQUIRY, whose input is the record alone). Every offset of the
// buffer follows from the record's size, so the 64-bit record keeps the same order. Written as
// byte offsets, so that it can be built for either record size; windows_platform.cpp checks the
// build's own layout against the OS header.
//
//   offset  size  field (32-bit layout; the 64-bit layout differs from DataBufferOffset on)
//   0       2     Length              the record's own size
//   2       1     ScsiStatus          written back by the OS
//   3       1     PathId
//   4       1     TargetId
//   5       1     Lun
//   6       1     CdbLength
//   7       1     SenseInfoLength     asked for; written back: the sense bytes that came
//   8       1     DataIn              0 data out, 1 data in, 2 unspecified
//   12      4     DataTransferLength  asked for; written back: the data bytes that came
//   16      4     TimeOutValue        seconds
//   20      4     DataBufferOffset    (64-bit: 8 bytes at 24)
//   24      4     SenseInfoOffset     (64-bit: at 32)
//   28      16    Cdb                 (64-bit: at 36, record padded to 56)
#pragma once

#include <cstdint>
#include <vector>

#include "platform/pass_through.h"

namespace torvik {

// The fields whose position depends on the pointer size of the build.
struct PassThroughLayout {
    std::uint32_t record_size;
    std::uint32_t data_buffer_offset_at;
    std::uint32_t data_buffer_offset_width;  // 4, or 8 where it is a ULONG_PTR
    std::uint32_t sense_info_offset_at;
    std::uint32_t cdb_at;
};

inline constexpr PassThroughLayout kPassThroughLayout32{44, 20, 4, 24, 28};
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

inline constexpr std::uint32_t kSenseAreaSize = 24;
inline constexpr std::uint32_t kInquiryGap = 8;

static_assert(kMaxCdbLength == kSptCdbSize);

// One request as the OS is handed it: the buffer, cleared and filled, exactly as large as the
// larger of the two sizes (the OS reads and writes nothing past them), and where its data area is.
struct WindowsPassThrough {
    std::vector<std::uint8_t> buffer;
    std::uint32_t in_size = 0;
    std::uint32_t out_size = 0;
    std::uint32_t data_offset = 0;
};

// The buffer for a request that refusal() let through; the bytes of a data-out request are copied
// into its data area.
WindowsPassThrough build_windows_pass_through(const PassThroughRequest& request,
                                              const PassThroughLayout& layout);

// What the OS wrote back into the buffer of a call that succeeded: the status, the sense bytes and
// the data that came, which go to request.data.
PassThroughResult read_windows_pass_through(const WindowsPassThrough& sent,
                                            const PassThroughRequest& request,
                                            const PassThroughLayout& layout);

}  // namespace torvik
