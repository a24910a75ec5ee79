// The replay loader: which files answer, how their lengths are taken, and what is refused.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sim/replay.h"
#include "tests/support/scratch.h"
#include "transport/commands.h"

namespace torvik::testing {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

void write_bytes(const fs::path& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

Bytes numbered(std::size_t n) {
    Bytes bytes(n);
    for (std::size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7 + 1);
    return bytes;
}

std::size_t index_of(CommandId id) {
    return static_cast<std::size_t>(id);
}

TEST(Replay, EachDumpAnswersItsCommand) {
    ScratchDir dir;
    const std::uint32_t fid_length = command_info(CommandId::read_fid).length;
    write_bytes(command_info(CommandId::read_fid).dump_name, numbered(fid_length + 100));
    write_bytes(command_info(CommandId::smart).dump_name, numbered(10));
    write_bytes(command_info(CommandId::id).dump_name, {});
    fs::create_directory(command_info(CommandId::sysinfo).dump_name);
    Bytes inquiry(56, 0);
    const std::string texts("TORVIK\0\0PSSD T7 4TB", 19);
    std::copy(texts.begin(), texts.end(), inquiry.begin() + 8);
    write_bytes(command_info(CommandId::inquiry).dump_name, inquiry);

    SimProfileData data;
    std::string error;
    ASSERT_TRUE(load_replay(dir.path().string(), data, error)) << error;
    // A longer file is cut to the command's length; a shorter or empty one is what the drive sent.
    EXPECT_EQ(data.replies[index_of(CommandId::read_fid)], numbered(fid_length));
    EXPECT_EQ(data.replies[index_of(CommandId::smart)], numbered(10));
    EXPECT_TRUE(data.replies[index_of(CommandId::id)].empty());
    EXPECT_EQ(data.faults[index_of(CommandId::id)].kind, FaultKind::none);
    // Missing, or not a file: the command fails with "file not found".
    for (CommandId id :
         {CommandId::sysinfo, CommandId::read_capacity10, CommandId::nvme_smart_log}) {
        const Fault& fault = data.faults[index_of(id)];
        EXPECT_EQ(fault.kind, FaultKind::platform_error) << command_info(id).dump_name;
        EXPECT_EQ(fault.error_code, kReplayMissingFileError) << command_info(id).dump_name;
    }
    EXPECT_EQ(data.vendor, "TORVIK");
    EXPECT_EQ(data.product, "PSSD T7 4TB");
}

TEST(Replay, ADirectoryThatIsNotThereIsRefused) {
    ScratchDir dir;
    write_bytes("plain", {1, 2, 3});
    for (const char* name : {"missing", "plain"}) {
        SimProfileData data;
        std::string error;
        EXPECT_FALSE(load_replay((dir.path() / name).string(), data, error)) << name;
        EXPECT_NE(error.find(name), std::string::npos) << error;
    }
}

// A named pipe under a dump name would block the open until something writes to it; it counts
// as a missing file instead.
TEST(Replay, ANamedPipeIsNotWaitedFor) {
    ScratchDir dir;
    const std::string pipe = command_info(CommandId::read_info).dump_name;
    if (std::system(("mkfifo " + pipe + " 2>/dev/null").c_str()) != 0 ||
        fs::status(pipe).type() != fs::file_type::fifo) {
        GTEST_SKIP() << "no mkfifo here";
    }
    SimProfileData data;
    std::string error;
    ASSERT_TRUE(load_replay(dir.path().string(), data, error)) << error;
    EXPECT_EQ(data.faults[index_of(CommandId::read_info)].kind, FaultKind::platform_error);
}

}  // namespace
}  // namespace torvik::testing
