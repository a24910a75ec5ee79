// The --decode extension: byte parsing, messages, exit statuses and the one-line-per-line
// bulk mode.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/decode_command.h"
#include "app/exit_status.h"
#include "tests/support/flash_id_corpus.h"
#include "tests/support/scratch.h"

namespace torvik::testing {
namespace {

constexpr const char* kToshiba = "Toshiba 64L BiCS3 TLC 16k 256Gb/CE 256Gb/die 2Plane/die";

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

Outcome decode(const std::vector<const char*>& args, const std::string& input = "",
               bool line_at_a_time = false) {
    Capture out;
    Capture err;
    std::FILE* in = input_from(input);
    Outcome outcome;
    outcome.status = run_decode_command(static_cast<int>(args.size()), args.data(), in, out.file(),
                                        err.file(), line_at_a_time);
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

// An argument and a line of standard input are read by the same rules: for each text, the same
// answer, or the same message (with the line number on a line). Edge cases of the 0x prefix and of
// a token's end, each once as the last token and once followed by another.
TEST(DecodeCommand, ArgumentsAndLinesReadBytesAlike) {
    const struct {
        const char* text;
        const char* message;  // nullptr: decoded
    } cases[] = {
        {"98 3C 98 B3 76 0xF2", nullptr},
        {"98 3C 98 B3 76 F2 0x", "\"0x\" is not a hex byte"},
        {"98 3C 98 B3 76 F2 0x 00", "\"0x\" is not a hex byte"},
        {"98 3C 98 B3 76 F2 0x,00", "\"0x\" is not a hex byte"},
        {"98 3C 98 B3 76 0x0xF2", "\"0x0xF2\" is not a hex byte"},
        {"98 3C 98 B3 76 00xF2", "\"00xF2\" is not a hex byte"},
        {"98 3C 98 B3 76 F2x", "\"F2x\" is not a hex byte"},
        {"98 3C 98 B3 76 x2", "\"x2\" is not a hex byte"},
        {"98 3C 98 B3 76 0F2", "\"0F2\" is not a hex byte"},
        {"98 3C 98 B3 76 F2 0 0 1", "\"1\" is one byte too many"},
        {"98 3C 98 B3 76 F2 0 0 G", "\"G\" is not a hex byte"},
        {"98\t3C\t98\tB3,76,,F2\r", nullptr},
        {"98 3C 98 B3 0x7", "5 bytes given"},
    };
    for (const auto& c : cases) {
        const Outcome argument = decode({c.text});
        const Outcome line = decode({"-"}, std::string(c.text) + "\n");
        if (c.message == nullptr) {
            EXPECT_EQ(argument.out, std::string(kToshiba) + "\n") << c.text;
            EXPECT_EQ(line.out, argument.out) << c.text;
            EXPECT_EQ(line.err + argument.err, "") << c.text;
            continue;
        }
        EXPECT_EQ(argument.status, kExitUsage) << c.text;
        EXPECT_EQ(line.status, kExitUsage) << c.text;
        EXPECT_TRUE(argument.err.starts_with(std::string("--decode: ") + c.message))
            << argument.err;
        EXPECT_EQ(line.err, "--decode: line 1: " + argument.err.substr(10)) << c.text;
        EXPECT_EQ(line.out, "\n") << c.text;
    }
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
        "37 00 00 00 00 00\n"  // unknown maker: an empty line, and said on stderr
        "\n"
        "98 3C QQ B3 76 F2\n"
        "98 3C 98\n"
        "EF AA 20 00 00 00 00 00 00\n"
        "89 09 29 32 C2 00";  // last line without its line end
    const Outcome r = decode({"-"}, input);
    EXPECT_EQ(r.out, std::string(kToshiba) + "\n" + kToshiba +
                         "\n\n\n\n\n\nIntel 192L(Q5171A) QLC 2.67Tb/CE 1.33Tb/die\n");
    EXPECT_EQ(r.err,
              "--decode: line 3: unknown flash maker code 0x37\n"
              "--decode: line 5: \"QQ\" is not a hex byte\n"
              "--decode: line 6: 3 bytes given: a flash ID has 6 to 8 bytes\n"
              "--decode: line 7: \"00\" is one byte too many: a flash ID has 6 to 8 bytes\n");
    EXPECT_EQ(r.status, kExitUsage);

    // An unknown maker alone fails the run, after the whole input is answered.
    const Outcome unknown = decode({"-"}, "37 0 0 0 0 0\nEF AA 20 00 00 00\n");
    EXPECT_EQ(unknown.out, "\nWinbond SLC\n");
    EXPECT_EQ(unknown.err, "--decode: line 1: unknown flash maker code 0x37\n");
    EXPECT_EQ(unknown.status, kExitUsage);

    const Outcome clean = decode({"-"}, "EF AA 20 00 00 00\n\n");
    EXPECT_EQ(clean.out, "Winbond SLC\n\n");
    EXPECT_EQ(clean.err, "");
    EXPECT_EQ(clean.status, kExitOk);

    const Outcome empty = decode({"-"}, "");
    EXPECT_EQ(empty.out, "");
    EXPECT_EQ(empty.status, kExitOk);
}

// Lines of up to 4096 bytes (line end not counted) are read; a longer one is reported with its
// number, gets an empty output line like any bad line, and the lines after it are read as usual,
// however far it reaches into the input.
TEST(DecodeCommand, LongLinesAreReportedAndSkipped) {
    const std::string id = "98 3C 98 B3 76 F2";
    const auto padded = [&](std::size_t length) {
        return id + std::string(length - id.size(), ' ');
    };
    const std::string toshiba = std::string(kToshiba) + "\n";
    const std::string too_long = "--decode: line 2: longer than 4096 bytes\n";
    const struct {
        const char* name;
        std::string input;
        std::string out;
        std::string err;
    } cases[] = {
        {"exactly 4096 bytes", id + "\n" + padded(4096) + "\n" + id + "\n",
         toshiba + toshiba + toshiba, ""},
        {"4097 bytes", id + "\n" + padded(4097) + "\n" + id + "\n", toshiba + "\n" + toshiba,
         too_long},
        {"a megabyte", id + "\n" + padded(1 << 20) + "\n" + id + "\n", toshiba + "\n" + toshiba,
         too_long},
        {"a megabyte of line ends after it", id + "\n" + padded(70000) + std::string(1 << 20, '\n'),
         toshiba + "\n" + std::string((1 << 20) - 1, '\n'), too_long},
        {"last, without its line end", id + "\n" + padded(100000), toshiba + "\n", too_long},
        {"last, 4096 bytes without its line end", id + "\n" + padded(4096), toshiba + toshiba, ""},
        {"a NUL byte inside a line", id + "\n98 3C" + std::string(1, '\0') + " 98 B3 76 F2\n",
         toshiba + "\n", "--decode: line 2: \"3C?\" is not a hex byte\n"},
    };
    // Read in blocks, or a line at a time as from a terminal: the same answers.
    for (const bool line_at_a_time : {false, true}) {
        for (const auto& c : cases) {
            const Outcome r = decode({"-"}, c.input, line_at_a_time);
            EXPECT_EQ(r.out, c.out) << c.name << ", line at a time: " << line_at_a_time;
            EXPECT_EQ(r.err, c.err) << c.name << ", line at a time: " << line_at_a_time;
            EXPECT_EQ(r.status, c.err.empty() ? kExitOk : kExitUsage) << c.name;
        }
    }
}

// Output that cannot be written fails the command with a message, whether the stream refuses
// every write (opened for reading only) or only its flush (a full device); so does input that
// cannot be read.
TEST(DecodeCommand, FailedOutputOrInputIsReportedWithStatus1) {
    ScratchDir dir;
    { std::ofstream(dir.path() / "read_only.txt") << ""; }
    const std::string many = decode_input_lines(kDecodeInputSeed, 20000);
    struct Sink {
        const char* name;
        std::filesystem::path path;
        const char* mode;
    };
    std::vector<Sink> sinks = {{"read-only stream", dir.path() / "read_only.txt", "r"}};
    if (std::filesystem::exists("/dev/full"))
        sinks.push_back({"full device", "/dev/full", "w"});
    const struct {
        const char* name;
        std::vector<const char*> args;
        std::string input;
    } runs[] = {
        {"one ID", {"98", "3C", "98", "B3", "76", "F2"}, ""},
        {"one line", {"-"}, "98 3C 98 B3 76 F2\n"},
        {"many lines", {"-"}, many},
    };
    for (const Sink& sink : sinks) {
        for (const auto& run : runs) {
            std::FILE* out = std::fopen(sink.path.string().c_str(), sink.mode);
            ASSERT_NE(out, nullptr) << sink.name;
            Capture err;
            std::FILE* in = input_from(run.input);
            const int status = run_decode_command(static_cast<int>(run.args.size()),
                                                  run.args.data(), in, out, err.file());
            std::fclose(in);
            std::fclose(out);
            EXPECT_EQ(status, kExitUsage) << sink.name << ", " << run.name;
            EXPECT_TRUE(contains(err.text(), "--decode: writing the output failed: "))
                << sink.name << ", " << run.name << ": " << err.text();
        }
    }

    // Input that cannot be read is no silent end of the input either. (A stream opened for
    // appending refuses reads with an error on Linux; some C runtimes just report its end.)
    const std::string append_only = (dir.path() / "read_only.txt").string();
    std::FILE* probe = std::fopen(append_only.c_str(), "a");
    ASSERT_NE(probe, nullptr);
    const bool read_fails = std::fgetc(probe) == EOF && std::ferror(probe) != 0;
    std::fclose(probe);
    if (!read_fails)
        GTEST_SKIP() << "this C runtime reads an append-only stream as empty";
    std::FILE* in = std::fopen(append_only.c_str(), "a");
    ASSERT_NE(in, nullptr);
    Capture out;
    Capture err;
    const char* const dash[] = {"-"};
    EXPECT_EQ(run_decode_command(1, dash, in, out.file(), err.file()), kExitUsage);
    std::fclose(in);
    EXPECT_TRUE(contains(err.text(), "--decode: reading the input failed: ")) << err.text();
}

// The benchmark's million lines of input (bench/make_decode_input), decoded in bulk: the output
// equals, by digest, what the line-by-line reader gave before bulk decoding was rewritten for
// speed; the messages, which name each unknown maker too, are pinned the same way.
TEST(DecodeCommand, BulkOutputEqualsTheRecordedOutput) {
    const Outcome r = decode({"-"}, decode_input_lines(kDecodeInputSeed, 1'000'000));
    Fnv1a64 out;
    out.add(r.out);
    Fnv1a64 err;
    err.add(r.err);
    EXPECT_EQ(r.status, kExitUsage);
    EXPECT_EQ(r.out.size(), 22552172u);
    EXPECT_EQ(r.err.size(), 11828783u);
    EXPECT_EQ(out.value(), 2181623111460083361u);
    EXPECT_EQ(err.value(), 13694999018163912203u);
}

}  // namespace
}  // namespace torvik::testing
