// The command line and the drive prompt: the extension parser, the drive argument, and whole runs
// of the program on a scripted host whose typed answer comes from the input.
//
// Input: a byte giving the number of arguments (byte % 6), the arguments each ended by a NUL
// byte, then the text typed at the prompt (or read by --decode -).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <system_error>
#include <vector>

#include "app/command_line.h"
#include "app/drive_argument.h"
#include "app/exit_status.h"
#include "app/program.h"
#include "fuzz/fuzz_support.h"
#include "platform/drive_path.h"
#include "platform/host_platform.h"
#include "sim/profiles.h"
#include "sim/several_drives.h"
#include "tests/support/fake_platform.h"

namespace {

using torvik::fuzz::InputReader;

constexpr int kMaxArguments = 5;
constexpr std::size_t kAnswerCharacters = 127;

// The drive argument as strtol reads it, clamped to 32 bits, and whether it holds a y.
torvik::DriveArgument expected_argument(const char* text) {
    long long value = std::strtoll(text, nullptr, 10);
    value = std::max<long long>(value, std::numeric_limits<std::int32_t>::min());
    value = std::min<long long>(value, std::numeric_limits<std::int32_t>::max());
    torvik::DriveArgument arg;
    arg.drive = static_cast<std::int32_t>(value);
    arg.no_requests = std::strpbrk(text, "yY") != nullptr;
    return arg;
}

void check_argument(const char* text) {
    const torvik::DriveArgument got = torvik::parse_drive_argument(text);
    const torvik::DriveArgument want = expected_argument(text);
    FUZZ_CHECK(got.drive == want.drive);
    FUZZ_CHECK(got.no_requests == want.no_requests);
}

// The answer the prompt reads: the first line, its first 127 characters, a CR before the line
// end dropped. Empty optional at end of input.
bool typed_answer(const std::string& typed, std::string& answer) {
    if (typed.empty())
        return false;
    answer = typed.substr(0, typed.find('\n')).substr(0, kAnswerCharacters);
    if (!answer.empty() && answer.back() == '\r')
        answer.pop_back();
    answer = answer.c_str();  // the text ends at a NUL byte
    return true;
}

// Whether every profile --sim names is known ("hot,default" names two).
bool profiles_known(const std::string& text) {
    for (const std::string& name : torvik::profile_list(text)) {
        if (torvik::find_sim_profile(name) == nullptr)
            return false;
    }
    return true;
}

// The drive number of "/dev/sdX" (sda 0, sdz 25, sdaa 26), as the simulated drives are named on
// Linux; false for any other text.
bool sd_drive_number(const std::string& path, std::size_t& index) {
    if (std::strcmp(torvik::host_platform_name(), "Linux") != 0 || path.rfind("/dev/sd", 0) != 0 ||
        path.size() == 7 || path.size() > 12)
        return false;
    std::size_t n = 0;
    for (const char c : path.substr(7)) {
        if (c < 'a' || c > 'z')
            return false;
        n = n * 26 + static_cast<std::size_t>(c - 'a' + 1);
    }
    index = n - 1;
    return true;
}

// The exit status of a run whose drive 0 is a USB drive that opens, on the scripted host drive 1
// a SATA drive and drive 2 a USB drive that does not open, and no other drive. Several simulated
// drives (sims of them) have a SATA system disk as drive 0 and USB drives 1..sims.
int expected_run_status(const torvik::CommandLine& cl, const std::string& typed, bool host,
                        std::size_t sims = 0) {
    const char* first_arg = cl.first_arg;
    std::int32_t drive = 0;
    if (!cl.device.empty()) {
        std::size_t index = 0;
        // A simulated drive may also be named as the host names it.
        const bool sim_name = !host && sd_drive_number(cl.device, index);
        if (!sim_name && !torvik::parse_drive_number(cl.device.c_str(), index))
            return torvik::kExitBadDrive;
        drive = static_cast<std::int32_t>(index);
    } else if (first_arg != nullptr) {
        drive = expected_argument(first_arg).drive;
    } else {
        std::string answer;
        if (!typed_answer(typed, answer))
            return torvik::kExitBadDrive;
        drive = expected_argument(answer.c_str()).drive;
        if (drive < 0 || drive > 99)
            return torvik::kExitBadDrive;
    }
    if (sims > 0)
        return drive == 0                                             ? torvik::kExitNotUsb
               : drive > 0 && static_cast<std::size_t>(drive) <= sims ? torvik::kExitOk
                                                                      : torvik::kExitBadDrive;
    if (drive == 0)
        return torvik::kExitOk;
    if (drive == 1 && host)
        return torvik::kExitNotUsb;
    if (drive == 2 && host)
        return torvik::kExitOpenFailed;
    return torvik::kExitBadDrive;
}

// With --health a run that examined the drive ends with its verdict in place of 0; a refused run
// keeps its own status.
bool run_status_fits(int status, int expected, bool health) {
    if (health && expected == torvik::kExitOk) {
        return status == torvik::kExitOk || status == torvik::kExitHealthWarning ||
               status == torvik::kExitHealthFailed || status == torvik::kExitHealthUnknown;
    }
    return status == expected;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    torvik::fuzz::work_dir();
    InputReader in(data, size);
    const int count = in.byte() % (kMaxArguments + 1);
    std::vector<std::string> args = {"torvik_usb_pssd_flash_id"};
    for (int i = 0; i < count; ++i) {
        std::string arg;
        while (!in.empty()) {
            const char c = static_cast<char>(in.byte());
            if (c == '\0')
                break;
            arg.push_back(c);
        }
        args.push_back(arg);
    }
    const std::string typed = in.rest();
    std::vector<const char*> argv;
    for (const std::string& arg : args)
        argv.push_back(arg.c_str());
    argv.push_back(nullptr);
    const int argc = static_cast<int>(args.size());

    const torvik::CommandLine cl = torvik::parse_command_line(argc, argv.data());
    FUZZ_CHECK((cl.mode == torvik::Mode::error) == !cl.message.empty());
    if (cl.mode == torvik::Mode::run) {
        // The drive argument is one of the arguments, and no option unless "--" came first.
        const auto first = std::find(argv.begin() + 1, argv.end() - 1, cl.first_arg);
        FUZZ_CHECK(cl.first_arg == nullptr || first != argv.end() - 1);
        FUZZ_CHECK(cl.first_arg == nullptr || std::strncmp(cl.first_arg, "--", 2) != 0 ||
                   std::find_if(argv.begin() + 1, first,
                                [](const char* a) { return std::strcmp(a, "--") == 0; }) != first);
        FUZZ_CHECK(!(cl.sim && cl.replay));
    }
    // A made-up output directory could be anywhere: the run itself is left to the unit tests.
    if (!cl.output_dir.empty())
        return 0;
    for (int i = 1; i < argc; ++i)
        check_argument(argv[i]);

    torvik::testing::FakePlatform host;
    host.drives[0] = torvik::testing::FakeDrive{};
    host.drives[1] = torvik::testing::FakeDrive{"ATA     ", "SATA disk", 11};
    host.drives[2] = torvik::testing::FakeDrive{};
    host.drives[2].disk_open_fails = true;
    std::FILE* out = std::tmpfile();
    std::FILE* input = std::tmpfile();
    FUZZ_CHECK(out != nullptr && input != nullptr);
    std::fwrite(typed.data(), 1, typed.size(), input);
    std::rewind(input);
    const int status =
        torvik::run_program(argc, argv.data(), host, torvik::testing::fake_folders(host),
                            torvik::Console{out, out, input});
    std::fclose(input);
    std::fclose(out);
    FUZZ_CHECK(host.open_handles == 0);

    switch (cl.mode) {
        case torvik::Mode::help:
        case torvik::Mode::version:
        case torvik::Mode::sim_list:
        case torvik::Mode::list:
            FUZZ_CHECK(status == torvik::kExitOk);
            break;
        case torvik::Mode::error:
            FUZZ_CHECK(status == torvik::kExitUsage);
            break;
        case torvik::Mode::decode:
            FUZZ_CHECK(status == torvik::kExitOk || status == torvik::kExitUsage);
            break;
        case torvik::Mode::run:
            if (cl.asks(torvik::OutputId::all_summary)) {
                // Every USB drive, each into a folder the scripted current folder cannot hold.
                const int statuses[] = {torvik::kExitOk,
                                        torvik::kExitUsage,
                                        torvik::kExitNotUsb,
                                        torvik::kExitOpenFailed,
                                        torvik::kExitFilesIncomplete,
                                        torvik::kExitHealthWarning,
                                        torvik::kExitHealthFailed,
                                        torvik::kExitHealthUnknown};
                FUZZ_CHECK(std::find(std::begin(statuses), std::end(statuses), status) !=
                           std::end(statuses));
            } else if (cl.replay) {
                std::error_code ec;
                if (!std::filesystem::is_directory(cl.replay_dir, ec)) {
                    FUZZ_CHECK(status == torvik::kExitUsage);
                } else {
                    FUZZ_CHECK(run_status_fits(status, expected_run_status(cl, typed, false),
                                               cl.asks(torvik::OutputId::health)));
                }
            } else if (cl.sim) {
                const std::string name = cl.sim_profile.empty() ? "default" : cl.sim_profile;
                const std::size_t sims =
                    torvik::names_several_drives(name) ? torvik::profile_list(name).size() : 0;
                if (!profiles_known(name)) {
                    FUZZ_CHECK(status == torvik::kExitUsage);
                } else {
                    FUZZ_CHECK(run_status_fits(status, expected_run_status(cl, typed, false, sims),
                                               cl.asks(torvik::OutputId::health)));
                }
            } else {
                FUZZ_CHECK(run_status_fits(status, expected_run_status(cl, typed, true),
                                           cl.asks(torvik::OutputId::health)));
            }
            break;
    }
    return 0;
}
