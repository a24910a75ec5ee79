// The output file's own work: line ends of text files across its buffer, long formatted lines,
// and a commit that is kept.
#include <gtest/gtest.h>

#include <string>

#include "platform/output_file.h"
#include "tests/support/fake_platform.h"
#include "tests/support/scratch.h"

namespace torvik::testing {
namespace {

// Text of n bytes with a line end at every position in ends.
std::string text_with_line_ends(std::size_t n, std::initializer_list<std::size_t> ends) {
    std::string text(n, 'x');
    for (std::size_t at : ends)
        text[at] = '\n';
    return text;
}

std::string with_crlf(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}

TEST(OutputFile, LineEndsAcrossTheBufferAndLongLines) {
    const std::string long_line(3000, 'y');
    const struct Case {
        const char* what;
        std::string text;
    } cases[] = {
        {"a line end as the buffer's last byte", text_with_line_ends(5000, {4095, 4096})},
        {"a line end as the first byte after it", text_with_line_ends(9000, {4094, 8190, 8191})},
        {"nothing but line ends", std::string(9000, '\n')},
        {"a formatted line longer than the format buffer", long_line + "\n"},
    };
    for (const Case& c : cases) {
        for (const FileKind kind : {FileKind::text, FileKind::binary}) {
            for (const bool crlf : {false, true}) {
                SCOPED_TRACE(std::string(c.what) + (kind == FileKind::text ? " text" : " binary") +
                             (crlf ? " crlf" : ""));
                ScratchDir dir;
                FakePlatform platform;
                platform.crlf = crlf;
                OutputFile file(platform, "out", kind);
                if (c.text == long_line + "\n") {
                    file.printf("%s\n", long_line.c_str());
                } else {
                    // In pieces of uneven size, so that they meet the buffer's end anywhere.
                    for (std::size_t at = 0; at < c.text.size(); at += 999)
                        file.write(c.text.data() + at,
                                   std::min<std::size_t>(999, c.text.size() - at));
                }
                EXPECT_EQ(file.commit().outcome, FileOutcome::written);
                EXPECT_EQ(file.commit().outcome, FileOutcome::written);  // once is enough
                const bool converted = kind == FileKind::text && crlf;
                EXPECT_EQ(dir.read("out"), converted ? with_crlf(c.text) : c.text);
            }
        }
    }
}

}  // namespace
}  // namespace torvik::testing
