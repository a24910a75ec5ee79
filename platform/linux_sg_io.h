// A pass-through request carried out with the Linux SG_IO ioctl.
//
// SgIoCall mirrors the fields of struct sg_io_hdr that the translation sets and reads, so the
// translation can be run against a fake ioctl in tests; the real ioctl copies them into an
// sg_io_hdr (linux_sg_io.cpp checks the constants against the kernel header).
//
// How a reply maps onto the result:
//   - the ioctl itself fails: a failed call with its errno;
//   - host_status DID_TIME_OUT (or driver byte DRIVER_TIMEOUT): a failed call, ETIMEDOUT (110);
//   - any other host_status, or a driver byte other than DRIVER_SENSE: a failed call, EIO (5);
//   - otherwise the command completed, whatever its SCSI status: the status, the sense bytes and
//     resid (as the residual) go into the result. A CHECK CONDITION is therefore a completed
//     command.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/pass_through.h"

namespace torvik {

inline constexpr int kSgDxferNone = -1;
inline constexpr int kSgDxferToDev = -2;
inline constexpr int kSgDxferFromDev = -3;

inline constexpr std::uint16_t kDidTimeOut = 0x03;
inline constexpr std::uint16_t kDriverMask = 0x0F;  // the driver byte; the upper bits are hints
inline constexpr std::uint16_t kDriverTimeout = 0x06;
inline constexpr std::uint16_t kDriverSense = 0x08;

struct SgIoCall {
    // Request.
    int dxfer_direction = kSgDxferNone;
    std::uint8_t cmd_len = 0;
    std::uint8_t mx_sb_len = 0;
    std::uint32_t dxfer_len = 0;
    std::uint8_t* dxferp = nullptr;
    const std::uint8_t* cmdp = nullptr;
    std::uint8_t* sbp = nullptr;
    std::uint32_t timeout = 0;  // milliseconds
    // Reply.
    std::uint8_t status = 0;
    std::uint8_t masked_status = 0;
    std::uint8_t sb_len_wr = 0;
    std::uint16_t host_status = 0;
    std::uint16_t driver_status = 0;
    std::int32_t resid = 0;
};

// Runs SG_IO on fd: 0 when the ioctl returned 0, else its errno.
using SgIoFunction = std::function<int(int fd, SgIoCall& call)>;

// The real SG_IO ioctl.
int sg_io_ioctl(int fd, SgIoCall& call);

// Carries out one request that refusal() let through on fd.
PassThroughResult run_sg_io(const SgIoFunction& sg_io, int fd, const PassThroughRequest& request);

}  // namespace torvik
