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

PassThroughResult run_sg_io(const SgIoFunction& sg_io, int fd, const PassThroughView& view,
                            std::uint8_t* data, std::uint8_t* sense) {
    // The kernel writes at most mx_sb_len sense bytes; a private area keeps a reply that claims
    // more from reaching past the request's sense span.
    std::uint8_t sense_bytes[255] = {};
    std::uint8_t cdb[kSptCdbSize] = {};
    std::memcpy(cdb, view.cdb.data(), view.cdb_length);

    SgIoCall call;
    if (view.transfer_length != 0) {
        call.dxfer_direction =
            view.direction == PassThroughDirection::in ? kSgDxferFromDev : kSgDxferToDev;
        call.dxfer_len = view.transfer_length;
        call.dxferp = data;
    }
    call.cmd_len = view.cdb_length;
    call.cmdp = cdb;
    call.mx_sb_len = view.sense_length;
    call.sbp = view.sense_length != 0 ? sense_bytes : nullptr;
    constexpr std::uint32_t kMaxSeconds = std::numeric_limits<std::uint32_t>::max() / 1000;
    call.timeout = std::min(view.timeout_seconds, kMaxSeconds) * 1000;

    PassThroughResult result;
    const int error = sg_io(fd, call);
    if (error != 0) {
        result.error = static_cast<std::uint32_t>(error);
        return result;
    }
    const std::uint16_t driver = call.driver_status & kDriverMask;
    if (call.host_status == kDidTimeOut || driver == kDriverTimeout) {
        result.error = ETIMEDOUT;
        return result;
    }
    if (call.host_status != 0 || (driver != 0 && driver != kDriverSense)) {
        result.error = EIO;
        return result;
    }

    result.completed = true;
    result.scsi_status = call.status;
    const std::int64_t resid = std::clamp<std::int64_t>(call.resid, 0, call.dxfer_len);
    result.data_transferred = static_cast<std::uint32_t>(call.dxfer_len - resid);
    const std::uint32_t sensed = std::min<std::uint32_t>(call.sb_len_wr, view.sense_length);
    if (sensed != 0) {
        std::memcpy(sense, sense_bytes, sensed);
    }
    result.sense_written = sensed;
    return result;
}

}  // namespace torvik
