#include "report/history_line.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <limits>

#include "common/utc_time.h"

namespace torvik {

namespace {

void append_code_point(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

constexpr std::uint32_t kReplacement = 0xFFFD;

// The length of the UTF-8 sequence at text[i], or 0 when none starts there.
std::size_t utf8_length(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t at) {
        return at < text.size() ? static_cast<unsigned char>(text[at]) : 0u;
    };
    const unsigned b0 = byte(i);
    const auto cont = [&](std::size_t at, unsigned lo = 0x80, unsigned hi = 0xBF) {
        const unsigned b = byte(at);
        return b >= lo && b <= hi;
    };
    if (b0 < 0x80)
        return 1;
    if (b0 >= 0xC2 && b0 <= 0xDF)
        return cont(i + 1) ? 2 : 0;
    if (b0 >= 0xE0 && b0 <= 0xEF) {
        const unsigned lo = b0 == 0xE0 ? 0xA0 : 0x80;
        const unsigned hi = b0 == 0xED ? 0x9F : 0xBF;
        return cont(i + 1, lo, hi) && cont(i + 2) ? 3 : 0;
    }
    if (b0 >= 0xF0 && b0 <= 0xF4) {
        const unsigned lo = b0 == 0xF0 ? 0x90 : 0x80;
        const unsigned hi = b0 == 0xF4 ? 0x8F : 0xBF;
        return cont(i + 1, lo, hi) && cont(i + 2) && cont(i + 3) ? 4 : 0;
    }
    return 0;
}

void append_json_string(std::string& out, std::string_view text) {
    out += '"';
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::size_t n = utf8_length(text, i);
        if (n == 0) {
            append_code_point(out, kReplacement);
            ++i;
            continue;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out.append(text.substr(i, n));
        }
        i += n;
    }
    out += '"';
}

class Line {
  public:
    explicit Line(std::string_view text) : p_(text.data()), end_(text.data() + text.size()) {}

    void skip_space() {
        // Lines as the tool writes them have no spaces: one test settles that case.
        while (p_ != end_ && static_cast<unsigned char>(*p_) <= ' ' &&
               (*p_ == ' ' || *p_ == '\t' || *p_ == '\r'))
            ++p_;
    }
    bool take(char c) {
        skip_space();
        if (p_ == end_ || *p_ != c)
            return false;
        ++p_;
        return true;
    }
    bool at_end() {
        skip_space();
        return p_ == end_;
    }
    bool next_is(char c) {
        skip_space();
        return p_ != end_ && *p_ == c;
    }

    // A string, its text (escapes undone) appended to out.
    bool string(std::string& out) {
        if (!take('"'))
            return false;
        while (p_ != end_) {
            const char c = *p_++;
            if (c == '"')
                return true;
            if (static_cast<unsigned char>(c) < 0x20)
                return false;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (p_ == end_)
                return false;
            const char e = *p_++;
            std::uint32_t cp = 0;
            switch (e) {
                case '"':
                case '\\':
                case '/':
                    cp = static_cast<unsigned char>(e);
                    break;
                case 'b':
                    cp = '\b';
                    break;
                case 'f':
                    cp = '\f';
                    break;
                case 'n':
                    cp = '\n';
                    break;
                case 'r':
                    cp = '\r';
                    break;
                case 't':
                    cp = '\t';
                    break;
                case 'u':
                    if (!hex4(cp))
                        return false;
                    if (cp >= 0xD800 && cp <= 0xDBFF && end_ - p_ >= 6 && p_[0] == '\\' &&
                        p_[1] == 'u') {
                        const char* back = p_;
                        p_ += 2;
                        std::uint32_t low = 0;
                        if (hex4(low) && low >= 0xDC00 && low <= 0xDFFF)
                            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                        else
                            p_ = back;
                    }
                    if (cp >= 0xD800 && cp <= 0xDFFF)
                        cp = kReplacement;  // a lone surrogate
                    break;
                default:
                    return false;
            }
            append_code_point(out, cp);
        }
        return false;
    }

