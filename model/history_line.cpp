#include "model/history_line.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <limits>
#include <system_error>
#include <tuple>
#include <utility>

#include "common/utc_time.h"

namespace torvik {

namespace {

using Json = nlohmann::ordered_json;

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
// The keys the reader takes; every other one is passed over. The texts come first, each with its
// place in HistoryRecord::texts.
enum class Key {
    serial,
    serial_hex,
    model,
    bridge_serial,
    bridge_serial_hex,
    bridge_model,
    identity,
    time_seconds,
    percentage_used,
    data_written_bytes,
    power_on_hours,
    average_erase_count,
    rated_pe_cycles,
    life_used_percent,
    flash_counter,  // one of kFlashCounters
    other,          // a key the reader passes over
};
static_assert(static_cast<std::size_t>(Key::identity) + 1 ==
              std::tuple_size_v<decltype(HistoryRecord::texts)>);

// The keys history_line writes, in its order, with what the reader makes of each.
struct KeyName {
    std::string_view name;
    Key key;
};
constexpr KeyName kLineKeys[] = {
    {"time", Key::other},
    {"time_seconds", Key::time_seconds},
    {"serial", Key::serial},
    {"serial_hex", Key::serial_hex},
    {"percentage_used", Key::percentage_used},
    {"data_written_bytes", Key::data_written_bytes},
    {"power_on_hours", Key::power_on_hours},
    {"average_erase_count", Key::average_erase_count},
    {"model", Key::model},
    {"firmware", Key::other},
    {"identity", Key::identity},
    {"bridge_serial", Key::bridge_serial},
    {"bridge_serial_hex", Key::bridge_serial_hex},
    {"bridge_model", Key::bridge_model},
    {"tool_version", Key::other},
    {"rated_pe_cycles", Key::rated_pe_cycles},
    {"life_used_percent", Key::life_used_percent},
    {"available_spare", Key::other},
    {"temperature_celsius", Key::other},
    {"power_cycles", Key::other},
    {"unsafe_shutdowns", Key::other},
    {"media_errors", Key::other},
    {"data_read_bytes", Key::other},
    {"verdict", Key::other},
};

// A key the reader takes, and the text that stands for it in a line as written: "name": with its
// quotes and colon. The one-pass reader looks for a line's next key at the row after the one
// before, so that a line as written costs one comparison of that text a key; a key found
// elsewhere, or not at all, reads the same.
struct KeyRow {
    std::string_view name;
    Key key = Key::other;
    std::size_t counter = 0;  // of a flash counter: its row of kFlashCounters
    std::array<char, 28> written{};
    std::size_t written_size = 0;
};

constexpr KeyRow key_row(std::string_view name, Key key, std::size_t counter = 0) {
    KeyRow row{name, key, counter};
    if (name.size() + 3 > row.written.size())
        throw "a key too long for its row";
    row.written[0] = '"';
    for (std::size_t i = 0; i < name.size(); ++i)
        row.written[i + 1] = name[i];
    row.written[name.size() + 1] = '"';
    row.written[name.size() + 2] = ':';
    row.written_size = name.size() + 3;
    return row;
}

// The rows in the order of the line: the flash's own counters come last.
constexpr auto kKeys = [] {
    std::array<KeyRow, std::size(kLineKeys) + kFlashCounterCount> rows{};
    std::size_t n = 0;
    for (const KeyName& key : kLineKeys)
        rows[n++] = key_row(key.name, key.key);
    for (std::size_t i = 0; i < kFlashCounterCount; ++i)
        rows[n++] = key_row(kFlashCounters[i].key, Key::flash_counter, i);
    return rows;
}();
constexpr std::size_t kKeyCount = std::size(kKeys);

// The row of kKeys named so, or kKeyCount.
std::size_t row_of(std::string_view name) {
    std::size_t row = 0;
    while (row < kKeyCount && kKeys[row].name != name)
        ++row;
    return row;
}

bool is_text(Key key) {
    return key <= Key::identity;
}

// The record's text for a text key: a view of the line, or of the record's own texts.
void set_text(Key key, std::string_view text, HistoryRecord& record) {
    switch (key) {
        case Key::serial:
            record.serial = text;
            break;
        case Key::serial_hex:
            record.serial_hex = text;
            break;
        case Key::model:
            record.model = text;
            break;
        case Key::bridge_serial:
            record.bridge_serial = text;
            break;
        case Key::bridge_serial_hex:
            record.bridge_serial_hex = text;
            break;
        case Key::bridge_model:
            record.bridge_model = text;
            break;
        case Key::identity:
            record.from_nvme = text == "nvme";
            break;
        default:
            break;
    }
}

// A figure's value, or the time's, by the key's row of kKeys; false when it does not fit or the
// key holds no figure.
[[gnu::always_inline]] inline bool set_figure(std::size_t row, std::uint64_t n, WearPoint& point) {
    constexpr std::uint64_t kMaxUnsigned = std::numeric_limits<unsigned>::max();
    switch (kKeys[row].key) {
        case Key::time_seconds:
            if (n > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
                return false;
            point.time = static_cast<std::int64_t>(n);
            return true;
        case Key::percentage_used:
            if (n > kMaxUnsigned)
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
        case Key::rated_pe_cycles:
            if (n > std::numeric_limits<std::uint32_t>::max())
                return false;
            point.rated_pe_cycles = static_cast<std::uint32_t>(n);
            return true;
        case Key::life_used_percent:
            if (n > kMaxUnsigned)
                return false;
            point.life_used = static_cast<unsigned>(n);
            return true;
        case Key::flash_counter:
            point.flash.set(kKeys[row].counter, n);
            return true;
        default:
            return false;
    }
}

void clear(HistoryRecord& record) {
    // Keeps the careful reader's texts: the caller reuses one record for every line.
    record.serial = record.serial_hex = record.model = {};
    record.bridge_serial = record.bridge_serial_hex = record.bridge_model = {};
    record.from_nvme = false;
    record.point = WearPoint{};
}

template <typename T>
void add_figure(Json& out, const char* key, const std::optional<T>& value) {
    if (value)
        out[key] = *value;
}

// Whether text is one number as JSON writes it: -? (0 | [1-9][0-9]*) (. [0-9]+)? ([eE] [+-]?
// [0-9]+)?
bool json_number(std::string_view text) {
    std::size_t i = text.starts_with('-') ? 1 : 0;
    const auto digits = [&] {
        const std::size_t first = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9')
            ++i;
        return i - first;
    };
    const std::size_t whole = i;
    if (digits() == 0 || (text[whole] == '0' && i - whole > 1))
        return false;
    if (i < text.size() && text[i] == '.' && (++i, digits() == 0))
        return false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-'))
            ++i;
        if (digits() == 0)
            return false;
    }
    return i == text.size();
}

// text with every number outside a double's range (1e309, 400 digits) written as 0.5, which the
// JSON library reads: it refuses the whole text for such a number, where a key the reader passes
// over may hold any value. 0.5 is no figure, time or text either, so a key the reader takes still
// refuses it. Empty when text has none.
std::string with_huge_numbers_tamed(std::string_view text) {
    std::string tamed;
    std::size_t copied = 0;
    bool in_string = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (in_string) {
            if (c == '\\')
                ++i;  // the escaped byte cannot end the string
            else if (c == '"')
                in_string = false;
            continue;
        }
        if (c == '"') {
            in_string = true;
            continue;
        }
        if (c != '-' && (c < '0' || c > '9'))
            continue;
        const std::size_t end = std::min(text.find_first_not_of("0123456789+-.eE", i), text.size());
        const std::string_view number = text.substr(i, end - i);
        double value = 0;
        if (json_number(number) &&
            std::from_chars(number.data(), number.data() + number.size(), value).ec ==
                std::errc::result_out_of_range) {
            tamed.append(text.substr(copied, i - copied)).append("0.5");
            copied = end;
        }
        i = end - 1;
    }
    return copied == 0 ? std::string() : tamed.append(text.substr(copied));
}

// Any JSON object, read by the JSON library: whitespace, escapes, keys in any order and more
// than once (the last one counts), values of every kind.
bool parse_any_shape(std::string_view text, HistoryRecord& record) {
    Json doc = Json::parse(text.begin(), text.end(), nullptr, false);
    if (doc.is_discarded()) {
        const std::string tamed = with_huge_numbers_tamed(text);
        if (!tamed.empty())
            doc = Json::parse(tamed.begin(), tamed.end(), nullptr, false);
    }
    if (!doc.is_object())
        return false;  // not JSON (the library's "discarded" value), or no object
    bool have_time = false;
    bool have_serial = false;
    for (const auto& item : doc.items()) {
        const std::size_t row = row_of(item.key());
        const Key key = row < kKeyCount ? kKeys[row].key : Key::other;
        const Json& value = item.value();
        if (key == Key::other)
            continue;
        if (key == Key::time_seconds) {
            if (!value.is_number_integer() ||
                (value.is_number_unsigned() &&
                 value.get<std::uint64_t>() >
                     static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())))
                return false;
            record.point.time = value.get<std::int64_t>();
            have_time = true;
        } else if (is_text(key)) {
            if (value.is_string()) {
                std::string& text = record.texts[static_cast<std::size_t>(key)];
                text = value.get<std::string>();
                set_text(key, text, record);
                have_serial = have_serial || key == Key::serial;
            } else if (key == Key::serial || !value.is_null()) {
                return false;
            }
        } else if (!value.is_null()) {
            if (!value.is_number_unsigned() ||
                !set_figure(row, value.get<std::uint64_t>(), record.point))
                return false;
        }
    }
    return have_time && have_serial;
}

