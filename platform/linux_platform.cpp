#include "platform/linux_platform.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <system_error>

#include "common/bytes.h"
#include "platform/drive_path.h"
#include "platform/posix_interrupt.h"
#include "platform/storage_descriptor.h"

extern char** environ;

namespace torvik {

namespace fs = std::filesystem;

static_assert(sizeof(termios) <= 128, "saved_termios_ must hold a struct termios");

namespace {

// Every disk node (block and SCSI generic, for the listing, the bus query and the examined drive)
// is opened read-only: SG_IO as root needs no write access, a write-protected disk refuses a
// write open (EROFS), and closing a descriptor opened for writing makes udev re-probe the disk.
constexpr int kDiskNodeOpenFlags = O_RDONLY | O_NONBLOCK | O_CLOEXEC;

// Reads the first line of a sysfs attribute, without its line end; spaces are kept.
std::string read_attribute(const fs::path& path) {
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line))
        return {};
    return line;
}

// One line of in without its line end, as std::getline reads it; false at the end of the input.
// (stdio rather than a stream: a stream's locale set-up costs more than the whole file.)
bool read_line(std::FILE* in, std::string& line) {
    line.clear();
    char chunk[256];
    while (std::fgets(chunk, sizeof chunk, in) != nullptr) {
        line += chunk;
        if (line.back() == '\n') {
            line.pop_back();
            return true;
        }
    }
    return !line.empty();
}

// "PRETTY_NAME=..." of os-release, without its quotes.
std::string pretty_name(const std::string& os_release) {
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(os_release.c_str(), "r"),
                                                             &std::fclose);
    std::string line;
    while (in != nullptr && read_line(in.get(), line)) {
        if (line.rfind("PRETTY_NAME=", 0) != 0)
            continue;
        std::string value = line.substr(std::strlen("PRETTY_NAME="));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front()) {
            value = value.substr(1, value.size() - 2);
        }
        return value;
    }
    return {};
}

}  // namespace

LinuxPlatform::LinuxPlatform(std::string sysfs_root, std::string dev_root, std::string os_release)
    : sysfs_root_(std::move(sysfs_root)),
      dev_root_(std::move(dev_root)),
      os_release_(std::move(os_release)) {}

LinuxPlatform::~LinuxPlatform() {
    for (OpenDrive& drive : drives_) {
        if (drive.fd >= 0) {
            ::close(drive.fd);
        }
        if (drive.sg_fd >= 0) {
            ::close(drive.sg_fd);
        }
    }
    if (raw_console_) {
        termios saved;
        std::memcpy(&saved, saved_termios_, sizeof saved);
        ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
        forget_terminal_mode();
    }
}

bool LinuxPlatform::get_version(OsVersion& os) {
    utsname name{};
    if (::uname(&name) != 0) {
        last_error_ = static_cast<std::uint32_t>(errno);
        return false;
    }
    int numbers[3] = {0, 0, 0};
    const char* p = name.release;
    for (int k = 0; k < 3 && *p != '\0'; ++k) {
        numbers[k] = static_cast<int>(std::strtol(p, const_cast<char**>(&p), 10));
        while (*p != '\0' && (*p < '0' || *p > '9'))
            ++p;
    }
    os.major = numbers[0];
    os.minor = numbers[1];
    os.build = numbers[2];
    std::snprintf(os.service_pack, sizeof os.service_pack, "%s", pretty_name(os_release_).c_str());
    return true;
}

std::vector<std::string> LinuxPlatform::list_disks() const {
    return list_whole_disks(sysfs_root_);
}

DriveHandle LinuxPlatform::open_drive(const char* path, std::uint32_t /*flags*/) {
    std::size_t index = 0;
    const std::vector<std::string> disks = list_disks();
    if (!parse_drive_number(path, index) || index >= disks.size()) {
        last_error_ = ENOENT;
        return kInvalidDriveHandle;
    }
    const std::string node = dev_root_ + "/" + disks[index];
    const int fd = open_node(node);
    if (fd < 0) {
        last_error_ = static_cast<std::uint32_t>(errno);
        return kInvalidDriveHandle;
    }
    drives_.push_back(OpenDrive{fd, disks[index], open_scsi_generic(disks[index])});
    return static_cast<DriveHandle>(drives_.size() - 1);
}

int LinuxPlatform::open_node(const std::string& node) const {
    if (open_node_)
        return open_node_(node.c_str(), kDiskNodeOpenFlags);
    return ::open(node.c_str(), kDiskNodeOpenFlags);
}

// SG_IO on the block node raises any time-out below 7 s to 7 s; the SCSI generic node keeps the
// 2 s the requests ask for. -1 when the disk has none or it cannot be opened: the block node
// then carries the requests.
int LinuxPlatform::open_scsi_generic(const std::string& name) const {
    std::error_code ec;
    const fs::path dir = fs::path(sysfs_root_) / "block" / name / "device" / "scsi_generic";
    for (const fs::directory_entry& entry : fs::directory_iterator(dir, ec)) {
        const std::string node = dev_root_ + "/" + entry.path().filename().string();
        const int fd = open_node(node);
        if (fd >= 0) {
            return fd;
        }
    }
    return -1;
}

