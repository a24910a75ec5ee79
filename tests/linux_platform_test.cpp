// The Linux drive mapping and storage descriptor, on a fake sysfs tree.
#include <gtest/gtest.h>

#include <fcntl.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/exit_status.h"
#include "app/program.h"
#include "common/bytes.h"
#include "platform/linux_platform.h"
#include "platform/output_folder.h"
#include "platform/storage_descriptor.h"
#include "tests/support/scratch.h"

namespace torvik::testing {
namespace {

namespace fs = std::filesystem;

void write_text(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

// /sys/block/<name> -> ../devices/<device path>/block/<name>, with an optional device link and
// attributes; /dev/<name> as a plain file the platform can open.
void add_disk(const fs::path& root, const std::string& name, const std::string& device_path,
              bool has_device, const std::string& vendor, const std::string& model) {
    const fs::path real = root / "sys/devices" / device_path / "block" / name;
    fs::create_directories(real);
    if (has_device) {
        const fs::path dev = root / "sys/devices" / device_path;
        if (!vendor.empty())
            write_text(dev / "vendor", vendor + "\n");
        if (!model.empty())
            write_text(dev / "model", model + "\n");
        // SCSI devices (behind a "hostN") carry a scsi_level; virtio and NVMe ones do not.
        if (device_path.find("/host") != std::string::npos)
            write_text(dev / "scsi_level", "7\n");
        fs::create_directory_symlink(dev, real / "device");
    }
    fs::create_directories(root / "sys/block");
    fs::create_directory_symlink(real, root / "sys/block" / name);
    write_text(root / "dev" / name, "");
}

class FakeSysfs : public ::testing::Test {
  protected:
    void SetUp() override {
        const fs::path root = dir.path();
        add_disk(root, "sdb", "pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host3/target3:0:0/3:0:0:0",
                 true, "TORVIK  ", "PSSD SIM 2TB    ");
        add_disk(root, "sda", "pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0", true,
                 "ATA     ", "SIM SATA DISK   ");
        add_disk(root, "nvme0n1", "pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0/nvme0n1", true,
                 "", "SIM NVME DISK");
        add_disk(root, "loop0", "virtual/block/loop0", false, "", "");
        add_disk(root, "vda", "pci0000:00/0000:00:04.0/virtio1", true, "0x1af4", "");
        write_text(root / "os-release", "NAME=\"Debian\"\nPRETTY_NAME=\"Debian GNU/Linux 12\"\n");
    }

    LinuxPlatform platform() const {
        return LinuxPlatform((dir.path() / "sys").string(), (dir.path() / "dev").string(),
                             (dir.path() / "os-release").string());
    }

    ScratchDir dir;
};

struct Descriptor {
    bool ok = false;
    std::string vendor;
    std::string product;
    std::uint8_t bus = 0;
};

Descriptor query(LinuxPlatform& p, int drive) {
    const std::string path = "\\\\.\\PhysicalDrive" + std::to_string(drive);
    const DriveHandle h = p.open_drive(path.c_str(), 0);
    Descriptor d;
    if (h == kInvalidDriveHandle)
        return d;
    std::uint8_t buf[4096] = {};
    std::uint8_t query[12] = {};
    std::uint32_t returned = 0;
    d.ok =
        p.device_io_control(h, kIoctlStorageQueryProperty, query, 12, buf, sizeof buf, &returned);
    p.close_drive(h);
    auto text = [&](std::size_t field) {
        const std::uint32_t off = get_le32(buf + field);
        return off == 0 ? std::string() : std::string(reinterpret_cast<char*>(buf + off));
    };
    d.vendor = text(kDescVendorIdOffset);
    d.product = text(kDescProductIdOffset);
    d.bus = buf[kDescBusType];
    return d;
}

TEST_F(FakeSysfs, WholeDisksInNaturalOrderWithTheirBus) {
    LinuxPlatform p = platform();
    EXPECT_EQ(p.list_disks(), (std::vector<std::string>{"sda", "sdb", "vda", "nvme0n1"}));
    const Descriptor sata = query(p, 0);
    EXPECT_TRUE(sata.ok);
    EXPECT_EQ(sata.vendor, "ATA     ");
    EXPECT_EQ(sata.bus, kBusTypeSata);
    const Descriptor usb = query(p, 1);
    EXPECT_EQ(usb.vendor, "TORVIK  ");
    EXPECT_EQ(usb.product, "PSSD SIM 2TB    ");  // spaces kept
    EXPECT_EQ(usb.bus, kBusTypeUsb);
    const Descriptor virtio = query(p, 2);
    EXPECT_TRUE(virtio.ok);
    EXPECT_EQ(virtio.vendor, "");  // its vendor attribute is a PCI id, not a text
    EXPECT_EQ(virtio.product, "");
    EXPECT_EQ(virtio.bus, kBusTypeVirtual);
    const Descriptor nvme = query(p, 3);
    EXPECT_EQ(nvme.vendor, "");
    EXPECT_EQ(nvme.product, "SIM NVME DISK");
    EXPECT_EQ(nvme.bus, kBusTypeNvme);
    EXPECT_FALSE(query(p, 4).ok);  // the loop device is not a drive
    EXPECT_EQ(p.last_error(), 2u);
}

// The names --list shows and --device takes: block node, SCSI generic node, links to either.
// The USB disk's bridge is the USB device above its device directory; other disks have none.
TEST_F(FakeSysfs, UsbIdOfTheBridgeAboveTheDisk) {
    const fs::path usb = dir.path() / "sys/devices/pci0000:00/0000:00:14.0/usb2/2-1";
    write_text(usb / "idVendor", "152d\n");
    write_text(usb / "idProduct", "0583\n");
    LinuxPlatform p = platform();
    // Natural order: nvme0n1, sda, sdb, vda (loop0 is no whole disk).
    const std::vector<std::string> disks = p.list_disks();
    for (std::size_t i = 0; i < disks.size(); ++i) {
        const std::optional<UsbId> id = p.usb_id(static_cast<std::int32_t>(i));
        if (disks[i] == "sdb")
            EXPECT_EQ(id, (UsbId{0x152D, 0x0583}));
        else
            EXPECT_EQ(id, std::nullopt) << disks[i];
    }
    EXPECT_EQ(p.usb_id(static_cast<std::int32_t>(disks.size())), std::nullopt);
}

TEST_F(FakeSysfs, DevicePathsNameTheirDriveNumber) {
    const fs::path root = dir.path();
    fs::create_directories(root / "sys/block/sdb/device/scsi_generic/sg1");
    write_text(root / "dev/sg1", "");
    write_text(root / "dev/sdb1", "");  // a partition: not a whole disk
    write_text(root / "elsewhere/sdb", "");
    write_text(root / "sys/block/sdb/size", "1953525168\n");
    fs::create_directories(root / "dev/disk/by-id");
    fs::create_symlink("../../sdb", root / "dev/disk/by-id/usb-Test_Disk-0:0");
    LinuxPlatform p = platform();
    const std::string dev = (root / "dev").string();

    EXPECT_EQ(p.drive_names(0).path, dev + "/sda");
    EXPECT_EQ(p.drive_names(0).generic_path, "");
    EXPECT_EQ(p.drive_names(1).path, dev + "/sdb");
    EXPECT_EQ(p.drive_names(1).generic_path, dev + "/sg1");

    struct Case {
        std::string path;
        std::int32_t drive;
        bool missing;
    } cases[] = {
        {dev + "/sdb", 1, false},
        {dev + "/sg1", 1, false},
        {dev + "/disk/by-id/usb-Test_Disk-0:0", 1, false},
        {dev + "/nvme0n1", 3, false},
        {"\\\\.\\PhysicalDrive2", 2, false},
        {dev + "/sdb1", -1, false},
        {(root / "elsewhere/sdb").string(), -1, false},  // the right name outside the device folder
        {dev + "/sdq", -1, true},
    };
    for (const Case& c : cases) {
        bool missing = !c.missing;
        EXPECT_EQ(p.find_drive(c.path.c_str(), missing), c.drive) << c.path;
        EXPECT_EQ(missing, c.missing) << c.path;
    }

    // The size counts 512-byte sectors; a disk without the attribute has none.
    std::uint8_t length[8] = {};
    std::uint32_t returned = 0;
    const DriveHandle usb = p.open_drive("\\\\.\\PhysicalDrive1", 0);
    ASSERT_NE(usb, kInvalidDriveHandle);
    EXPECT_TRUE(
        p.device_io_control(usb, kIoctlDiskGetLengthInfo, nullptr, 0, length, 8, &returned));
    EXPECT_EQ(get_le64(length), 1953525168ull * 512);
    EXPECT_EQ(returned, 8u);
    p.close_drive(usb);
    const DriveHandle sata = p.open_drive("\\\\.\\PhysicalDrive0", 0);
    EXPECT_FALSE(
        p.device_io_control(sata, kIoctlDiskGetLengthInfo, nullptr, 0, length, 8, &returned));
    p.close_drive(sata);

    EXPECT_EQ(p.error_kind(EACCES), ErrorKind::access_denied);
    EXPECT_EQ(p.error_kind(ENOENT), ErrorKind::not_found);
    EXPECT_EQ(p.error_kind(EIO), ErrorKind::other);
}

// The access mode, non-blocking and close-on-exec flags of every descriptor this process holds on
// `node`, read from /proc/self/fdinfo ("flags:" in octal).
std::vector<int> open_flags_of(const fs::path& node) {
    std::vector<int> flags;
    std::error_code ec;
    for (const fs::directory_entry& fd : fs::directory_iterator("/proc/self/fd", ec)) {
        if (fs::read_symlink(fd.path(), ec) != node)
            continue;
        std::ifstream info("/proc/self/fdinfo/" + fd.path().filename().string());
        std::string key;
        std::string value;
        while (info >> key >> value) {
            if (key == "flags:")
                flags.push_back(static_cast<int>(std::stoul(value, nullptr, 8) &
                                                 (O_ACCMODE | O_NONBLOCK | O_CLOEXEC)));
        }
    }
    return flags;
}

// The listing and the bus query (no flags) and the examined drive (the report's flags) open the
// block node and the SCSI generic node read-only and non-blocking: an empty card reader or a node
// another program holds exclusively must not stop the run.
TEST_F(FakeSysfs, DiskNodesOpenReadOnly) {
    const fs::path dev = fs::canonical(dir.path() / "dev");
    fs::create_directories(dir.path() / "sys/block/sdb/device/scsi_generic/sg1");
    write_text(dev / "sg1", "");
    for (const std::uint32_t flags : {kQueryOpenFlags, kDiskOpenFlags}) {
        LinuxPlatform p = platform();
        const DriveHandle h = p.open_drive("\\\\.\\PhysicalDrive1", flags);
        ASSERT_NE(h, kInvalidDriveHandle);
        const std::vector<int> read_only{O_RDONLY | O_NONBLOCK | O_CLOEXEC};
        EXPECT_EQ(open_flags_of(dev / "sdb"), read_only) << "flags " << flags;
        EXPECT_EQ(open_flags_of(dev / "sg1"), read_only) << "flags " << flags;
        p.close_drive(h);
        EXPECT_TRUE(open_flags_of(dev / "sdb").empty());
        EXPECT_TRUE(open_flags_of(dev / "sg1").empty());
    }
}

// An ordinary user: the kernel refuses every disk node, and the tool does not run as root.
class UnprivilegedLinux : public LinuxPlatform {
  public:
    using LinuxPlatform::LinuxPlatform;
    bool runs_privileged() const override { return false; }
};

// The first mistakes on a real Linux host, run whole: a disk that exists opened without root, a
// drive number with no disk, a pass over every disk without root. The verdict's reason and the
// metrics say the cause; a missing drive has no name (never the Windows one) on standard error
// nor in the metrics' path.
TEST_F(FakeSysfs, ACauseTheUserCanActOnInTheVerdictAndTheMetrics) {
    const struct {
        const char* drive;
        bool json;  // --json=-: standard output holds the document, the lines go to stderr
        int status;
        const char* out;     // in standard output (the console line, then the verdict block)
        const char* err;     // in standard error
        std::string sample;  // in the metrics file
    } cases[] = {
        {"1y", false, kExitOpenFailed,
         "Drive interface is not USB, exit!\nHealth: UNKNOWN\n"
         "Summary: the drive was not examined\n"
         "  unknown The drive was not examined: permission denied: run as root [the run]\n",
         "cannot open drive 1 (DEV/sdb): permission denied; run as root",
         "torvik_pssd_run_success{path=\"DEV/sdb\"} 0\n"},
        {"1y", true, kExitOpenFailed,
         "\"text\": \"The drive was not examined: permission denied: run as root\"",
         "cannot open drive 1 (DEV/sdb): permission denied; run as root",
         "torvik_pssd_run_success{path=\"DEV/sdb\"} 0\n"},
        {"7y", false, kExitBadDrive, "The drive was not examined: there is no such drive [the run]",
         "there is no drive 7; no drive could be opened: permission denied; run as root",
         "torvik_pssd_run_success{path=\"\"} 0\n"},
        // A pass over the disks it may not open: no access, not an empty USB bus.
        {"--all", false, kExitOpenFailed,
         "OS: ", "no drive could be opened: permission denied; run as root",
         "torvik_pssd_scan_drives 0\n# HELP torvik_pssd_scan_timestamp_seconds"},
        {"--all", false, kExitOpenFailed, "OS: ", "among those that could be opened: nothing",
         "\ntorvik_pssd_scan_error{cause=\"no_access\"} 1\n"},
    };
    const std::string dev = (dir.path() / "dev").string();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.drive);
        UnprivilegedLinux host((dir.path() / "sys").string(), dev,
                               (dir.path() / "os-release").string());
        host.set_open_node([](const char*, int) {
            errno = EACCES;
            return -1;
        });
        const OutputFolderOpener folders = [](const std::string& folder, std::string& error) {
            return open_output_folder(folder, error, OutputFolderOptions{false});
        };
        std::vector<const char*> args = {"torvik_usb_pssd_flash_id", "--health", "--metrics",
                                         "t.prom", c.drive};
        if (c.json)
            args.insert(args.begin() + 1, "--json=-");
        Capture out;
        Capture err;
        std::FILE* in = input_from("");
        const int status = run_program(static_cast<int>(args.size()), args.data(), host, folders,
                                       Console{out.file(), err.file(), in});
        std::fclose(in);
        auto with_dev = [&](std::string text) {
            for (std::size_t at = text.find("DEV"); at != std::string::npos; at = text.find("DEV"))
                text.replace(at, 3, dev);
            return text;
        };
        EXPECT_EQ(status, c.status);
        EXPECT_NE(out.text().find(c.out), std::string::npos) << out.text();
        EXPECT_NE(err.text().find(with_dev(c.err)), std::string::npos) << err.text();
        EXPECT_EQ(err.text().find("PhysicalDrive"), std::string::npos) << err.text();
        EXPECT_NE(dir.read("t.prom").find(with_dev(c.sample)), std::string::npos)
            << dir.read("t.prom");
    }
}

TEST_F(FakeSysfs, OsLineFromUnameAndOsRelease) {
    LinuxPlatform p = platform();
    OsVersion os;
    ASSERT_TRUE(p.get_version(os));
    EXPECT_GT(os.major, 0);
    EXPECT_STREQ(os.service_pack, "Debian GNU/Linux 12");
}

TEST_F(FakeSysfs, ShellReportsMissingFile) {
    LinuxPlatform p = platform();
    EXPECT_EQ(p.shell_open("no_such_report.txt"), 2);
}

TEST(NaturalNameOrder, LettersByLengthNumbersByValue) {
    std::vector<std::string> names = {"sdaa",    "nvme10n1", "sdz",  "sda",    "nvme2n1",
                                      "nvme0n1", "vda",      "sdab", "mmcblk0"};
    std::sort(names.begin(), names.end(), natural_name_less);
    EXPECT_EQ(names, (std::vector<std::string>{"sda", "sdz", "sdaa", "sdab", "vda", "nvme0n1",
                                               "nvme2n1", "nvme10n1", "mmcblk0"}));
}

}  // namespace
}  // namespace torvik::testing