// The one-pass reader reads a line up to its closing brace, which stops every key, string and
// number there at the latest: a byte is read without asking where the line ends.
//
// The bytes it takes inside a string: printable ASCII but the quote, the backslash and the closing
// brace. Escapes, control bytes, UTF-8 sequences and braces are the careful reader's.
constexpr std::array<bool, 256> kPlainByte = [] {
    std::array<bool, 256> plain{};
    for (unsigned c = 0x20; c < 0x80; ++c)
        plain[c] = c != '"' && c != '\\' && c != '}';
    return plain;
}();

// The text of a plain string at p, its opening quote read already; p moves past its closing quote.
bool plain_string(const char*& p, std::string_view& text) {
    const char* start = p;
    while (kPlainByte[static_cast<unsigned char>(*p)])
        ++p;
    if (*p != '"')
        return false;
    text = std::string_view(start, static_cast<std::size_t>(p++ - start));
    return true;
}

// An unsigned integer of 1 to 19 digits without a leading zero (so that it fits in 64 bits), read
// digit by digit. False for any other number: a longer one, a fraction or an exponent is the
// careful reader's.
bool plain_number(const char*& p, std::uint64_t& n) {
    const char* start = p;
    n = 0;
    for (unsigned digit; (digit = static_cast<unsigned char>(*p) - unsigned{'0'}) < 10; ++p)
        n = n * 10 + digit;
    const auto digits = p - start;
    return digits >= 1 && digits <= 19 && (*start != '0' || digits == 1);
}

