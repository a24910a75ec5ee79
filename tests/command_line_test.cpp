// The command line: options anywhere, their values, the drive argument, and bad options.
#include <gtest/gtest.h>

#include <span>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/outputs.h"

namespace torvik::testing {
namespace {

CommandLine parse(std::vector<const char*> args) {
    args.insert(args.begin(), "torvik_usb_pssd_flash_id");
    return parse_command_line(static_cast<int>(args.size()), args.data());
}

// What a parse gave, in one line: the mode and every field away from its default.
std::string summary(const CommandLine& cl) {
    if (cl.mode == Mode::error)
        return "error: " + cl.message;
    static const char* const kModes[] = {"run", "help", "version", "list", "decode", "sim-list"};
    std::string text = kModes[static_cast<int>(cl.mode)];
    if (cl.first_arg != nullptr)
        text += std::string(" arg=") + cl.first_arg;
    if (cl.sim)
        text += " sim=" + cl.sim_profile;
    if (cl.replay)
        text += " replay=" + cl.replay_dir;
    if (!cl.device.empty())
        text += " device=" + cl.device;
    if (!cl.output_dir.empty())
        text += " out=" + cl.output_dir;
    text += cl.asks(OutputId::json) ? " json" : "";
    text += cl.asks(OutputId::json_stdout) ? "=-" : "";
    text += cl.asks(OutputId::health) ? " health" : "";
    text += cl.brief ? " brief" : "";
    text += cl.asks(OutputId::html) ? " html" : "";
    text += cl.asks(OutputId::all_summary) ? " all" : "";
    if (cl.asks(OutputId::history))
        text += " history=" + cl.history;
    if (cl.asks(OutputId::metrics))
        text += " metrics=" + cl.metrics_file;
    for (const char* byte : cl.decode_args)
        text += std::string(" b:") + byte;
    return text;
}

TEST(CommandLine, EveryArgumentCaseAndWhatItGives) {
    struct Case {
        std::vector<const char*> args;
        const char* gives;
    } cases[] = {
        // The drive argument: the first argument that is not an option; later ones ignored.
        {{}, "run"},
        {{"3y"}, "run arg=3y"},
        {{"3", "y"}, "run arg=3"},
        {{"-1"}, "run arg=-1"},
        {{"-"}, "run arg=-"},
        {{"-y"}, "run arg=-y"},
        {{"-bY"}, "run arg=-bY"},
        {{"-y3"}, "run arg=-y3"},
        {{"--", "--json"}, "run arg=--json"},
        {{"--", "-x"}, "run arg=-x"},
        // --sim takes a profile after '=' or after a space, never a drive argument.
        {{"--sim", "y3"}, "run arg=y3 sim="},
        {{"--sim", "0y", "--json"}, "run arg=0y sim= json"},
        {{"0y", "--json", "--sim"}, "run arg=0y sim= json"},
        {{"--sim=large", "150"}, "run arg=150 sim=large"},
        {{"--sim", "hot", "0y", "--health"}, "run arg=0y sim=hot health"},
        {{"--sim", "abc"}, "run sim=abc"},  // an unknown profile: the run lists them
        {{"--sim", "-1"}, "run arg=-1 sim="},
        {{"--sim", "/dev/sda", "y"}, "run arg=y sim= device=/dev/sda"},
        {{"--sim", "list"}, "sim-list sim=list"},
        {{"--sim=list"}, "sim-list sim=list"},
        {{"--sim", ""}, "error: --sim needs PROFILE, not an empty argument"},
        {{"--sim="}, "error: --sim= needs PROFILE"},
        // Values after a space or '='; an empty one is an error in both forms.
        {{"--replay", "dumps", "0y"}, "run arg=0y replay=dumps"},
        {{"0y", "--replay=.", "5"}, "run arg=0y replay=."},
        {{"--output-dir", "out", "3y"}, "run arg=3y out=out"},
        {{"--replay"}, "error: --replay needs DIR"},
        {{"--replay", "--json"}, "error: --replay needs DIR"},
        {{"--replay", "-x"}, "error: --replay needs DIR"},
        {{"--replay="}, "error: --replay= needs DIR"},
        {{"--replay", ""}, "error: --replay needs DIR, not an empty argument"},
        {{"--output-dir"}, "error: --output-dir needs DIR"},
        {{"--output-dir", "", "0y"}, "error: --output-dir needs DIR, not an empty argument"},
        {{"--output-dir="}, "error: --output-dir= needs DIR"},
        {{"--device", "", "y"}, "error: --device needs PATH, not an empty argument"},
        {{"--device="}, "error: --device= needs PATH"},
        {{"--device", "-h"}, "error: --device needs PATH"},
        // --json=- puts the document on standard output; so does "--json -": a lone "-" after it
        // is its value, never the drive argument.
        {{"--json=yes"}, "error: --json= takes '-' (standard output) only"},
        {{"--json="}, "error: --json= needs -"},
        {{"--json=-", "0y"}, "run arg=0y json=-"},
        {{"--json", "-"}, "run json=-"},
        {{"--json", "-", "--sim", "0y"}, "run arg=0y sim= json=-"},
        {{"--json", "0y", "-"}, "run arg=0y json"},
        {{"--json", "--", "-"}, "run arg=- json"},
        {{"--all", "--json", "-"}, "run json=- all"},
        {{"--html", "--history", "h.jsonl", "--metrics=m.prom", "0y"},
         "run arg=0y html history=h.jsonl metrics=m.prom"},
        {{"--brief", "0y"}, "run arg=0y health brief"},
        {{"--brief", "--json=-", "0y"},
         "error: --brief and --json=- both want standard output: give one of them"},
        // Once given, --json=- holds: a later --json keeps standard output for the document.
        {{"--json=-", "--json", "0y"}, "run arg=0y json=-"},
        {{"--json", "--json=-", "0y"}, "run arg=0y json=-"},
        {{"--json=-", "--sim=list"},
         "error: --sim=list writes text to standard output: --json=- cannot be combined with it"},
        {{"--decode", "-", "--json=-"},
         "error: --decode writes text to standard output: --json=- cannot be combined with it"},
        {{"--json=-", "--decode", "98", "--help"}, "help json=- b:98"},
        {{"--version", "--json=-", "--sim", "list"}, "version sim=list json=-"},
        // A drive named by its path, with --device or in the drive argument's place.
        {{"--device", "/dev/sdb", "y"}, "run arg=y device=/dev/sdb"},
        {{"y", "--device=/dev/sg1"}, "run arg=y device=/dev/sg1"},
        {{"/dev/sdc"}, "run device=/dev/sdc"},
        {{"/dev/sdc", "y"}, "run arg=y device=/dev/sdc"},
        {{"--health", "\\\\.\\PhysicalDrive2"}, "run device=\\\\.\\PhysicalDrive2 health"},
        {{"0y", "/dev/sdc"}, "run arg=0y"},
        {{"--device", "/dev/sdb", "3y"},
         "error: the drive is named by its path '/dev/sdb': the argument '3y' may hold option "
         "letters only"},
        {{"/dev/sdc", "3"},
         "error: the drive is named by its path '/dev/sdc': the argument '3' may hold option "
         "letters only"},
        {{"/dev/sdb", "/dev/sdc"}, "error: two drive paths: '/dev/sdb' and '/dev/sdc'"},
        {{"/dev/sdc", "--device", "/dev/sdb"}, "error: two drive paths: '/dev/sdb' and '/dev/sdc'"},
        // Modes, help first.
        {{"--list", "--json"}, "list json"},
        {{"3y", "--list", "--sim"}, "list arg=3y sim="},
        {{"0y", "-h"}, "help arg=0y"},
        {{"-?"}, "help"},
        {{"/?"}, "help"},
        {{"--list", "--help"}, "help"},
        {{"-V"}, "version"},
        {{"--version", "--list"}, "version"},
        // --decode takes the bytes up to the next option.
        {{"--json", "--decode", "98", "--list"}, "decode json b:98"},
        {{"--decode", "98", "3c", "--health", "0y"}, "decode arg=0y health b:98 b:3c"},
        {{"--decode", "-", "--json"}, "decode json b:-"},
        {{"--decode", "--", "-x"}, "decode b:-x"},
        // Unknown options, a dash and letters among them; typed control bytes shown as '?'.
        {{"--frobnicate", "0y"}, "error: unknown option '--frobnicate'"},
        {{"0y", "-x", "--frobnicate"}, "error: unknown option '-x'"},
        {{"--help", "--frobnicate"}, "error: unknown option '--frobnicate'"},
        {{"-H"}, "error: unknown option '-H'"},
        {{"-ay"}, "error: unknown option '-ay'"},
        {{"-Hy", "3"}, "error: unknown option '-Hy'"},
        {{"--sim", "-j"}, "error: unknown option '-j'"},
        {{"--x\x1b[2J"}, "error: unknown option '--x?[2J'"},
        // A long option within two edits of a known one is named.
        {{"--heath", "0y"}, "error: unknown option '--heath'; did you mean --health?"},
        {{"--josn=-"}, "error: unknown option '--josn=-'; did you mean --json?"},
        {{"--outputdir", "o"}, "error: unknown option '--outputdir'; did you mean --output-dir?"},
        {{"--lsit"}, "error: unknown option '--lsit'; did you mean --list?"},
        {{"--healthy"}, "error: unknown option '--healthy'; did you mean --health?"},
        {{"--hist", "h"}, "error: unknown option '--hist'; did you mean --history?"},
        {{"--he"}, "error: unknown option '--he'; did you mean --help?"},
        {{"--hexdump"}, "error: unknown option '--hexdump'"},
        {{"-hea"}, "error: unknown option '-hea'"},
        {{"--sim", "--replay", "d"}, "error: --sim and --replay cannot be combined"},
    };
    for (const Case& c : cases) {
        std::string what;
        for (const char* arg : c.args)
            what += std::string(" [") + arg + "]";
        EXPECT_EQ(summary(parse(c.args)), c.gives) << what;
    }
}

// Each output's option comes from its row of the outputs table alone: it asks for that row and
// no other, --help shows it and its file once, and the completion offers it.
TEST(CommandLine, EachOutputsOptionAsksForItsRowAndIsShownOnce) {
    const std::span<const OutputRow> rows = output_rows();
    const std::string help = usage_text();
    const std::string script = bash_completion_script();
    const std::size_t list = script.find("local options='") + 15;
    const std::string offered = " " + script.substr(list, script.find('\'', list) - list) + " ";
    const auto once = [&](const std::string& text) {
        const std::size_t at = help.find(text);
        return at != std::string::npos && help.find(text, at + 1) == std::string::npos;
    };
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const OutputRow& row = rows[i];
        if (row.synopsis == nullptr)
            continue;
        SCOPED_TRACE(row.option);
        std::vector<const char*> args = {row.option};
        if (row.value == OptionValue::required)
            args.push_back("file");
        const CommandLine cl = parse(args);
        ASSERT_EQ(cl.mode, Mode::run) << cl.message;
        for (std::size_t j = 0; j < rows.size(); ++j)
            EXPECT_EQ(cl.asked.has(j), j == i) << "row " << j;
        EXPECT_TRUE(once("\n  " + std::string(row.synopsis) + " "));
        if (row.file_help != nullptr) {
            EXPECT_TRUE(once("\n  " + std::string(row.file) + " "));
        }
        EXPECT_NE(offered.find(" " + std::string(row.option) + " "), std::string::npos);
    }
}

}  // namespace
}  // namespace torvik::testing
