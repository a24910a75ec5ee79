#include "platform/linux_sg_io.h"

#include <scsi/sg.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

namespace torvik {

static_assert(kSgDxferNone == SG_DXFER_NONE);
static_assert(kSgDxferToDev == SG_DXFER_TO_DEV);
static_assert(kSgDxferFromDev == SG_DXFER_FROM_DEV);

int sg_io_ioctl(int fd, SgIoCall& call) {
    sg_io_hdr_t hdr;
    std::memset(&hdr, 0, sizeof hdr);
    hdr.interface_id = 'S';
    hdr.dxfer_direction = call.dxfer_direction;
    hdr.cmd_len = call.cmd_len;
    hdr.mx_sb_len = call.mx_sb_len;
    hdr.dxfer_len = call.dxfer_len;
    hdr.dxferp = call.dxferp;
    hdr.cmdp = const_cast<unsigned char*>(call.cmdp);
    hdr.sbp = call.sbp;
    hdr.timeout = call.timeout;
    if (::ioctl(fd, SG_IO, &hdr) < 0) {
        return errno;
    }
    call.status = hdr.status;
    call.masked_status = hdr.masked_status;
    call.sb_len_wr = hdr.sb_len_wr;
    call.host_status = hdr.host_status;
    call.driver_status = hdr.driver_status;
    call.resid = hdr.resid;
    return 0;
}

PassThroughResult run_sg_io(const SgIoFunction& sg_io, int fd, const PassThroughRequest& request) {
    // The kernel writes at most mx_sb_len sense bytes; a private area keeps a reply that claims
    // more from reaching past the result's.
    std::uint8_t sense[255] = {};
    SgIoCall call;
    if (request.transfer_length != 0) {
        call.dxfer_direction =
            request.direction == DataDirection::in ? kSgDxferFromDev : kSgDxferToDev;
        call.dxfer_len = request.transfer_length;
        call.dxferp = request.data;
    }
    call.cmd_len = request.cdb_length;
    call.cmdp = request.cdb.data();
    call.mx_sb_len = request.sense_length;
    call.sbp = request.sense_length != 0 ? sense : nullptr;
    constexpr std::uint32_t kMaxSeconds = std::numeric_limits<std::uint32_t>::max() / 1000;
    call.timeout = std::min(request.timeout_seconds, kMaxSeconds) * 1000;

    const int error = sg_io(fd, call);
    if (error != 0) {
        return failed_call(static_cast<std::uint32_t>(error), std::strerror(error));
    }
    const std::uint16_t driver = call.driver_status & kDriverMask;
    if (call.host_status == kDidTimeOut || driver == kDriverTimeout) {
        return failed_call(ETIMEDOUT, std::strerror(ETIMEDOUT));
    }
    if (call.host_status != 0 || (driver != 0 && driver != kDriverSense)) {
        return failed_call(EIO, std::strerror(EIO));
    }

    PassThroughResult result;
    result.completed = true;
    result.scsi_status = call.status;
    result.residual =
        static_cast<std::uint32_t>(std::clamp<std::int64_t>(call.resid, 0, call.dxfer_len));
    result.sense_length = std::min(call.sb_len_wr, request.sense_length);
    std::memcpy(result.sense.data(), sense, result.sense_length);
    return result;
}

}  // namespace torvik