// The row of kKeys whose key is at p (its opening quote), p then past the colon after it: the row
// `next` first, then the rows after it (the line leaves a figure out), then any other (a key out
// of the written order); kKeyCount for a key the reader does not take. False for a key that is no
// plain string or has no colon.
bool same_bytes(const char* a, const char* b, std::size_t n) {
    std::uint64_t x = 0;
    std::uint64_t y = 0;
    if (n < 8)
        return std::memcmp(a, b, n) == 0;
    for (std::size_t i = 0; i + 8 < n; i += 8) {
        std::memcpy(&x, a + i, 8);
        std::memcpy(&y, b + i, 8);
        if (x != y)
            return false;
    }
    std::memcpy(&x, a + n - 8, 8);
    std::memcpy(&y, b + n - 8, 8);
    return x == y;
}

bool line_key(const char*& p, const char* end, std::size_t next, std::size_t& row) {
    for (row = next; row < kKeyCount; ++row) {
        const KeyRow& key = kKeys[row];
        if (static_cast<std::size_t>(end - p) > key.written_size &&
            same_bytes(p, key.written.data(), key.written_size)) {
            p += key.written_size;
            return true;
        }
    }
    std::string_view name;
    if (*p++ != '"' || !plain_string(p, name) || *p++ != ':')
        return false;
    row = row_of(name);
    return true;
}

