#include "app/decode_command.h"

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "app/exit_status.h"
#include "app/program_message.h"
#include "common/hex.h"
#include "flashid/flash_id.h"

namespace torvik {

namespace {

constexpr std::size_t kMinIdBytes = 6;
constexpr std::size_t kMaxIdBytes = 8;  // a flash ID is 8 bytes; missing bytes 6 and 7 are zero
constexpr std::size_t kShownTokenMax = 24;
// The longest line of "--decode -", line end not counted; a longer one is reported and skipped.
constexpr std::size_t kMaxLineBytes = 4096;
// Input is read, and output written, in blocks of this size.
constexpr std::size_t kBlockBytes = 64 * 1024;

// Per byte value: the value of a hex digit (0 to 15), or one of these classes.
constexpr std::uint8_t kSeparator = 16;
constexpr std::uint8_t kPrefixX = 17;  // x or X, as in 0x
constexpr std::uint8_t kOther = 18;

constexpr std::array<std::uint8_t, 256> make_char_classes() {
    std::array<std::uint8_t, 256> classes{};
    for (int c = 0; c < 256; ++c) {
        const int digit = hex_digit(static_cast<char>(c));
        classes[c] = digit < 0 ? kOther : static_cast<std::uint8_t>(digit);
    }
    for (char c : {' ', '\t', ',', '\r', '\n'})
        classes[static_cast<unsigned char>(c)] = kSeparator;
    classes['x'] = kPrefixX;
    classes['X'] = kPrefixX;
    return classes;
}
constexpr std::array<std::uint8_t, 256> kCharClasses = make_char_classes();

unsigned class_of(char c) {
    return kCharClasses[static_cast<unsigned char>(c)];
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

enum class BytesError { none, not_hex, one_too_many };

// Adds the bytes of one piece of text, in one pass: tokens between separators, each one or two
// hex digits with or without 0x. On an error, bad is the first token that is not a hex byte or
// that would be a ninth byte.
BytesError add_bytes(std::string_view text, IdBytes& id, std::string_view& bad) {
    const char* p = text.data();
    const char* const end = p + text.size();
    for (;;) {
        while (p != end && class_of(*p) == kSeparator)
            ++p;
        if (p == end)
            return BytesError::none;
        const char* const start = p;
        if (end - p > 2 && p[0] == '0' && class_of(p[1]) == kPrefixX)
            p += 2;
        unsigned value = class_of(*p);
        bool hex = value < 16;
        if (hex) {
            ++p;
            if (p != end && class_of(*p) < 16)
                value = value * 16 + class_of(*p++);
            hex = p == end || class_of(*p) == kSeparator;
        }
        if (!hex || id.count == kMaxIdBytes) {
            while (p != end && class_of(*p) != kSeparator)
                ++p;
            bad = std::string_view(start, static_cast<std::size_t>(p - start));
            return hex ? BytesError::one_too_many : BytesError::not_hex;
        }
        id.bytes[id.count++] = static_cast<std::uint8_t>(value);
    }
}

// The message for what add_bytes found, or for fewer than six bytes; empty for a flash ID.
std::string bytes_message(BytesError error, std::string_view bad, const IdBytes& id) {
    switch (error) {
        case BytesError::not_hex:
            return shown(bad) + " is not a hex byte";
        case BytesError::one_too_many:
            return shown(bad) + " is one byte too many: a flash ID has 6 to 8 bytes";
        case BytesError::none:
            break;
    }
    if (id.count >= kMinIdBytes)
        return {};
    return std::to_string(id.count) + (id.count == 1 ? " byte" : " bytes") +
           " given: a flash ID has 6 to 8 bytes";
}

// "--decode -" reads its input in blocks and hands out one line at a time, as a view into the
// block; a line longer than kMaxLineBytes is skipped without being kept whole. A line's bytes are
// those before its '\n' (a CR before it included); the last line may lack its '\n'.
class LineReader {
  public:
    enum class Result { line, too_long, end };

    // line_at_a_time reads no further than the end of a line, so a typed line is answered
    // before the next one is waited for.
    LineReader(std::FILE* in, bool line_at_a_time) : in_(in), line_at_a_time_(line_at_a_time) {}

    // The error that ended the input early, 0 for none.
    int read_error() const { return read_error_; }

    // The next line; its text stays valid until the next call.
    Result next(std::string_view& line) {
        for (;;) {
            const std::size_t pending = end_ - begin_;
            if (const void* found = std::memchr(buffer_.data() + begin_, '\n', pending)) {
                const std::size_t length =
                    static_cast<std::size_t>(static_cast<const char*>(found) - buffer_.data()) -
                    begin_;
                line = std::string_view(buffer_.data() + begin_, length);
                begin_ += length + 1;
                return length > kMaxLineBytes ? Result::too_long : Result::line;
            }
            if (pending > kMaxLineBytes) {
                skip_to_next_line();
                return Result::too_long;
            }
            if (at_end_) {
                if (pending == 0)
                    return Result::end;
                line = std::string_view(buffer_.data() + begin_, pending);
                begin_ = end_;
                return Result::line;
            }
            refill();
        }
    }

  private:
    // Moves the start of the line to the front of the buffer and reads after it.
    void refill() {
        const std::size_t pending = end_ - begin_;
        std::memmove(buffer_.data(), buffer_.data() + begin_, pending);
        begin_ = 0;
        end_ = pending;
        const std::size_t wanted = buffer_.size() - end_;
        if (line_at_a_time_) {
            // Up to and with the line's '\n', and no further.
            int c = 0;
            while (end_ < buffer_.size() && (c = std::getc(in_)) != EOF) {
                buffer_[end_++] = static_cast<char>(c);
                if (c == '\n')
                    break;
            }
            at_end_ = c == EOF;
        } else {
            const std::size_t got = std::fread(buffer_.data() + end_, 1, wanted, in_);
            end_ += got;
            at_end_ = got < wanted;  // the end of the input, or an error reading it
        }
        if (at_end_ && std::ferror(in_) != 0)
            read_error_ = errno != 0 ? errno : EIO;
    }

    // Drops the rest of a line that is too long, its '\n' included.
    void skip_to_next_line() {
        for (;;) {
            if (const void* found = std::memchr(buffer_.data() + begin_, '\n', end_ - begin_)) {
                begin_ =
                    static_cast<std::size_t>(static_cast<const char*>(found) - buffer_.data()) + 1;
                return;
            }
            begin_ = end_;
            if (at_end_)
                return;
            refill();
        }
    }

    std::FILE* in_;
    bool line_at_a_time_;
    std::array<char, kBlockBytes> buffer_;  // the lines read; [begin_, end_) not handed out yet
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    bool at_end_ = false;
    int read_error_ = 0;
};
static_assert(kBlockBytes > kMaxLineBytes, "a line of the longest length fits a block");

// The output of "--decode -", gathered in one block and written out when it fills up.
class OutputBuffer {
  public:
    explicit OutputBuffer(std::FILE* out) : out_(out) {}

    // Room for n more bytes; false when writing out what was gathered failed.
    bool make_room(std::size_t n) { return used_ + n <= buffer_.size() || write_out(); }
    char* end() { return buffer_.data() + used_; }
    void commit(std::size_t n) { used_ += n; }

    // Everything gathered written out, and the stream flushed, with every error checked.
    bool finish() { return write_out() && flushed_cleanly(out_); }

  private:
    bool write_out() {
        const std::size_t n = used_;
        used_ = 0;
        return std::fwrite(buffer_.data(), 1, n, out_) == n;
    }

    std::FILE* out_;
    std::array<char, kBlockBytes> buffer_;
    std::size_t used_ = 0;
};

// Writes a failed output's message; returns the status of the failure.
int output_failed(std::FILE* err) {
    const int error = errno;
    std::fprintf(err, "--decode: writing the output failed: %s\n",
                 error != 0 ? std::strerror(error) : "write error");
    return kExitUsage;
}

// "--decode: line N: unknown flash maker code 0xHH", put together by hand and written at once:
// bulk input may hold many such lines, and standard error is unbuffered.
void say_unknown_maker(std::FILE* err, unsigned long number, std::uint8_t code) {
    constexpr std::string_view kLine = "--decode: line ";
    constexpr std::string_view kUnknown = ": unknown flash maker code 0x";
    constexpr char kHex[] = "0123456789abcdef";
    char text[96];
    char* at = std::copy(kLine.begin(), kLine.end(), text);
    char digits[24];
    std::size_t n = 0;
    do {
        digits[n++] = static_cast<char>('0' + number % 10);
        number /= 10;
    } while (number != 0);
    while (n > 0)
        *at++ = digits[--n];
    at = std::copy(kUnknown.begin(), kUnknown.end(), at);
    *at++ = kHex[code >> 4];
    *at++ = kHex[code & 0xf];
    *at++ = '\n';
    std::fwrite(text, 1, static_cast<std::size_t>(at - text), err);
}

int decode_lines(std::FILE* in, std::FILE* out, std::FILE* err, bool line_at_a_time) {
    int status = kExitOk;
    LineReader reader(in, line_at_a_time);
    OutputBuffer output(out);
    std::string_view line;
    std::string_view bad;
    errno = 0;
    for (unsigned long number = 1;; ++number) {
        const LineReader::Result result = reader.next(line);
        if (result == LineReader::Result::end)
            break;
        if (!output.make_room(kFlashDescriptionSize + 1))
            return output_failed(err);
        char* text = output.end();
        std::size_t length = 0;
        IdBytes id;
        if (result == LineReader::Result::too_long) {
            std::fprintf(err, "--decode: line %lu: longer than %lu bytes\n", number,
                         static_cast<unsigned long>(kMaxLineBytes));
            status = kExitUsage;
        } else if (const BytesError error = add_bytes(line, id, bad);
                   error != BytesError::none || (id.count > 0 && id.count < kMinIdBytes)) {
            // A blank line (no bytes) is no ID at all: it keeps its place in the output without
            // a complaint.
            std::fprintf(err, "--decode: line %lu: %s\n", number,
                         bytes_message(error, bad, id).c_str());
            status = kExitUsage;
        } else if (id.count > 0) {
            // An unknown maker keeps its (empty) line, so the answers stay in step with the input.
            if (decode_flash_id(id.bytes.data(), text) != 0) {
                length = std::strlen(text);
            } else {
                say_unknown_maker(err, number, id.bytes[0]);
                status = kExitUsage;
            }
        }
        text[length] = '\n';
        output.commit(length + 1);
        if (line_at_a_time && !output.finish())
            return output_failed(err);
    }
    if (!output.finish())
        return output_failed(err);
    if (reader.read_error() != 0) {
        // The lines up to the failure are answered; the rest of the input is not.
        std::fprintf(err, "--decode: reading the input failed: %s\n",
                     std::strerror(reader.read_error()));
        return kExitUsage;
    }
    return status;
}

}  // namespace

int run_decode_command(int argc, const char* const* argv, std::FILE* in, std::FILE* out,
                       std::FILE* err, bool line_at_a_time) {
    if (argc == 1 && std::strcmp(argv[0], "-") == 0)
        return decode_lines(in, out, err, line_at_a_time);
    if (argc < 1) {
        std::fputs(
            "--decode: give the 6 to 8 hex bytes of a flash ID (98 3C 98 B3 76 F2 or "
            "0x98,0x3c,...), or - to read one ID a line from standard input\n",
            err);
        return kExitUsage;
    }
    IdBytes id;
    std::string_view bad;
    BytesError bytes_error = BytesError::none;
    for (int i = 0; i < argc && bytes_error == BytesError::none; ++i)
        bytes_error = add_bytes(argv[i], id, bad);
    const std::string error = bytes_message(bytes_error, bad, id);
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
    errno = 0;
    if (std::fprintf(out, "%s\n", description) < 0 || !flushed_cleanly(out))
        return output_failed(err);
    return kExitOk;
}

int close_decode_output(std::FILE* out, std::FILE* err, int status) {
    errno = 0;
    // After a failed run the close is only tidying up: its failure, if any, repeats the
    // failure already reported (a closed or full output).
    if (std::fclose(out) != 0 && status == kExitOk)
        return output_failed(err);
    return status;
}

}  // namespace torvik
