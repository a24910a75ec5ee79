#include "report/history_line.h"

#include <charconv>
#include <cstdio>
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
        while (p_ != end_ && (*p_ == ' ' || *p_ == '\t' || *p_ == '\r'))
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

    // A string; its text (escapes undone) into out unless out is nullptr.
    bool string(std::string* out) {
        if (!take('"'))
            return false;
        while (p_ != end_) {
            const char c = *p_++;
            if (c == '"')
                return true;
            if (static_cast<unsigned char>(c) < 0x20)
                return false;
            if (c != '\\') {
                if (out != nullptr)
                    *out += c;
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
            if (out != nullptr)
                append_code_point(*out, cp);
        }
        return false;
    }

    bool raw_string(std::string_view& view) {
        skip_space();
        const char* start = p_ + 1;
        if (!string(nullptr))
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
                return string(nullptr);
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
                    if (close == '}' && !(string(nullptr) && take(':')))
                        return false;
                    if (!skip_value(depth + 1))
                        return false;
                } while (take(','));
                return take(close);
            }
            default: {
                double ignored = 0;
                skip_space();
                const auto [at, ec] = std::from_chars(p_, end_, ignored);
                if (ec != std::errc())
                    return false;
                p_ = at;
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

// A figure: an unsigned number, or null for none.
template <typename T>
bool figure(Line& line, std::optional<T>& value) {
    if (line.next_is('n'))
        return line.literal("null");
    std::uint64_t n = 0;
    if (!line.number(n) || n > std::numeric_limits<T>::max())
        return false;
    value = static_cast<T>(n);
    return true;
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
    std::string out = "{\"time\":\"" + format_utc_time(run_time) +
                      "\",\"time_seconds\":" + std::to_string(run_time) + ",\"tool_version\":";
    append_json_string(out, tool_version);
    out += ",\"serial\":";
    append_json_string(out, k.drive.serial);
    out += ",\"model\":";
    append_json_string(out, k.drive.model);
    out += ",\"firmware\":";
    append_json_string(out, k.drive.firmware);
    out += ",\"identity\":";
    out += k.drive.from_nvme ? "\"nvme\"" : "\"bridge\"";
    add_figure(out, "percentage_used", k.percentage_used);
    add_figure(out, "available_spare", k.available_spare);
    add_figure(out, "temperature_celsius", k.temperature_celsius);
    add_figure(out, "power_on_hours", k.power_on_hours);
    add_figure(out, "power_cycles", k.power_cycles);
    add_figure(out, "unsafe_shutdowns", k.unsafe_shutdowns);
    add_figure(out, "media_errors", k.media_errors);
    add_figure(out, "data_read_bytes", k.data_read_bytes);
    add_figure(out, "data_written_bytes", k.data_written_bytes);
    add_figure(out, "average_erase_count", k.average_erase_count);
    add_figure(out, "rated_pe_cycles", k.rated_pe_cycles);
    out += ",\"verdict\":\"";
    out += verdict_name(k.verdict);
    out += "\"}\n";
    return out;
}

bool parse_history_line(std::string_view text, HistoryRecord& record) {
    record.serial.clear();  // keeps its storage: the caller reuses one record for every line
    record.point = WearPoint{};
    Line line(text);
    bool have_time = false;
    bool have_serial = false;
    if (!line.take('{'))
        return false;
    if (!line.take('}')) {
        std::string_view key;  // as written: a key spelt with escapes is one we do not know
        do {
            if (!line.raw_string(key) || !line.take(':'))
                return false;
            WearPoint& p = record.point;
            bool ok = true;
            if (key == "time_seconds") {
                ok = line.number(p.time);
                have_time = ok;
            } else if (key == "serial") {
                record.serial.clear();
                ok = line.string(&record.serial);
                have_serial = ok;
            } else if (key == "percentage_used") {
                ok = figure(line, p.percentage_used);
            } else if (key == "data_written_bytes") {
                ok = figure(line, p.data_written_bytes);
            } else if (key == "power_on_hours") {
                ok = figure(line, p.power_on_hours);
            } else if (key == "average_erase_count") {
                ok = figure(line, p.average_erase_count);
            } else {
                ok = line.skip_value();
            }
            if (!ok)
                return false;
        } while (line.take(','));
        if (!line.take('}'))
            return false;
    }
    return line.at_end() && have_time && have_serial;
}

}  // namespace torvik
