// The command line: options anywhere, their values, the drive argument, and bad options.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/command_line.h"

namespace torvik::testing {
namespace {

CommandLine parse(std::vector<const char*> args) {
    args.insert(args.begin(), "torvik_usb_pssd_flash_id");
    return parse_command_line(static_cast<int>(args.size()), args.data());
}

std::string joined(const std::vector<const char*>& args) {
    std::string text;
    for (const char* arg : args)
        text += std::string(text.empty() ? "" : " ") + arg;
    return text;
}

TEST(CommandLine, OptionsAnywhereAndTheFirstOtherArgument) {
    struct Case {
        std::vector<const char*> args;
        Mode mode;
        const char* first;  // the drive argument; nullptr: the prompt
        const char* sim;    // the profile, or nullptr without --sim
        const char* replay_dir;
        bool json;
        const char* device;
        const char* output_dir;
    } cases[] = {
        {{}, Mode::run, nullptr, nullptr, "", false, "", ""},
        {{"3y"}, Mode::run, "3y", nullptr, "", false, "", ""},
        {{"3", "y"}, Mode::run, "3", nullptr, "", false, "", ""},  // later arguments ignored
        {{"--sim", "y3"}, Mode::run, "y3", "", "", false, "", ""},
        {{"--sim=large", "150"}, Mode::run, "150", "large", "", false, "", ""},
        {{"--sim", "0y", "--json"}, Mode::run, "0y", "", "", true, "", ""},
        {{"0y", "--json", "--sim"}, Mode::run, "0y", "", "", true, "", ""},
        {{"--replay", "dumps", "0y"}, Mode::run, "0y", nullptr, "dumps", false, "", ""},
        {{"0y", "--replay=.", "5"}, Mode::run, "0y", nullptr, ".", false, "", ""},
        {{"--device", "/dev/sdb", "y"}, Mode::run, "y", nullptr, "", false, "/dev/sdb", ""},
        {{"y", "--device=/dev/sg1"}, Mode::run, "y", nullptr, "", false, "/dev/sg1", ""},
        {{"--output-dir", "out", "3y"}, Mode::run, "3y", nullptr, "", false, "", "out"},
        {{"--", "--json"}, Mode::run, "--json", nullptr, "", false, "", ""},
        {{"--sim=list"}, Mode::sim_list, nullptr, "list", "", false, "", ""},
        {{"--list", "--json"}, Mode::list, nullptr, nullptr, "", true, "", ""},
        {{"3y", "--list", "--sim"}, Mode::list, "3y", "", "", false, "", ""},
        {{"0y", "-h"}, Mode::help, "0y", nullptr, "", false, "", ""},
        {{"-?"}, Mode::help, nullptr, nullptr, "", false, "", ""},
        {{"/?"}, Mode::help, nullptr, nullptr, "", false, "", ""},
        {{"--list", "--help"}, Mode::help, nullptr, nullptr, "", false, "", ""},
        {{"-V"}, Mode::version, nullptr, nullptr, "", false, "", ""},
        {{"--version", "--list"}, Mode::version, nullptr, nullptr, "", false, "", ""},
        {{"--json", "--decode", "98", "--list"}, Mode::decode, nullptr, nullptr, "", true, "", ""},
    };
    for (const Case& c : cases) {
        const CommandLine cl = parse(c.args);
        const std::string what = joined(c.args);
        EXPECT_EQ(cl.mode, c.mode) << what;
        EXPECT_EQ(cl.message, "") << what;
        if (c.first == nullptr) {
            EXPECT_EQ(cl.first_arg, nullptr) << what;
        } else {
            ASSERT_NE(cl.first_arg, nullptr) << what;
            EXPECT_STREQ(cl.first_arg, c.first) << what;
        }
        EXPECT_EQ(cl.sim, c.sim != nullptr) << what;
        EXPECT_EQ(cl.sim_profile, c.sim == nullptr ? "" : c.sim) << what;
        EXPECT_EQ(cl.replay, *c.replay_dir != '\0') << what;
        EXPECT_EQ(cl.replay_dir, c.replay_dir) << what;
        EXPECT_EQ(cl.json, c.json) << what;
        EXPECT_EQ(cl.device, c.device) << what;
        EXPECT_EQ(cl.output_dir, c.output_dir) << what;
    }
    // --decode takes every argument after it.
    EXPECT_EQ(parse({"--json", "--decode", "98", "--list"}).next, 3);
}

TEST(CommandLine, BadOptionsAreErrorsThatSayWhy) {
    struct Case {
        std::vector<const char*> args;
        const char* message;
    } cases[] = {
        {{"--frobnicate", "0y"}, "unknown option '--frobnicate'"},
        {{"0y", "-x", "--frobnicate"}, "unknown option '--frobnicate'"},  // -x: drive argument
        {{"--help", "--frobnicate"}, "unknown option '--frobnicate'"},
        {{"--replay"}, "--replay needs DIR"},
        {{"--replay", "--json"}, "--replay needs DIR"},
        {{"--replay="}, "--replay= needs DIR"},
        {{"--output-dir"}, "--output-dir needs DIR"},
        {{"--device", "-h"}, "--device needs PATH"},
        {{"--sim="}, "--sim= needs PROFILE"},
        {{"--json=yes"}, "--json takes no value"},
        {{"--sim", "--replay", "d"}, "--sim and --replay cannot be combined"},
        {{"--device", "/dev/sdb", "3y"},
         "--device names the drive: the argument '3y' may hold option letters only"},
    };
    for (const Case& c : cases) {
        const CommandLine cl = parse(c.args);
        EXPECT_EQ(cl.mode, Mode::error) << joined(c.args);
        EXPECT_EQ(cl.message, c.message) << joined(c.args);
    }
}

}  // namespace
}  // namespace torvik::testing
