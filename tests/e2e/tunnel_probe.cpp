// torvik_e2e_tunnel_probe: sends one bridge tunnel read (0xE6, data in) of the test's own choice
// to a SCSI node and prints what came back, for the end-to-end guest's check of how the bridge
// reports an admin command the NVMe controller rejects.
//
//   torvik_e2e_tunnel_probe NODE OPCODE CDW10_LOW LENGTH
//
// OPCODE and CDW10_LOW are hex bytes (CDB bytes 1 and 3), LENGTH the data-in bytes in decimal.
// Prints one line: "status=SS host=HHHH driver=DDDD resid=N nonzero=N sense=XX XX ...", the SCSI
// status, the host and driver status, the residual count, the returned data bytes that are not
// zero, and the sense bytes received. Exit status 0 when the call was made, 2 otherwise.
#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fputs("usage: torvik_e2e_tunnel_probe NODE OPCODE CDW10_LOW LENGTH\n", stderr);
        return 2;
    }
    const unsigned long opcode = std::strtoul(argv[2], nullptr, 16);
    const unsigned long cdw10 = std::strtoul(argv[3], nullptr, 16);
    const unsigned long length = std::strtoul(argv[4], nullptr, 10);
    if (opcode > 0xFF || cdw10 > 0xFF || length == 0 || length > 65536) {
        std::fputs("torvik_e2e_tunnel_probe: bad opcode, dword or length\n", stderr);
        return 2;
    }
    // Read-only, as the tool opens it: the tunnel read moves data in only.
    const int fd = ::open(argv[1], O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        std::fprintf(stderr, "torvik_e2e_tunnel_probe: %s: %s\n", argv[1], std::strerror(errno));
        return 2;
    }
    std::array<unsigned char, 16> cdb{0xE6, static_cast<unsigned char>(opcode), 0,
                                      static_cast<unsigned char>(cdw10)};
    std::array<unsigned char, 32> sense{};
    std::vector<unsigned char> data(length);
    sg_io_hdr_t io{};
    io.interface_id = 'S';
    io.dxfer_direction = SG_DXFER_FROM_DEV;
    io.cmd_len = static_cast<unsigned char>(cdb.size());
    io.cmdp = cdb.data();
    io.mx_sb_len = static_cast<unsigned char>(sense.size());
    io.sbp = sense.data();
    io.dxfer_len = static_cast<unsigned int>(length);
    io.dxferp = data.data();
    io.timeout = 5000;
    const int rc = ::ioctl(fd, SG_IO, &io);
    const int error = errno;
    ::close(fd);
    if (rc != 0) {
        std::fprintf(stderr, "torvik_e2e_tunnel_probe: SG_IO: %s\n", std::strerror(error));
        return 2;
    }
    std::size_t nonzero = 0;
    for (unsigned char b : data)
        nonzero += b != 0;
    std::printf("status=%02x host=%04x driver=%04x resid=%d nonzero=%zu sense=", io.status,
                io.host_status, io.driver_status, io.resid, nonzero);
    for (unsigned i = 0; i < io.sb_len_wr; ++i)
        std::printf("%s%02x", i == 0 ? "" : " ", sense[i]);
    std::printf("\n");
    return 0;
}
