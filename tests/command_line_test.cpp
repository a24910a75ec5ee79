// Leading "--" extensions and what is left for the drive argument.
#include <gtest/gtest.h>

#include <vector>

#include "app/command_line.h"

namespace torvik::testing {
namespace {

CommandLine parse(std::vector<const char*> args) {
    args.insert(args.begin(), "torvik_usb_pssd_flash_id");
    return parse_command_line(static_cast<int>(args.size()), args.data());
}

TEST(CommandLine, ExtensionsThenTheFirstArgument) {
    struct Case {
        std::vector<const char*> args;
        Mode mode;
        bool sim;
        const char* profile;
        const char* replay_dir;
        bool json;
        const char* first;  // nullptr: the prompt
    } cases[] = {
        {{}, Mode::run, false, "", "", false, nullptr},
        {{"3y"}, Mode::run, false, "", "", false, "3y"},
        {{"3", "y"}, Mode::run, false, "", "", false, "3"},
        {{"--sim"}, Mode::run, true, "", "", false, nullptr},
        {{"--sim", "y3"}, Mode::run, true, "", "", false, "y3"},
        {{"--sim=large", "150"}, Mode::run, true, "large", "", false, "150"},
        {{"--sim=list"}, Mode::sim_list, true, "list", "", false, nullptr},
        {{"--replay", "dumps", "0y"}, Mode::run, false, "", "dumps", false, "0y"},
        {{"--replay=.", "0y"}, Mode::run, false, "", ".", false, "0y"},
        {{"--json", "--sim", "0y"}, Mode::run, true, "", "", true, "0y"},
        {{"--help"}, Mode::help, false, "", "", false, nullptr},
        {{"--version"}, Mode::version, false, "", "", false, nullptr},
        {{"--decode", "98", "3c"}, Mode::decode, false, "", "", false, nullptr},
    };
    for (const Case& c : cases) {
        const CommandLine cl = parse(c.args);
        const std::string what = c.args.empty() ? "(none)" : c.args[0];
        EXPECT_EQ(cl.mode, c.mode) << what;
        EXPECT_EQ(cl.sim, c.sim) << what;
        EXPECT_EQ(cl.sim_profile, c.profile) << what;
        EXPECT_EQ(cl.replay_dir, c.replay_dir) << what;
        EXPECT_EQ(cl.json, c.json) << what;
        if (c.first == nullptr) {
            EXPECT_EQ(cl.first_arg, nullptr) << what;
        } else if (c.mode == Mode::run) {
            ASSERT_NE(cl.first_arg, nullptr) << what;
            EXPECT_STREQ(cl.first_arg, c.first) << what;
        }
    }
    EXPECT_EQ(parse({"--decode", "98", "3c"}).next, 2);
}

TEST(CommandLine, BadExtensionsAreErrorsWithAMessage) {
    for (std::vector<const char*> args :
         std::vector<std::vector<const char*>>{{"--replay"},
                                               {"--replay="},
                                               {"--sim="},
                                               {"--frobnicate"},
                                               {"--sim", "--replay", "d"}}) {
        const CommandLine cl = parse(args);
        EXPECT_EQ(cl.mode, Mode::error) << args[0];
        EXPECT_FALSE(cl.message.empty()) << args[0];
    }
}

}  // namespace
}  // namespace torvik::testing
