// The Windows platform itself: the Win32 calls behind the seam, on the machine the tests run on
// (Windows, or Wine under CTest).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/bytes.h"
#include "platform/host_platform.h"
#include "platform/output_file.h"
#include "platform/output_folder.h"
#include "platform/storage_descriptor.h"
#include "tests/support/scratch.h"

namespace torvik::testing {
namespace {

constexpr std::uint32_t kErrorPathNotFound = 3;
constexpr std::uint32_t kErrorInsufficientBuffer = 122;
constexpr std::intptr_t kShellFileNotFound = 2;

// A request that does not only read is refused before the OS sees it: on a handle that is not
// open the OS would answer ERROR_INVALID_HANDLE; the rule answers ERROR_ACCESS_DENIED first, and
// a malformed request ERROR_INVALID_PARAMETER.
TEST(WindowsPlatform, OnlyReadsReachTheOs) {
    std::unique_ptr<Platform> platform = make_host_platform();
    std::vector<std::uint8_t> data(512, 0);
    PassThroughRequest read;
    read.cdb = {0x12, 0, 0, 0, 56};
    read.cdb_length = 6;
    read.direction = DataDirection::in;
    read.data = data.data();
    read.transfer_length = 56;
    read.timeout_seconds = 2;
    PassThroughRequest write10 = read;
    write10.cdb = {0x2A};
    write10.cdb_length = 10;
    PassThroughRequest no_cdb = read;
    no_cdb.cdb_length = 0;
    const std::pair<const PassThroughRequest*, std::uint32_t> cases[] = {
        {&write10, kErrorAccessDenied},
        {&no_cdb, kErrorInvalidParameter},
        {&read, kErrorInvalidHandle},
    };
    for (const auto& [request, error] : cases) {
        const PassThroughResult result = platform->pass_through(kInvalidDriveHandle, *request);
        EXPECT_FALSE(result.completed);
        EXPECT_EQ(result.error, error);
        EXPECT_FALSE(result.error_text.empty());
        EXPECT_EQ(platform->last_error(), error);
    }
}

TEST(WindowsPlatform, IsTheHostPlatform) {
    EXPECT_STREQ(host_platform_name(), "Windows");
}

TEST(WindowsPlatform, VersionQueryUsesTheGivenRecordSize) {
    struct Case {
        std::uint32_t record_size;
        bool ok;
    } cases[] = {
        {kOsVersionExSize, true},
        {kOsVersionSize, true},
        {100, false},  // neither record: the call refuses it
        {0, false},
    };
    std::unique_ptr<Platform> platform = make_host_platform();
    OsVersion first;
    first.record_size = kOsVersionExSize;
    ASSERT_TRUE(platform->get_version(first));
    EXPECT_GE(first.major, 5);
    for (const Case& c : cases) {
        OsVersion os;
        os.record_size = c.record_size;
        EXPECT_EQ(platform->get_version(os), c.ok) << c.record_size;
        if (c.ok) {
            // Both records carry the same version and service-pack text.
            EXPECT_EQ(os.major, first.major) << c.record_size;
            EXPECT_EQ(os.minor, first.minor) << c.record_size;
            EXPECT_EQ(os.build, first.build) << c.record_size;
            EXPECT_STREQ(os.service_pack, first.service_pack) << c.record_size;
        } else {
            EXPECT_EQ(platform->last_error(), kErrorInsufficientBuffer) << c.record_size;
            EXPECT_EQ(os.major, 0) << c.record_size;
        }
    }
}

TEST(WindowsPlatform, MissingDevicesAreNotFound) {
    std::unique_ptr<Platform> platform = make_host_platform();
    for (const char* path : {"\\\\.\\PhysicalDrive98", "\\\\.\\NoSuchTorvikDevice"}) {
        for (const std::uint32_t flags : {kQueryOpenFlags, kDiskOpenFlags}) {
            EXPECT_EQ(platform->open_drive(path, flags), kInvalidDriveHandle) << path;
            EXPECT_EQ(platform->last_error(), kErrorFileNotFound) << path;
        }
    }
}

TEST(WindowsPlatform, FirstDriveAnswersTheStorageQuery) {
    std::unique_ptr<Platform> platform = make_host_platform();
    const DriveHandle drive = platform->open_drive("\\\\.\\PhysicalDrive0", kQueryOpenFlags);
    if (drive == kInvalidDriveHandle) {
        GTEST_SKIP() << "drive 0 cannot be opened (error " << platform->last_error()
                     << "); raw disk access needs an administrator";
    }
    std::uint8_t query[kPropertyQuerySize] = {};
    std::uint8_t descriptor[4096] = {};
    std::uint32_t returned = 0;
    const bool ok =
        platform->device_io_control(drive, kIoctlStorageQueryProperty, query, sizeof query,
                                    descriptor, sizeof descriptor, &returned);
    platform->close_drive(drive);
    ASSERT_TRUE(ok) << platform->last_error();
    EXPECT_GE(returned, kDescHeaderSize);
    EXPECT_EQ(get_le32(descriptor + kDescVersion), kDescHeaderSize);
    EXPECT_GE(get_le32(descriptor + kDescSize), kDescHeaderSize);
    EXPECT_NE(descriptor[kDescBusType], 0);
}

std::unique_ptr<FileStore> current_folder() {
    std::string error;
    return open_output_folder("", error);
}

TEST(WindowsPlatform, TextFilesEndLinesWithCrLfDumpsStayExact) {
    ScratchDir dir;
    std::unique_ptr<FileStore> platform = current_folder();
    const std::string bytes("a\nb\r\n\x1a\0c\n", 9);
    struct Case {
        const char* name;
        FileKind kind;
        std::string expected;
    } cases[] = {
        {"report.txt", FileKind::text, std::string("a\r\nb\r\r\n\x1a\0c\r\n", 12)},
        {"reply.bin", FileKind::binary, bytes},
    };
    for (const Case& c : cases) {
        // Written twice: the second file replaces the first.
        for (int pass = 0; pass < 2; ++pass) {
            OutputFile file(*platform, c.name, c.kind);
            ASSERT_TRUE(file.created()) << c.name;
            file.write(bytes.data(), bytes.size());
            EXPECT_EQ(file.commit().outcome, FileOutcome::written) << c.name;
        }
        EXPECT_EQ(dir.read(c.name), c.expected) << c.name;
    }
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        files += entry.is_regular_file() ? 1 : 0;
    EXPECT_EQ(files, 2u);  // no temporary left
}

TEST(WindowsPlatform, FileInMissingFolderReportsTheWindowsError) {
    ScratchDir dir;
    std::unique_ptr<FileStore> platform = current_folder();
    OutputFile file(*platform, "no_such_folder\\report.txt", FileKind::text);
    EXPECT_FALSE(file.created());
    EXPECT_EQ(file.commit().error, kErrorPathNotFound);
    std::filesystem::create_directory("folder");
    OutputFile directory(*platform, "folder", FileKind::text);
    EXPECT_EQ(directory.commit().outcome, FileOutcome::not_created);
    EXPECT_TRUE(std::filesystem::is_directory("folder"));
}

// The output folder: made as the path names it, opened once and kept open, never a reparse
// point, and locked against a second run (from another thread here: the lock is a mutex, which
// its own thread could take twice).
TEST(WindowsPlatform, OutputFolderIsOpenedOnceAndLocked) {
    ScratchDir dir;
    std::filesystem::create_directory("target");
    std::ofstream("plain") << "kept";
    std::error_code ec;
    std::filesystem::create_directory_symlink("target", "link", ec);
    const struct Case {
        const char* dir;
        const char* refusal;  // nullptr: opened, and a file written there lands in written_to
        const char* written_to;
    } cases[] = {
        {"a\\..\\b", nullptr, "b"},
        {"new\\deeper\\", nullptr, "new\\deeper"},
        {"target/.", nullptr, "target"},
        {"plain", "exists and is not a directory", nullptr},
        {"link\\", "is a symbolic link or junction", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dir);
        if (std::string(c.dir).starts_with("link") && ec)
            continue;  // the system made no link to refuse
        std::string error;
        const std::unique_ptr<FileStore> store = open_output_folder(c.dir, error);
        if (c.refusal != nullptr) {
            EXPECT_EQ(store, nullptr);
            EXPECT_EQ(error, std::string("--output-dir ") + c.dir + ": " + c.refusal);
            continue;
        }
        ASSERT_NE(store, nullptr) << error;
        OutputFile file(*store, "report.txt", FileKind::text);
        file.print("text\n");
        EXPECT_EQ(file.commit().outcome, FileOutcome::written);
        EXPECT_EQ(dir.read(std::string(c.written_to) + "\\report.txt"), "text\r\n");
    }
    EXPECT_FALSE(std::filesystem::exists("a"));

    std::string error;
    const std::unique_ptr<FileStore> first = open_output_folder("target", error);
    const std::unique_ptr<FileStore> second = open_output_folder("target\\", error);
    ASSERT_TRUE(first != nullptr && second != nullptr);
    ASSERT_TRUE(first->lock_folder(0));
    bool second_locked = true;
    std::thread([&] { second_locked = second->lock_folder(100); }).join();
    EXPECT_FALSE(second_locked);
    first->unlock_folder();
    std::thread([&] {
        second_locked = second->lock_folder(100);
        second->unlock_folder();
    }).join();
    EXPECT_TRUE(second_locked);
}

TEST(WindowsPlatform, ShellReportsMissingFile) {
    ScratchDir dir;
    std::unique_ptr<Platform> platform = make_host_platform();
    EXPECT_EQ(platform->shell_open("torvik_usb_pssd_flash_id.txt"), kShellFileNotFound);
}

}  // namespace
}  // namespace torvik::testing