    // A string passed over without its text: its end is the first quote that no backslash escapes.
    // What lies between is not checked, as nothing reads it.
    bool skip_string() {
        if (!take('"'))
            return false;
        for (;;) {
            const auto* quote =
                static_cast<const char*>(std::memchr(p_, '"', static_cast<std::size_t>(end_ - p_)));
            if (quote == nullptr)
                return false;
            const char* run = quote;
            while (run != p_ && run[-1] == '\\')
                --run;
            p_ = quote + 1;
            if ((quote - run) % 2 == 0)
                return true;
        }
    }

    // A string's text, escapes undone: most have none and are taken whole.
    bool text(std::string& out) {
        skip_space();
        const char* start = p_;
        std::string_view raw;
        if (!raw_string(raw))
            return false;
        bool plain = true;
        for (const char c : raw)
            plain = plain && c != '\\' && static_cast<unsigned char>(c) >= 0x20;
        if (plain) {
            out.assign(raw);
            return true;
        }
        out.clear();
        p_ = start;
        return string(out);
    }

    // A key as written: a key spelt with escapes matches none the reader knows.
    bool raw_string(std::string_view& view) {
        skip_space();
        const char* start = p_ + 1;
        if (!skip_string())
            return false;
        view = std::string_view(start, static_cast<std::size_t>(p_ - 1 - start));
        return true;
    }

    template <typename T>
    bool number(T& value) {
        skip_space();
        const auto [at, ec] = std::from_chars(p_, end_, value);
        if (ec != std::errc() || (at != end_ && (*at == '.' || *at == 'e' || *at == 'E')))
            return false;
        p_ = at;
        return true;
    }

    bool literal(std::string_view word) {
        skip_space();
        if (static_cast<std::size_t>(end_ - p_) < word.size() ||
            std::string_view(p_, word.size()) != word)
            return false;
        p_ += word.size();
        return true;
    }

    // Any JSON value, nested at most a few levels.
    bool skip_value(int depth = 0) {
        skip_space();
        if (p_ == end_ || depth > 8)
            return false;
        switch (*p_) {
            case '"':
                return skip_string();
            case 't':
                return literal("true");
            case 'f':
                return literal("false");
            case 'n':
                return literal("null");
            case '{':
            case '[': {
                const char close = *p_ == '{' ? '}' : ']';
                ++p_;
                if (take(close))
                    return true;
                do {
                    if (close == '}' && !(skip_string() && take(':')))
                        return false;
                    if (!skip_value(depth + 1))
                        return false;
                } while (take(','));
                return take(close);
            }
            default: {
                // A number, passed over by its characters.
                const char* start = p_;
                while (p_ != end_ && ((*p_ >= '0' && *p_ <= '9') || *p_ == '-' || *p_ == '+' ||
                                      *p_ == '.' || *p_ == 'e' || *p_ == 'E'))
                    ++p_;
                if (p_ == start)
                    return false;
                return true;
            }
        }
    }

  private:
    bool hex4(std::uint32_t& cp) {
        if (end_ - p_ < 4)
            return false;
        cp = 0;
        for (int i = 0; i < 4; ++i) {
            const char h = *p_++;
            const unsigned digit = h >= '0' && h <= '9'   ? static_cast<unsigned>(h - '0')
                                   : h >= 'a' && h <= 'f' ? static_cast<unsigned>(h - 'a' + 10)
                                   : h >= 'A' && h <= 'F' ? static_cast<unsigned>(h - 'A' + 10)
                                                          : 16;
            if (digit == 16)
                return false;
            cp = cp << 4 | digit;
        }
        return true;
    }

