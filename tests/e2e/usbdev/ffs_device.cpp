#include "tests/e2e/usbdev/ffs_device.h"

#include <fcntl.h>
#include <linux/usb/functionfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "common/bytes.h"

namespace torvik::usbdev {

namespace {

constexpr std::size_t kEventSize = 12;  // struct usb_functionfs_event
constexpr std::size_t kDataCapacity = 1 << 20;
constexpr std::size_t kChunk = 64 * 1024;  // a multiple of every max packet size
constexpr std::uint8_t kRequestTypeClassInterfaceIn = 0xA1;
constexpr std::uint8_t kRequestTypeClassInterfaceOut = 0x21;

// One interface and its two endpoints at one speed (9 + 7 + 7 bytes).
void append_interface(std::vector<std::uint8_t>& out, std::uint16_t max_packet) {
    const std::uint8_t interface[] = {
        9,     // bLength
        0x04,  // bDescriptorType: interface
        0,     // bInterfaceNumber
        0,     // bAlternateSetting
        2,     // bNumEndpoints
        0x08,  // bInterfaceClass: mass storage
        0x06,  // bInterfaceSubClass: SCSI transparent command set
        0x50,  // bInterfaceProtocol: Bulk-Only Transport
        0,     // iInterface
    };
    out.insert(out.end(), std::begin(interface), std::end(interface));
    for (const std::uint8_t address : {std::uint8_t{0x81}, std::uint8_t{0x02}}) {
        std::uint8_t endpoint[7] = {7, 0x05, address, 0x02 /* bulk */, 0, 0, 0 /* bInterval */};
        put_le16(endpoint + 4, max_packet);
        out.insert(out.end(), std::begin(endpoint), std::end(endpoint));
    }
}

const char* event_name(std::uint8_t type) {
    switch (type) {
        case FUNCTIONFS_BIND:
            return "BIND";
        case FUNCTIONFS_UNBIND:
            return "UNBIND";
        case FUNCTIONFS_ENABLE:
            return "ENABLE";
        case FUNCTIONFS_DISABLE:
            return "DISABLE";
        case FUNCTIONFS_SETUP:
            return "SETUP";
        case FUNCTIONFS_SUSPEND:
            return "SUSPEND";
        case FUNCTIONFS_RESUME:
            return "RESUME";
        default:
            return "?";
    }
}

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

bool write_all(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, std::min(size, kChunk));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Reads exactly `size` bytes from the host into `data` (the first `keep` of them; the rest is
// read and dropped).
bool read_all(int fd, std::uint8_t* data, std::size_t size, std::size_t keep) {
    std::uint8_t spill[kChunk];
    std::size_t done = 0;
    while (done < size) {
        const std::size_t want = std::min(size - done, kChunk);
        std::uint8_t* into = done + want <= keep ? data + done : spill;
        const ssize_t n = ::read(fd, into, want);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        if (into == spill && done < keep) {
            std::memcpy(data + done, spill, std::min(keep - done, static_cast<std::size_t>(n)));
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void log_command(std::FILE* log, const Cbw& cbw, const BotPlan& plan) {
    if (log == nullptr)
        return;
    const ScsiCommand& c = cbw.command;
    char cdb[16 * 3 + 1] = {};
    std::size_t at = 0;
    for (std::size_t i = 0; i < c.cdb_length; ++i) {
        at += static_cast<std::size_t>(
            std::snprintf(cdb + at, sizeof cdb - at, i == 0 ? "%02x" : " %02x", c.cdb[i]));
    }
    if (!plan.send_csw) {
        std::fprintf(log, "cmd tag=%u %s len=%u cdb=[%s] -> no reply\n", cbw.tag,
                     c.data_in ? "in" : "out", c.transfer_length, cdb);
        return;
    }
    std::fprintf(log, "cmd tag=%u %s len=%u cdb=[%s] -> status=%u data=%u residue=%u%s\n", cbw.tag,
                 c.data_in ? "in" : "out", c.transfer_length, cdb, plan.csw[12],
                 plan.data_in_length, get_le32(plan.csw.data() + 8), plan.halt_in ? " halt" : "");
}

// The control endpoint: GET MAX LUN (one LUN) and Bulk-Only Mass Storage Reset are answered,
// every other request that reaches the function is stalled.
void serve_control(int ep0, std::FILE* log) {
    std::uint8_t events[kEventSize * 4];
    std::uint8_t none[1] = {0};
    for (;;) {
        const ssize_t n = ::read(ep0, events, sizeof events);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (log != nullptr)
                std::fprintf(log, "ep0: read failed: %s\n", std::strerror(errno));
            return;
        }
        for (std::size_t at = 0; at + kEventSize <= static_cast<std::size_t>(n); at += kEventSize) {
            const std::uint8_t* event = events + at;
            const std::uint8_t type = event[8];
            if (type != FUNCTIONFS_SETUP) {
                if (log != nullptr)
                    std::fprintf(log, "ep0: %s\n", event_name(type));
                continue;
            }
            const std::uint8_t request_type = event[0];
            const std::uint8_t request = event[1];
            const std::uint16_t length = get_le16(event + 6);
            ssize_t result = 0;
            if (request_type == kRequestTypeClassInterfaceIn && request == kRequestGetMaxLun &&
                length >= 1) {
                result = ::write(ep0, none, 1);  // the highest LUN is 0
            } else if (request_type == kRequestTypeClassInterfaceOut &&
                       request == kRequestBulkOnlyReset && length == 0) {
                result = ::read(ep0, none, 0);  // status stage
            } else if ((request_type & 0x80) != 0) {
                result = ::read(ep0, none, 0);  // the wrong direction stalls the request
            } else {
                result = ::write(ep0, none, 0);
            }
            if (log != nullptr) {
                std::fprintf(log, "ep0: SETUP %02x %02x len=%u -> %zd\n", request_type, request,
                             length, result);
            }
        }
    }
}

}  // namespace

std::vector<std::uint8_t> ffs_descriptors() {
    std::vector<std::uint8_t> out(20);
    append_interface(out, 64);   // full speed
    append_interface(out, 512);  // high speed
    put_le32(out.data(), FUNCTIONFS_DESCRIPTORS_MAGIC_V2);
    put_le32(out.data() + 4, static_cast<std::uint32_t>(out.size()));
    put_le32(out.data() + 8, FUNCTIONFS_HAS_FS_DESC | FUNCTIONFS_HAS_HS_DESC);
    put_le32(out.data() + 12, 3);  // descriptors at full speed
    put_le32(out.data() + 16, 3);  // and at high speed
    return out;
}

std::vector<std::uint8_t> ffs_strings() {
    std::vector<std::uint8_t> out(16);
    put_le32(out.data(), FUNCTIONFS_STRINGS_MAGIC);
    put_le32(out.data() + 4, 16);
    return out;  // no strings, no languages
}

int run_ffs_device(const DeviceOptions& options, BotSession& session) {
    std::FILE* log = options.log;
    const std::string dir = options.ffs_dir;
    FileDescriptor ep0(::open((dir + "/ep0").c_str(), O_RDWR | O_CLOEXEC));
    if (ep0.get() < 0) {
        std::fprintf(stderr, "usbdev: cannot open %s/ep0: %s\n", dir.c_str(), std::strerror(errno));
        return 1;
    }
    const std::vector<std::uint8_t> descriptors = ffs_descriptors();
    const std::vector<std::uint8_t> strings = ffs_strings();
    if (::write(ep0.get(), descriptors.data(), descriptors.size()) < 0 ||
        ::write(ep0.get(), strings.data(), strings.size()) < 0) {
        std::fprintf(stderr, "usbdev: FunctionFS refused the descriptors: %s\n",
                     std::strerror(errno));
        return 1;
    }
    // The endpoint files appear once the descriptors are accepted, in descriptor order.
    FileDescriptor ep_in(::open((dir + "/ep1").c_str(), O_RDWR | O_CLOEXEC));
    FileDescriptor ep_out(::open((dir + "/ep2").c_str(), O_RDWR | O_CLOEXEC));
    if (ep_in.get() < 0 || ep_out.get() < 0) {
        std::fprintf(stderr, "usbdev: cannot open the endpoints: %s\n", std::strerror(errno));
        return 1;
    }
    if (!options.ready_file.empty()) {
        if (std::FILE* ready = std::fopen(options.ready_file.c_str(), "w"))
            std::fclose(ready);
    }

    std::thread control(serve_control, ep0.get(), log);
    control.detach();

    std::vector<std::uint8_t> data(kDataCapacity);
    std::uint8_t wrapper[512];
    std::uint8_t none[1] = {0};
    for (;;) {
        // Blocking endpoint I/O waits while the function is disabled; a transfer cut by a reset
        // or a disconnect fails, and the loop starts again with the next wrapper.
        const ssize_t n = ::read(ep_out.get(), wrapper, sizeof wrapper);
        if (n < 0) {
            if (errno != EINTR && log != nullptr) {
                std::fprintf(log, "bulk-out: %s\n", std::strerror(errno));
            }
            continue;
        }
        Cbw cbw;
        if (!parse_cbw(wrapper, static_cast<std::size_t>(n), cbw)) {
            if (log != nullptr)
                std::fprintf(log, "bulk-out: %zd bytes, not a CBW\n", n);
            continue;
        }
        const ScsiCommand& command = cbw.command;
        // The responder sees exactly the bytes this transfer can carry, zero or sent by the host.
        const std::size_t usable = std::min<std::size_t>(command.transfer_length, data.size());
        std::memset(data.data(), 0, usable);
        if (!command.data_in && command.transfer_length > 0 &&
            !read_all(ep_out.get(), data.data(), command.transfer_length, usable)) {
            if (log != nullptr)
                std::fprintf(log, "data-out: %s\n", std::strerror(errno));
            continue;
        }
        const BotPlan plan = session.run(cbw, data.data(), usable);
        log_command(log, cbw, plan);
        if (!plan.send_csw)
            continue;
        if (plan.data_in_length > 0 && !write_all(ep_in.get(), data.data(), plan.data_in_length)) {
            if (log != nullptr)
                std::fprintf(log, "data-in: %s\n", std::strerror(errno));
            continue;
        }
        // A read on the IN endpoint's file halts it: the host sees the stall, clears it and
        // then reads the CSW with the residue.
        if (plan.halt_in)
            (void)::read(ep_in.get(), none, 1);
        if (!write_all(ep_in.get(), plan.csw.data(), plan.csw.size()) && log != nullptr) {
            std::fprintf(log, "csw: %s\n", std::strerror(errno));
        }
    }
}

}  // namespace torvik::usbdev