LinuxPlatform::OpenDrive* LinuxPlatform::find(DriveHandle drive) {
    if (drive < 0 || static_cast<std::size_t>(drive) >= drives_.size())
        return nullptr;
    OpenDrive& open = drives_[static_cast<std::size_t>(drive)];
    return open.fd >= 0 ? &open : nullptr;
}

void LinuxPlatform::close_drive(DriveHandle drive) {
    if (OpenDrive* open = find(drive)) {
        ::close(open->fd);
        open->fd = -1;
        if (open->sg_fd >= 0) {
            ::close(open->sg_fd);
        }
        open->sg_fd = -1;
    }
}

std::uint8_t LinuxPlatform::bus_type_of(const std::string& name) const {
    std::error_code ec;
    const fs::path real = fs::canonical(fs::path(sysfs_root_) / "block" / name, ec);
    if (ec)
        return 0;
    const std::string p = real.generic_string();
    // A device path that passes through a USB device ("/usb1/1-1/...") is on the USB bus.
    if (p.find("/usb") != std::string::npos)
        return kBusTypeUsb;
    if (p.find("/nvme") != std::string::npos)
        return kBusTypeNvme;
    if (p.find("/ata") != std::string::npos)
        return kBusTypeSata;
    if (p.find("/mmc") != std::string::npos)
        return kBusTypeMmc;
    if (p.find("/virtio") != std::string::npos)
        return kBusTypeVirtual;
    return kBusTypeScsi;
}

bool LinuxPlatform::query_storage_property(const OpenDrive& drive, void* out,
                                           std::uint32_t out_size, std::uint32_t* returned) {
    const fs::path device = fs::path(sysfs_root_) / "block" / drive.name / "device";
    // Only a SCSI device's vendor attribute is the identification text; a virtio or PCI device
    // keeps a numeric vendor id ("0x1af4") there.
    std::error_code ec;
    const bool scsi = fs::exists(device / "scsi_level", ec);
    const std::string vendor = scsi ? read_attribute(device / "vendor") : std::string();
    const std::string model = read_attribute(device / "model");
    const std::size_t n = build_storage_descriptor(
        static_cast<std::uint8_t*>(out), out_size, vendor.empty() ? nullptr : vendor.c_str(),
        model.empty() ? nullptr : model.c_str(), bus_type_of(drive.name));
    if (n == 0) {
        last_error_ = EINVAL;
        return false;
    }
    if (returned != nullptr)
        *returned = static_cast<std::uint32_t>(n);
    return true;
}

PassThroughResult LinuxPlatform::pass_through(DriveHandle drive,
                                              const PassThroughRequest& request) {
    const OpenDrive* open = find(drive);
    const std::uint32_t refused =
        open == nullptr ? EBADF : refusal(request, PassThroughRefusals{EINVAL, EPERM});
    PassThroughResult result =
        refused != 0 ? failed_call(refused, std::strerror(static_cast<int>(refused)))
                     : run_sg_io(sg_io_, open->sg_fd >= 0 ? open->sg_fd : open->fd, request);
    if (!result.completed) {
        last_error_ = result.error;
    }
    return result;
}

bool LinuxPlatform::device_io_control(DriveHandle drive, std::uint32_t code, void* /*in*/,
                                      std::uint32_t /*in_size*/, void* out, std::uint32_t out_size,
                                      std::uint32_t* returned) {
    OpenDrive* open = find(drive);
    if (open == nullptr) {
        last_error_ = EBADF;
        return false;
    }
    if (code == kIoctlStorageQueryProperty) {
        return query_storage_property(*open, out, out_size, returned);
    }
    if (code == kIoctlDiskGetLengthInfo) {
        return query_length(*open, out, out_size, returned);
    }
    last_error_ = EINVAL;
    return false;
}

// The size attribute counts 512-byte sectors, whatever the disk's own block size.
bool LinuxPlatform::query_length(const OpenDrive& drive, void* out, std::uint32_t out_size,
                                 std::uint32_t* returned) {
    const std::string sectors =
        read_attribute(fs::path(sysfs_root_) / "block" / drive.name / "size");
    char* end = nullptr;
    const unsigned long long count = std::strtoull(sectors.c_str(), &end, 10);
    if (out == nullptr || out_size < kDiskLengthInfoSize || sectors.empty() || *end != '\0') {
        last_error_ = EINVAL;
        return false;
    }
    put_le64(static_cast<std::uint8_t*>(out), static_cast<std::uint64_t>(count) * 512);
    if (returned != nullptr)
        *returned = kDiskLengthInfoSize;
    return true;
}

DriveNames LinuxPlatform::drive_names(std::int32_t drive) {
    const std::vector<std::string> disks = list_disks();
    if (drive < 0 || static_cast<std::size_t>(drive) >= disks.size())
        return DriveNames{};  // no such disk: no name (the Windows one would mislead)
    const std::string& disk = disks[static_cast<std::size_t>(drive)];
    const std::string generic = scsi_generic_name(sysfs_root_, disk);
    return DriveNames{dev_root_ + "/" + disk, generic.empty() ? "" : dev_root_ + "/" + generic};
}

