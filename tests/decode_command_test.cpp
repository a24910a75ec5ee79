// The --decode extension: byte parsing, messages, exit statuses and the one-line-per-line
// bulk mode.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/decode_command.h"
#include "app/exit_status.h"
#include "tests/support/scratch.h"

namespace torvik::testing {
namespace {

constexpr const char* kToshiba = "Toshiba 64L BiCS3 TLC 16k 256Gb/CE 256Gb/die 2Plane/die";

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

Outcome decode(const std::vector<const char*>& args, const std::string& input = "") {
    Capture out;
    Capture err;
    std::FILE* in = input_from(input);
    Outcome outcome;
    outcome.status =
        run_decode_command(static_cast<int>(args.size()), args.data(), in, out.file(), err.file());
    std::fclose(in);
    outcome.out = out.text();
    outcome.err = err.text();
    return outcome;
}

TEST(DecodeCommand, AcceptsTheWaysBytesArePasted) {
    const std::vector<std::vector<const char*>> cases = {
        {"98", "3C", "98", "B3", "76", "F2", "00", "00"},
        {"98 3C 98 B3 76 F2 00 00"},
        {"0x98,0x3c,0x98,0xb3,0x76,0xf2,0x0,0x0"},
        {"0x98,0x3c,0x98,", "0xb3,0x76,", "0xf2,0x0,0x0"},
        {"0X98, 0X3C, 98", "b3", "76 ,f2"},  // six bytes: 6 and 7 are zero
        {"98", "3c", "98", "b3", "76", "f2", "ff", "ff"},
    };
    for (const auto& args : cases) {
        const Outcome r = decode(args);
        EXPECT_EQ(r.status, kExitOk) << args[0];
        EXPECT_EQ(r.out, std::string(kToshiba) + "\n") << args[0];
        EXPECT_EQ(r.err, "") << args[0];
    }
}

TEST(DecodeCommand, BadArgumentsNameTheProblem) {
    const struct {
        std::vector<const char*> args;
        const char* message;
    } cases[] = {
        {{"98", "3C", "ZZ", "B3", "76", "F2"}, "\"ZZ\" is not a hex byte"},
        {{"98 3C 0x B3 76 F2"}, "\"0x\" is not a hex byte"},
        {{"98 3C 0x100 B3 76 F2"}, "\"0x100\" is not a hex byte"},
        {{"98 3C 198 B3 76 F2"}, "\"198\" is not a hex byte"},
        {{"98 3C -1 B3 76 F2"}, "\"-1\" is not a hex byte"},
        {{"98", "3C", "98", "B3", "76"}, "5 bytes given"},
        {{"98,3C,98,B3,76,F2,00,00,11,22"}, "\"11\" is one byte too many"},
        {{"-", "98"}, "\"-\" is not a hex byte"},
        {{}, "6 to 8 hex bytes"},
        {{",,"}, "0 bytes given"},
    };
    for (const auto& c : cases) {
        const Outcome r = decode(c.args);
        EXPECT_EQ(r.status, kExitUsage) << c.message;
        EXPECT_EQ(r.out, "") << c.message;
        EXPECT_TRUE(contains(r.err, c.message)) << r.err;
    }
    // A long bad token is shown shortened.
    const std::string long_token(300, 'q');
    const Outcome r = decode({long_token.c_str()});
    EXPECT_LT(r.err.size(), 100u) << r.err;
}

TEST(DecodeCommand, UnknownMakerIsAnError) {
    const Outcome r = decode({"37 00 00 00 00 00"});
    EXPECT_EQ(r.status, kExitUsage);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(contains(r.err, "unknown flash maker code 0x37")) << r.err;
}

TEST(DecodeCommand, BulkModeWritesOneLinePerInputLine) {
    const std::string input =
        "98 3C 98 B3 76 F2 00 00\n"
        "0x98,0x3c,0x98,0xb3,0x76,0xf2,0x0,0x0\r\n"
        "37 00 00 00 00 00\n"  // unknown maker: empty line, no error
        "\n"
        "98 3C QQ B3 76 F2\n"
        "98 3C 98\n"
        "EF AA 20 00 00 00 00 00 00\n"
        "89 09 29 32 C2 00";  // last line without its line end
    const Outcome r = decode({"-"}, input);
    EXPECT_EQ(r.out, std::string(kToshiba) + "\n" + kToshiba +
                         "\n\n\n\n\n\nIntel 192L(Q5171A) QLC 2.67Tb/CE 1.33Tb/die\n");
    EXPECT_EQ(r.err,
              "--decode: line 5: \"QQ\" is not a hex byte\n"
              "--decode: line 6: 3 bytes given: a flash ID has 6 to 8 bytes\n"
              "--decode: line 7: \"00\" is one byte too many: a flash ID has 6 to 8 bytes\n");
    EXPECT_EQ(r.status, kExitUsage);

    const Outcome clean = decode({"-"}, "37 0 0 0 0 0\nEF AA 20 00 00 00\n");
    EXPECT_EQ(clean.out, "\nWinbond SLC\n");
    EXPECT_EQ(clean.err, "");
    EXPECT_EQ(clean.status, kExitOk);

    const Outcome empty = decode({"-"}, "");
    EXPECT_EQ(empty.out, "");
    EXPECT_EQ(empty.status, kExitOk);
}

}  // namespace
}  // namespace torvik::testing