// The flash's own counters, which close a line as written, each "key":digits in the order of
// kFlashCounters: read one after the other from the one whose value is at p, row its row. p ends
// past the last value read, row at the row after it.
bool flash_counters(const char*& p, const char* end, std::size_t& row, FlashCounts& counts) {
    for (;;) {
        std::uint64_t n = 0;
        if (!plain_number(p, n))
            return false;
        counts.set(kKeys[row].counter, n);
        if (++row == kKeyCount || p == end || *p != ',')
            return true;
        const KeyRow& key = kKeys[row];
        if (static_cast<std::size_t>(end - p) <= key.written_size + 1 ||
            !same_bytes(p + 1, key.written.data(), key.written_size))
            return true;
        p += key.written_size + 1;
    }
}

// The line in the plain shape the tool writes: one object, no whitespace, keys and texts of
// printable ASCII without escapes, integers where the tool writes numbers (the temperature may be
// below zero). Most lines are so, and are read here in one pass; for anything else (false) the
// caller asks parse_any_shape, which reads every line this one takes with the same result.
bool parse_own_shape(std::string_view text, HistoryRecord& record) {
    if (text.size() < 2 || text.front() != '{' || text.back() != '}')
        return false;
    clear(record);
    const char* p = text.data() + 1;
    const char* const end = text.data() + text.size() - 1;  // the closing brace
    std::size_t next = 0;  // the row of kKeys after the one of the key before
    // No time yet: a plain number is never below zero. No serial yet: a view of nothing.
    record.point.time = -1;
    for (;;) {
        std::size_t row = kKeyCount;
        if (!line_key(p, end, next, row))
            return false;
        const Key key = row < kKeyCount ? kKeys[row].key : Key::other;
        next = row < kKeyCount ? row + 1 : next;
        // The value the key's row expects. A key given twice counts by its last value here too:
        // each value overwrites the one before.
        std::string_view value;
        std::uint64_t n = 0;
        if (key == Key::other) {  // a string or an integer, passed over
            if (*p == '"' ? !plain_string(++p, value) : !plain_number(p += *p == '-' ? 1 : 0, n))
                return false;
        } else if (is_text(key)) {
            if (*p != '"' || !plain_string(++p, value))
                return false;
            set_text(key, value, record);
        } else if (key == Key::flash_counter) {
            if (!flash_counters(p, end, row, record.point.flash))
                return false;
            next = row;
        } else {  // a figure, or the time
            if (!plain_number(p, n) || !set_figure(row, n, record.point))
                return false;
        }
        if (p == end)
            return record.point.time >= 0 && record.serial.data() != nullptr;
        if (*p++ != ',')
            return false;
    }
}

}  // namespace

std::string utf8_text(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = utf8_length(text, i);
        if (n == 0)
            out += "\xEF\xBF\xBD";  // U+FFFD
        else
            out.append(text.substr(i, n));
        i += n == 0 ? 1 : n;
    }
    return out;
}

