// Writes the benchmark's input for "--decode -" to standard output: LINES lines (default one
// million) of the generated mix the bulk-decoding equality test also decodes.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/support/flash_id_corpus.h"

int main(int argc, char** argv) {
    const long lines = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 1'000'000;
    if (argc > 2 || lines < 0) {
        std::fputs("usage: make_decode_input [LINES]\n", stderr);
        return 2;
    }
    const std::string text = torvik::testing::decode_input_lines(torvik::testing::kDecodeInputSeed,
                                                                 static_cast<std::size_t>(lines));
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() ||
        std::fflush(stdout) != 0) {
        std::perror("make_decode_input");
        return 1;
    }
    return 0;
}