    const char* p_;
    const char* end_;
};

constexpr std::int64_t kMaxI64 = std::numeric_limits<std::int64_t>::max();

// The keys the reader takes; every other one is passed over.
enum class Key {
    none,  // no key: bit 0 of a set of keys stays clear
    time_seconds,
    serial,
    percentage_used,
    data_written_bytes,
    power_on_hours,
    average_erase_count,
    other,  // every key the reader does not take; last
};

Key key_of(std::string_view key) {
    // By length first: one comparison at most.
    switch (key.size()) {
        case 12:
            return key == "time_seconds" ? Key::time_seconds : Key::other;
        case 6:
            return key == "serial" ? Key::serial : Key::other;
        case 15:
            return key == "percentage_used" ? Key::percentage_used : Key::other;
        case 18:
            return key == "data_written_bytes" ? Key::data_written_bytes : Key::other;
        case 14:
            return key == "power_on_hours" ? Key::power_on_hours : Key::other;
        case 19:
            return key == "average_erase_count" ? Key::average_erase_count : Key::other;
        default:
            return Key::other;
    }
}

// A figure's value; false when it does not fit.
bool set_figure(Key key, std::uint64_t n, WearPoint& point) {
    switch (key) {
        case Key::percentage_used:
            if (n > std::numeric_limits<unsigned>::max())
                return false;
            point.percentage_used = static_cast<unsigned>(n);
            return true;
        case Key::data_written_bytes:
            point.data_written_bytes = n;
            return true;
        case Key::power_on_hours:
            point.power_on_hours = n;
            return true;
        case Key::average_erase_count:
            point.average_erase_count = n;
            return true;
        case Key::none:
        case Key::other:
        case Key::time_seconds:
        case Key::serial:
            break;
    }
    return false;
}

// The value of at most 19 decimal digits.
std::uint64_t decimal(const char* digits, const char* end) {
    std::uint64_t n = 0;
    for (; digits != end; ++digits)
        n = n * 10 + static_cast<unsigned>(*digits - '0');
    return n;
}

bool figure_into(Line& line, Key key, WearPoint& point) {
    std::uint64_t n = 0;
    return line.number(n) && set_figure(key, n, point);
}

template <typename T>
void add_figure(std::string& out, const char* key, const std::optional<T>& value) {
    if (!value)
        return;
    out += ",\"";
    out += key;
    out += "\":";
    out += std::to_string(*value);
}

// Any JSON object: whitespace, escapes, keys in any order, values of every kind.
bool parse_any_shape(std::string_view text, HistoryRecord& record) {
    Line line(text);
    bool have_time = false;
    bool have_serial = false;
    if (!line.take('{'))
        return false;
    if (!line.take('}')) {
        std::string_view key;
        do {
            if (!line.raw_string(key) || !line.take(':'))
                return false;
            bool ok = true;
            switch (key_of(key)) {
                case Key::time_seconds:
                    ok = line.number(record.point.time);
                    have_time = ok;
                    break;
                case Key::serial:
                    ok = line.text(record.serial);
                    have_serial = ok;
                    break;
                case Key::other:
                    ok = line.skip_value();
                    break;
                default:
                    ok = line.next_is('n') ? line.literal("null")
                                           : figure_into(line, key_of(key), record.point);
                    break;
            }
            if (!ok)
                return false;
        } while (line.take(','));
        if (!line.take('}'))
            return false;
    }
    return line.at_end() && have_time && have_serial;
}

enum class Shape { record, damaged, other };

// The line as the tool writes it: no whitespace, no escapes, integer and string values only. Most
// lines are so, and are read here in one pass at little cost; anything else (other) is left to
// parse_any_shape. The line must close with its brace (a line cut short does not); once every
// key the reader takes has been read, the rest of it is not looked at.
Shape parse_own_shape(std::string_view text, HistoryRecord& record) {
    const char* p = text.data();
    const char* const end = p + text.size();
    if (p == end || *p != '{' || end[-1] != '}' || text.size() < 3)
        return Shape::other;
    ++p;
    bool have_time = false;
    bool have_serial = false;
    unsigned seen = 0;  // the keys taken, one bit each
    constexpr unsigned kAllKeys = (1u << static_cast<unsigned>(Key::other)) - 2;
    for (;;) {
        if (seen == kAllKeys)
            return Shape::record;
        if (*p != '"')
            return Shape::other;
        const char* key_start = ++p;
        const auto* key_end =
            static_cast<const char*>(std::memchr(p, '"', static_cast<std::size_t>(end - p)));
        if (key_end == nullptr || key_end + 2 >= end || key_end[1] != ':')
            return Shape::other;
        // A key with escapes is none the reader knows (their names have none), unless it ends
        // with one before the quote, which would then be no end.
        if (key_end[-1] == '\\')
            return Shape::other;
        const std::string_view key(key_start, static_cast<std::size_t>(key_end - key_start));
        p = key_end + 2;
        const Key which = key_of(key);
        seen |= (1u << static_cast<unsigned>(which)) & kAllKeys;
        if (*p == '"') {
            const char* start = ++p;
            const auto* close =
                static_cast<const char*>(std::memchr(p, '"', static_cast<std::size_t>(end - p)));
            if (close == nullptr || close[-1] == '\\')
                return Shape::other;
            const std::string_view value(start, static_cast<std::size_t>(close - start));
            if (which == Key::serial) {
                for (const char c : value) {
                    if (static_cast<unsigned char>(c) < 0x20 || c == '\\')
                        return Shape::other;  // escapes to undo, or a control byte to refuse
                }
                record.serial.assign(value);
                have_serial = true;
            } else if (which != Key::other) {
                return Shape::damaged;  // a number in quotes
            }
            p = close + 1;
        } else {
            const bool negative = *p == '-';
            p += negative ? 1 : 0;
            const char* digits = p;
            while (p != end && static_cast<unsigned>(*p - '0') < 10)
                ++p;
            // 19 digits always fit in 64 bits; a longer number is left to the careful reader.
            if (p == digits || p - digits > 19 || (p - digits > 1 && *digits == '0'))
                return Shape::other;
            if (which == Key::other) {
                // passed over
            } else if (which == Key::time_seconds) {
                const std::uint64_t n = decimal(digits, p);
                if (n > static_cast<std::uint64_t>(kMaxI64))
                    return Shape::other;
                record.point.time =
                    negative ? -static_cast<std::int64_t>(n) : static_cast<std::int64_t>(n);
                have_time = true;
            } else {
                if (negative || !set_figure(which, decimal(digits, p), record.point))
                    return Shape::damaged;
            }
        }
        if (p == end)
            return Shape::other;
        if (*p == '}')
            return p + 1 == end ? (have_time && have_serial ? Shape::record : Shape::damaged)
                                : Shape::other;
        if (*p++ != ',')
            return Shape::other;
    }
}

}  // namespace