std::string history_line(std::int64_t run_time, const char* tool_version, const KeyFigures& k) {
    // The run's time and the drive's serial, then the figures its wear trend reads and who the
    // drive is: a reader finds all it needs at the start of the line.
    Json out;
    out["time"] = format_utc_time(run_time);
    out["time_seconds"] = run_time;
    out["serial"] = utf8_text(k.drive.serial);
    if (std::string hex = serial_hex(k.drive.serial); !hex.empty())
        out["serial_hex"] = std::move(hex);
    add_figure(out, "percentage_used", k.percentage_used);
    add_figure(out, "data_written_bytes", k.data_written_bytes);
    add_figure(out, "power_on_hours", k.power_on_hours);
    add_figure(out, "average_erase_count", k.average_erase_count);
    out["model"] = utf8_text(k.drive.model);
    out["firmware"] = utf8_text(k.drive.firmware);
    out["identity"] = k.drive.from_nvme ? "nvme" : "bridge";
    out["bridge_serial"] = utf8_text(k.drive.bridge_serial);
    if (std::string hex = serial_hex(k.drive.bridge_serial); !hex.empty())
        out["bridge_serial_hex"] = std::move(hex);
    out["bridge_model"] = utf8_text(k.drive.bridge_model);
    out["tool_version"] = utf8_text(tool_version);
    add_figure(out, "rated_pe_cycles", k.rated_pe_cycles);
    add_figure(out, "life_used_percent", k.life_used);
    add_figure(out, "available_spare", k.available_spare);
    add_figure(out, "temperature_celsius", k.temperature_celsius);
    add_figure(out, "power_cycles", k.power_cycles);
    add_figure(out, "unsafe_shutdowns", k.unsafe_shutdowns);
    add_figure(out, "media_errors", k.media_errors);
    add_figure(out, "data_read_bytes", k.data_read_bytes);
    out["verdict"] = verdict_name(k.verdict);
    for (std::size_t i = 0; i < kFlashCounterCount; ++i) {
        if (k.flash_counters.has(i))
            out[kFlashCounters[i].key] = k.flash_counters.value[i];
    }
    return out.dump() + "\n";
}

namespace {

bool same_serial(std::string_view text, std::string_view hex, std::string_view run_serial,
                 std::string_view run_hex) {
    if (!run_hex.empty())
        return hex == run_hex;
    return hex.empty() && text == run_serial;
}

}  // namespace

RunIdentity::RunIdentity(const DriveKey& run)
    : key(run),
      serial_hex(torvik::serial_hex(run.serial)),
      model(utf8_text(run.model)),
      bridge_serial_hex(torvik::serial_hex(run.bridge_serial)),
      bridge_model(utf8_text(run.bridge_model)) {}

bool same_drive(const HistoryRecord& record, const RunIdentity& run) {
    if (run.key.from_nvme)
        return record.from_nvme &&
               same_serial(record.serial, record.serial_hex, run.key.serial, run.serial_hex) &&
               record.model == run.model;
    if (!record.bridge_serial.empty() || !record.bridge_serial_hex.empty())
        return same_serial(record.bridge_serial, record.bridge_serial_hex, run.key.bridge_serial,
                           run.bridge_serial_hex) &&
               record.bridge_model == run.bridge_model;
    return !record.from_nvme &&
           same_serial(record.serial, record.serial_hex, run.key.bridge_serial,
                       run.bridge_serial_hex) &&
           record.model == run.bridge_model;
}

bool parse_history_line(std::string_view text, HistoryRecord& record) {
    return parse_own_shape(text, record) || parse_history_line_carefully(text, record);
}

bool parse_history_line_in_one_pass(std::string_view text, HistoryRecord& record) {
    return parse_own_shape(text, record);
}

bool parse_history_line_carefully(std::string_view text, HistoryRecord& record) {
    clear(record);
    return parse_any_shape(text, record);
}

}  // namespace torvik