std::optional<UsbId> LinuxPlatform::usb_id(std::int32_t drive) {
    const std::vector<std::string> disks = list_disks();
    if (drive < 0 || static_cast<std::size_t>(drive) >= disks.size())
        return std::nullopt;
    std::error_code ec;
    const fs::path root = fs::canonical(fs::path(sysfs_root_), ec);
    if (ec)
        return std::nullopt;
    const fs::path device = fs::canonical(
        fs::path(sysfs_root_) / "block" / disks[static_cast<std::size_t>(drive)] / "device", ec);
    if (ec)
        return std::nullopt;
    return usb_id_from_sysfs(device.generic_string(), root.generic_string());
}

std::int32_t LinuxPlatform::find_drive(const char* os_path, bool& missing) {
    const std::int32_t number = Platform::find_drive(os_path, missing);
    if (number >= 0)
        return number;
    return disk_number_of_node(sysfs_root_, dev_root_, os_path, missing);
}

ErrorKind LinuxPlatform::error_kind(std::uint32_t error) const {
    switch (error) {
        case EACCES:
        case EPERM:
            return ErrorKind::access_denied;
        case ENOENT:
        case ENXIO:
        case ENODEV:
            return ErrorKind::not_found;
        default:
            return ErrorKind::other;
    }
}

std::intptr_t LinuxPlatform::shell_open(const char* file) {
    constexpr std::intptr_t kFileNotFound = 2;
    constexpr std::intptr_t kNoAssociation = 31;
    constexpr std::intptr_t kSuccess = 42;
    struct stat st {};
    if (::stat(file, &st) != 0)
        return kFileNotFound;
    char opener[] = "xdg-open";
    char* argv[] = {opener, const_cast<char*>(file), nullptr};
    // The opener gets the signals the tool ignores for itself back as their default.
    posix_spawnattr_t attributes;
    ::posix_spawnattr_init(&attributes);
    sigset_t defaults;
    ignored_signals(defaults);
    ::posix_spawnattr_setsigdefault(&attributes, &defaults);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    pid_t pid = 0;
    const int spawned = ::posix_spawnp(&pid, opener, nullptr, &attributes, argv, environ);
    ::posix_spawnattr_destroy(&attributes);
    if (spawned != 0) {
        return kNoAssociation;
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return kNoAssociation;
    }
    return kSuccess;
}

KeyState LinuxPlatform::wait_key(int timeout_ms) {
    if (!::isatty(STDIN_FILENO))
        return KeyState::closed;
    if (!raw_console_) {
        // Keys are read one at a time without echo, as a console's _getch reads them.
        termios saved{};
        if (::tcgetattr(STDIN_FILENO, &saved) != 0)
            return KeyState::closed;
        std::memcpy(saved_termios_, &saved, sizeof saved);
        remember_terminal_mode(STDIN_FILENO, saved);
        termios raw = saved;
        raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        ::tcsetattr(STDIN_FILENO, TCSANOW, &raw);
        raw_console_ = true;
    }
    pollfd pfd{STDIN_FILENO, POLLIN, 0};
    const int n = ::poll(&pfd, 1, timeout_ms);
    if (n < 0)
        return errno == EINTR ? KeyState::none : KeyState::closed;
    if (n == 0)
        return KeyState::none;
    if ((pfd.revents & POLLIN) != 0)
        return KeyState::pending;
    return KeyState::closed;
}

int LinuxPlatform::read_key() {
    unsigned char c = 0;
    if (::read(STDIN_FILENO, &c, 1) != 1)
        return -1;
    return c;
}

std::unique_ptr<Platform> make_host_platform() {
    return std::make_unique<LinuxPlatform>();
}

const char* host_platform_name() {
    return "Linux";
}

bool process_runs_privileged() {
    return ::geteuid() == 0;
}

// The magic numbers statfs gives for the kernel's own file systems. devtmpfs gives tmpfs's, so it
// cannot be told this way; its device nodes are refused for not being regular files.
const char* pseudo_file_system(const char* path) {
    struct Magic {
        unsigned long type;
        const char* name;
    };
    constexpr Magic kPseudo[] = {
        {0x9fa0, "proc"},         {0x62656572, "sysfs"},       {0x64626720, "debugfs"},
        {0x74726163, "tracefs"},  {0x73636673, "securityfs"},  {0x27e0eb, "cgroup"},
        {0x63677270, "cgroup2"},  {0xcafe4a11, "bpf"},         {0xde5e81e4, "efivarfs"},
        {0x62656570, "configfs"}, {0x42494e4d, "binfmt_misc"},
    };
    struct statfs fs {};
    if (::statfs(path, &fs) != 0)
        return nullptr;
    for (const Magic& magic : kPseudo) {
        if (static_cast<unsigned long>(fs.f_type) == magic.type)
            return magic.name;
    }
    return nullptr;
}

bool is_terminal(std::FILE* stream) {
    return ::isatty(::fileno(stream)) != 0;
}

bool terminal_shows_colour(std::FILE* stream) {
    return is_terminal(stream);
}

}  // namespace torvik