std::string utf8_text(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = utf8_length(text, i);
        if (n == 0)
            append_code_point(out, kReplacement);
        else
            out.append(text.substr(i, n));
        i += n == 0 ? 1 : n;
    }
    return out;
}

std::string history_line(std::int64_t run_time, const char* tool_version, const KeyFigures& k) {
    // The run's time and the drive's serial, then the figures its wear trend reads: a reader
    // finds all it needs at the start of the line.
    std::string out = "{\"time\":\"" + format_utc_time(run_time) +
                      "\",\"time_seconds\":" + std::to_string(run_time) + ",\"serial\":";
    append_json_string(out, k.drive.serial);
    add_figure(out, "percentage_used", k.percentage_used);
    add_figure(out, "data_written_bytes", k.data_written_bytes);
    add_figure(out, "power_on_hours", k.power_on_hours);
    add_figure(out, "average_erase_count", k.average_erase_count);
    out += ",\"model\":";
    append_json_string(out, k.drive.model);
    out += ",\"firmware\":";
    append_json_string(out, k.drive.firmware);
    out += ",\"identity\":";
    out += k.drive.from_nvme ? "\"nvme\"" : "\"bridge\"";
    out += ",\"tool_version\":";
    append_json_string(out, tool_version);
    add_figure(out, "rated_pe_cycles", k.rated_pe_cycles);
    add_figure(out, "available_spare", k.available_spare);
    add_figure(out, "temperature_celsius", k.temperature_celsius);
    add_figure(out, "power_cycles", k.power_cycles);
    add_figure(out, "unsafe_shutdowns", k.unsafe_shutdowns);
    add_figure(out, "media_errors", k.media_errors);
    add_figure(out, "data_read_bytes", k.data_read_bytes);
    out += ",\"verdict\":\"";
    out += verdict_name(k.verdict);
    out += "\"}\n";
    return out;
}

bool parse_history_line(std::string_view text, HistoryRecord& record) {
    record.serial.clear();  // keeps its storage: the caller reuses one record for every line
    record.point = WearPoint{};
    switch (parse_own_shape(text, record)) {
        case Shape::record:
            return true;
        case Shape::damaged:
            return false;
        case Shape::other:
            break;
    }
    record.serial.clear();
    record.point = WearPoint{};
    return parse_any_shape(text, record);
}

}  // namespace torvik
