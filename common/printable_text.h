// Drive text made safe to print: a drive (or a dump file standing for one) chooses the bytes of
// its vendor, product, revision and serial texts, and a control byte among them could move the
// cursor, retitle or clear the user's terminal.
#pragma once

#include <string>

namespace torvik {

// c, or '?' for a C0 control (0x00-0x1F), DEL (0x7F) or a C1 control (0x80-0x9F, which some
// terminals take as ESC sequences on their own: 0x9B is a CSI). Other bytes print as they are.
constexpr char printable_char(char c) {
    const auto byte = static_cast<unsigned char>(c);
    const bool control = byte < 0x20 || byte == 0x7F || (byte >= 0x80 && byte <= 0x9F);
    return control ? '?' : c;
}

// A NUL-terminated text with every control byte shown as '?'.
inline std::string printable_text(const char* text) {
    std::string out;
    for (; *text != '\0'; ++text)
        out.push_back(printable_char(*text));
    return out;
}

}  // namespace torvik
