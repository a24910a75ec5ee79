#include "app/decode_command.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "app/exit_status.h"
#include "common/hex.h"
#include "flashid/flash_id.h"

namespace torvik {

namespace {

constexpr std::size_t kMinIdBytes = 6;
constexpr std::size_t kMaxIdBytes = 8;  // a flash ID is 8 bytes; missing bytes 6 and 7 are zero
constexpr std::size_t kShownTokenMax = 24;

bool is_separator(char c) {
    return c == ' ' || c == '\t' || c == ',' || c == '\r' || c == '\n';
}

// One or two hex digits, with or without a 0x prefix.
bool parse_hex_byte(std::string_view token, std::uint8_t& value) {
    if (token.size() > 2 && token[0] == '0' && (token[1] == 'x' || token[1] == 'X')) {
        token.remove_prefix(2);
    }
    if (token.empty() || token.size() > 2)
        return false;
    unsigned result = 0;
    for (char c : token) {
        const int digit = hex_digit(c);
        if (digit < 0)
            return false;
        result = result * 16 + static_cast<unsigned>(digit);
    }
    value = static_cast<std::uint8_t>(result);
    return true;
}

// A token as it appears in a message: quoted, shortened, unprintable characters shown as '?'.
std::string shown(std::string_view token) {
    std::string text = "\"";
    for (std::size_t i = 0; i < token.size() && i < kShownTokenMax; ++i) {
        const char c = token[i];
        text += (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    if (token.size() > kShownTokenMax)
        text += "...";
    return text + "\"";
}

struct IdBytes {
    std::array<std::uint8_t, kMaxIdBytes> bytes{};
    std::size_t count = 0;
};

// Adds the bytes of one piece of text. Returns an empty string, or the message for the first
// token that is not a hex byte or that would be a ninth byte.
std::string add_bytes(std::string_view text, IdBytes& id) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        if (is_separator(text[pos])) {
            ++pos;
            continue;
        }
        std::size_t end = pos;
        while (end < text.size() && !is_separator(text[end]))
            ++end;
        const std::string_view token = text.substr(pos, end - pos);
        pos = end;
        std::uint8_t value = 0;
        if (!parse_hex_byte(token, value))
            return shown(token) + " is not a hex byte";
        if (id.count == kMaxIdBytes) {
            return shown(token) + " is one byte too many: a flash ID has 6 to 8 bytes";
        }
        id.bytes[id.count++] = value;
    }
    return {};
}

std::string check_count(const IdBytes& id) {
    if (id.count >= kMinIdBytes)
        return {};
    return std::to_string(id.count) + (id.count == 1 ? " byte" : " bytes") +
           " given: a flash ID has 6 to 8 bytes";
}

bool read_line(std::FILE* in, std::string& line) {
    line.clear();
    int c = std::fgetc(in);
    if (c == EOF)
        return false;
    for (; c != EOF && c != '\n'; c = std::fgetc(in))
        line += static_cast<char>(c);
    return true;
}

int decode_lines(std::FILE* in, std::FILE* out, std::FILE* err) {
    int status = kExitOk;
    std::string line;
    for (unsigned long number = 1; read_line(in, line); ++number) {
        IdBytes id;
        std::string error = add_bytes(line, id);
        // A blank line is no ID at all: it keeps its place in the output without a complaint.
        if (error.empty() && id.count > 0)
            error = check_count(id);
        char description[kFlashDescriptionSize] = "";
        if (!error.empty()) {
            std::fprintf(err, "--decode: line %lu: %s\n", number, error.c_str());
            status = kExitUsage;
        } else if (id.count > 0) {
            decode_flash_id(id.bytes.data(), description);
        }
        std::fprintf(out, "%s\n", description);
    }
    return status;
}

}  // namespace

int run_decode_command(int argc, const char* const* argv, std::FILE* in, std::FILE* out,
                       std::FILE* err) {
    if (argc == 1 && std::strcmp(argv[0], "-") == 0)
        return decode_lines(in, out, err);
    if (argc < 1) {
        std::fputs(
            "--decode: give the 6 to 8 hex bytes of a flash ID (98 3C 98 B3 76 F2 or "
            "0x98,0x3c,...), or - to read one ID a line from standard input\n",
            err);
        return kExitUsage;
    }
    IdBytes id;
    std::string error;
    for (int i = 0; i < argc && error.empty(); ++i)
        error = add_bytes(argv[i], id);
    if (error.empty())
        error = check_count(id);
    if (!error.empty()) {
        std::fprintf(err, "--decode: %s\n", error.c_str());
        return kExitUsage;
    }
    char description[kFlashDescriptionSize];
    if (decode_flash_id(id.bytes.data(), description) == 0) {
        std::fprintf(err, "--decode: unknown flash maker code 0x%02x\n",
                     static_cast<unsigned>(id.bytes[0]));
        return kExitUsage;
    }
    std::fprintf(out, "%s\n", description);
    return kExitOk;
}

}  // namespace torvik
