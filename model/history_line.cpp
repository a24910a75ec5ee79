#include "model/history_line.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <utility>

#include "common/bytes.h"
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

// The keys the reader takes; every other one is passed over.
enum class Key {
    none,  // no key: bit 0 of a set of keys stays clear
    time_seconds,
    serial,
    serial_hex,
    percentage_used,
    data_written_bytes,
    power_on_hours,
    average_erase_count,
    rated_pe_cycles,
    life_used_percent,
    model,
    identity,
    bridge_serial,
    bridge_serial_hex,
    bridge_model,
    other,  // every key the reader does not take; last
};

struct KeyName {
    std::string_view name;
    Key key;
};
constexpr KeyName kKeyNames[] = {
    {"time_seconds", Key::time_seconds},
    {"serial", Key::serial},
    {"serial_hex", Key::serial_hex},
    {"percentage_used", Key::percentage_used},
    {"data_written_bytes", Key::data_written_bytes},
    {"power_on_hours", Key::power_on_hours},
    {"average_erase_count", Key::average_erase_count},
    {"rated_pe_cycles", Key::rated_pe_cycles},
    {"life_used_percent", Key::life_used_percent},
    {"model", Key::model},
    {"identity", Key::identity},
    {"bridge_serial", Key::bridge_serial},
    {"bridge_serial_hex", Key::bridge_serial_hex},
    {"bridge_model", Key::bridge_model},
};

Key key_of(std::string_view key) {
    for (const KeyName& k : kKeyNames) {
        if (k.name == key)
            return k.key;
    }
    return Key::other;
}

bool is_text(Key key) {
    switch (key) {
        case Key::serial:
        case Key::serial_hex:
        case Key::model:
        case Key::identity:
        case Key::bridge_serial:
        case Key::bridge_serial_hex:
        case Key::bridge_model:
            return true;
        default:
            return false;
    }
}

void set_text(Key key, std::string_view text, HistoryRecord& record) {
    switch (key) {
        case Key::serial:
            record.serial.assign(text);
            break;
        case Key::serial_hex:
            record.serial_hex.assign(text);
            break;
        case Key::model:
            record.model.assign(text);
            break;
        case Key::identity:
            record.from_nvme = text == "nvme";
            break;
        case Key::bridge_serial:
            record.bridge_serial.assign(text);
            break;
        case Key::bridge_serial_hex:
            record.bridge_serial_hex.assign(text);
            break;
        case Key::bridge_model:
            record.bridge_model.assign(text);
            break;
        default:
            break;
    }
}

// A figure's value, or the time's; false when it does not fit or the key holds no figure.
bool set_figure(Key key, std::uint64_t n, WearPoint& point) {
    constexpr std::uint64_t kMaxUnsigned = std::numeric_limits<unsigned>::max();
    switch (key) {
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
        default:
            return false;
    }
}

template <typename T>
void add_figure(Json& out, const char* key, const std::optional<T>& value) {
    if (value)
        out[key] = *value;
}

// Any JSON object, read by the JSON library: whitespace, escapes, keys in any order and more
// than once (the last one counts), values of every kind.
bool parse_any_shape(std::string_view text, HistoryRecord& record) {
    const Json doc = Json::parse(text.begin(), text.end(), nullptr, false);
    if (!doc.is_object())
        return false;  // not JSON (the library's "discarded" value), or no object
    bool have_time = false;
    bool have_serial = false;
    for (const auto& item : doc.items()) {
        const Key key = key_of(item.key());
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
        } else if (key == Key::serial) {
            if (!value.is_string())
                return false;
            record.serial = value.get<std::string>();
            have_serial = true;
        } else if (is_text(key)) {
            if (value.is_string())
                set_text(key, value.get<std::string>(), record);
            else if (!value.is_null())
                return false;
        } else if (!value.is_null()) {
            if (!value.is_number_unsigned() ||
                !set_figure(key, value.get<std::uint64_t>(), record.point))
                return false;
        }
    }
    return have_time && have_serial;
}

// The one-pass reader reads a copy of the line followed by this many zero bytes, so that it takes
// a field's lead (24 bytes), a string's next sixteen bytes or a number's next eight without asking
// where the line ends: a zero byte ends any string, number or lead there. Longer lines go to the
// careful reader.
constexpr std::size_t kFastLineLimit = 4096;
constexpr std::size_t kSlack = 32;

constexpr std::uint64_t kOnes = 0x0101010101010101u;
constexpr std::uint64_t kHigh = 0x8080808080808080u;

// Eight bytes of text as one number, the first byte lowest, on any host.
inline std::uint64_t load8(const char* p) {
    return get_le64(reinterpret_cast<const std::uint8_t*>(p));
}

// Whether two texts hold the same bytes: most are short, and compared by two or three words.
__attribute__((always_inline)) inline bool same_text(std::string_view a, std::string_view b) {
    const std::size_t n = a.size();
    if (n != b.size())
        return false;
    if (n < 8 || n > 24)
        return a == b;
    const auto at = [&](std::size_t i) { return load8(a.data() + i) ^ load8(b.data() + i); };
    return (at(0) | at(n / 2 - 4) | at(n - 8)) == 0;
}

// Sixteen bytes compared at once: GCC's and Clang's vector type, which becomes one register where
// the processor has them.
typedef signed char Bytes16 __attribute__((vector_size(16)));

// The index of the first byte of a word of compared bytes (each 0 or 0xFF) that is set.
inline unsigned first_set_byte(std::uint64_t flags) {
    if constexpr (std::endian::native == std::endian::big)
        return static_cast<unsigned>(std::countl_zero(flags)) / 8;
    return static_cast<unsigned>(std::countr_zero(flags)) / 8;
}

// The first byte at or after p that ends a plain string: a quote, a backslash, a control byte (the
// zeros after the line among them) or a byte of a multi-byte UTF-8 sequence, which as a signed
// byte is below 0x20 too.
__attribute__((always_inline)) inline const char* plain_string_end(const char* p) {
    for (;; p += 16) {
        Bytes16 v;
        std::memcpy(&v, p, sizeof v);
        const Bytes16 hit = (v == '"') | (v == '\\') | (0x20 > v);
        std::uint64_t half[2];
        std::memcpy(half, &hit, sizeof half);
        if (half[0] != 0)
            return p + first_set_byte(half[0]);
        if (half[1] != 0)
            return p + 8 + first_set_byte(half[1]);
    }
}

// How many of the eight bytes of w, from the first, are decimal digits.
inline unsigned leading_digits(std::uint64_t w) {
    // With '0' taken away by xor, a digit is 0 to 9: its top bit clear, and still clear after
    // adding 0x76. A sum carries into the byte above only out of a byte whose top bit is set
    // already, so the lowest flagged byte is exact.
    const std::uint64_t x = w ^ (kOnes * '0');
    const std::uint64_t not_digit = (x | (x + kOnes * 0x76)) & kHigh;
    return not_digit == 0 ? 8 : static_cast<unsigned>(std::countr_zero(not_digit)) / 8;
}

// The value of the first n (1 to 8) digits of w: moved to the top of the word, where the digits
// are added up in pairs, fours and eights by three multiplications.
inline std::uint64_t digits_value(std::uint64_t w, unsigned n) {
    w = (w & (kOnes * 0x0F)) << (8 * (8 - n));
    w = (w * (10 * 0x100 + 1)) >> 8;
    w = ((w & 0x00FF00FF00FF00FFu) * (100 * 0x10000 + 1)) >> 16;
    return ((w & 0x0000FFFF0000FFFFu) * (10000 * 0x100000000u + 1)) >> 32;
}

constexpr std::uint64_t kPowersOfTen[] = {1,      10,      100,      1000,     10000,
                                          100000, 1000000, 10000000, 100000000};

// The end of the unsigned number at p as the tool writes it (1 to 19 digits, no leading zero, so
// that it fits in 64 bits), its value in n when Value; null for any other number, which goes to
// the careful reader with its sign, fraction or exponent.
template <bool Value>
__attribute__((always_inline)) inline const char* plain_number(const char* p, std::uint64_t& n) {
    std::uint64_t w = load8(p);
    unsigned count = leading_digits(w);
    if (count == 0 || (count > 1 && (w & 0xFF) == '0'))
        return nullptr;
    std::uint64_t value = 0;
    if constexpr (Value)
        value = digits_value(w, count);
    p += count;
    if (count == 8) {  // eight digits more at most, then three
        for (const unsigned most : {8u, 3u}) {
            w = load8(p);
            count = leading_digits(w);
            if (count > most)
                return nullptr;
            if constexpr (Value) {
                if (count > 0)
                    value = value * kPowersOfTen[count] + digits_value(w, count);
            }
            p += count;
            if (count < 8)
                break;
        }
    }
    n = value;
    return p;
}

// A line as the tool writes it, field by field: the bytes before each value (the comma, the key in
// quotes, the colon and a string's opening quote) in the order history_line writes them. The
// reader puts a comma in place of the line's brace, so that the first field starts like the rest.
struct Field {
    std::string_view lead;
    Key key;
};
constexpr Field kFields[] = {
    {R"(,"time":")", Key::other},
    {R"(,"time_seconds":)", Key::time_seconds},
    {R"(,"serial":")", Key::serial},
    {R"(,"serial_hex":")", Key::serial_hex},
    {R"(,"percentage_used":)", Key::percentage_used},
    {R"(,"data_written_bytes":)", Key::data_written_bytes},
    {R"(,"power_on_hours":)", Key::power_on_hours},
    {R"(,"average_erase_count":)", Key::average_erase_count},
    {R"(,"model":")", Key::model},
    {R"(,"firmware":")", Key::other},
    {R"(,"identity":")", Key::identity},
    {R"(,"bridge_serial":")", Key::bridge_serial},
    {R"(,"bridge_serial_hex":")", Key::bridge_serial_hex},
    {R"(,"bridge_model":")", Key::bridge_model},
    {R"(,"tool_version":")", Key::other},
    {R"(,"rated_pe_cycles":)", Key::rated_pe_cycles},
    {R"(,"life_used_percent":)", Key::life_used_percent},
    {R"(,"available_spare":)", Key::other},
    {R"(,"temperature_celsius":)", Key::other},
    {R"(,"power_cycles":)", Key::other},
    {R"(,"unsafe_shutdowns":)", Key::other},
    {R"(,"media_errors":)", Key::other},
    {R"(,"data_read_bytes":)", Key::other},
    {R"(,"verdict":")", Key::other},
};

// A field's lead as three words, zero past its end, so that it is compared by three loads.
struct Lead {
    std::uint64_t word[3];
    std::uint64_t mask[3];  // all ones in the lead's bytes
};
constexpr std::size_t kLeadBytes = sizeof(Lead::word);
static_assert(std::all_of(std::begin(kFields), std::end(kFields),
                          [](const Field& f) { return f.lead.size() <= kLeadBytes; }));
constexpr Lead lead_of(std::string_view text) {
    Lead out{};
    for (std::size_t i = 0; i < text.size(); ++i) {
        out.word[i / 8] |= std::uint64_t{static_cast<unsigned char>(text[i])} << (8 * (i % 8));
        out.mask[i / 8] |= std::uint64_t{0xFF} << (8 * (i % 8));
    }
    return out;
}

// The texts a record keeps (identity is kept as from_nvme).
constexpr bool is_kept_text(Key key) {
    switch (key) {
        case Key::serial:
        case Key::serial_hex:
        case Key::model:
        case Key::bridge_serial:
        case Key::bridge_serial_hex:
        case Key::bridge_model:
            return true;
        default:
            return false;
    }
}

// Where a kept text goes.
std::string& text_of(Key key, HistoryRecord& record) {
    switch (key) {
        case Key::serial:
            return record.serial;
        case Key::serial_hex:
            return record.serial_hex;
        case Key::model:
            return record.model;
        case Key::bridge_serial:
            return record.bridge_serial;
        case Key::bridge_serial_hex:
            return record.bridge_serial_hex;
        default:
            return record.bridge_model;
    }
}

// Field I of kFields at p, if the line has it there, read and checked; p moves past its value.
// False for a line not as written, which goes to the careful reader. Each field is its own code,
// its lead compared with constants.
template <std::size_t I>
inline bool read_field(const char*& p, HistoryRecord& record) {
    constexpr Field field = kFields[I];
    constexpr Lead lead = lead_of(field.lead);
    if ((((load8(p) ^ lead.word[0]) & lead.mask[0]) |
         ((load8(p + 8) ^ lead.word[1]) & lead.mask[1]) |
         ((load8(p + 16) ^ lead.word[2]) & lead.mask[2])) != 0) {
        // Another field, or the line's end: any field but the time and the serial may be
        // missing.
        if constexpr (field.key == Key::time_seconds || field.key == Key::serial)
            return false;
        if constexpr (is_kept_text(field.key))
            text_of(field.key, record).clear();
        return true;
    }
    p += field.lead.size();
    if constexpr (field.lead.back() == '"') {
        const char* start = p;
        p = plain_string_end(p);
        if (*p != '"')
            return false;
        const std::string_view value(start, static_cast<std::size_t>(p++ - start));
        if constexpr (field.key == Key::identity) {
            record.from_nvme = value == "nvme";
        } else if constexpr (field.key != Key::other) {
            // The record's texts are those of the line before it, mostly the same drive's:
            // copied only where they differ.
            std::string& kept = text_of(field.key, record);
            if (!same_text(kept, value))
                kept.assign(value);
        }
    } else if constexpr (field.key == Key::other) {
        std::uint64_t unused = 0;
        if (*p == '-')  // a temperature below zero
            ++p;
        p = plain_number<false>(p, unused);
        if (p == nullptr)
            return false;
    } else {
        std::uint64_t n = 0;
        p = plain_number<true>(p, n);
        if (p == nullptr || !set_figure(field.key, n, record.point))
            return false;  // too large
    }
    return true;
}

template <std::size_t... I>
bool read_fields(const char*& p, HistoryRecord& record, std::index_sequence<I...>) {
    return (read_field<I>(p, record) && ...);
}

// The line as the tool writes it: its keys in the written order (any of them but the time and the
// serial may be missing), no whitespace, plain ASCII strings without escapes, unsigned integers
// where the tool writes numbers. Most lines are so, and are read here in one pass at little cost:
// each field's lead is compared with the one the tool writes next, every value is checked as far
// as it goes (a string sixteen bytes at a time to its closing quote, a number eight digits at a
// time) and only the trend's are kept. For anything else (false) the caller asks
// parse_any_shape, which reads every line this one takes with the same result.
bool parse_own_shape(std::string_view text, HistoryRecord& record) {
    if (text.empty() || text.size() > kFastLineLimit || text.front() != '{')
        return false;
    char line[kFastLineLimit + kSlack];
    std::memcpy(line, text.data(), text.size());
    std::memset(line + text.size(), 0, kSlack);
    line[0] = ',';
    const char* p = line;
    record.from_nvme = false;
    record.point = WearPoint{};
    return read_fields(p, record, std::make_index_sequence<std::size(kFields)>()) && *p == '}' &&
           p + 1 == line + text.size();
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
    return out.dump() + "\n";
}

namespace {

bool same_serial(const std::string& text, const std::string& hex, const std::string& run_serial,
                 const std::string& run_hex) {
    if (!run_hex.empty())
        return same_text(hex, run_hex);
    return hex.empty() && same_text(text, run_serial);
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
               same_text(record.model, run.model);
    if (!record.bridge_serial.empty() || !record.bridge_serial_hex.empty())
        return same_serial(record.bridge_serial, record.bridge_serial_hex, run.key.bridge_serial,
                           run.bridge_serial_hex) &&
               same_text(record.bridge_model, run.bridge_model);
    return !record.from_nvme &&
           same_serial(record.serial, record.serial_hex, run.key.bridge_serial,
                       run.bridge_serial_hex) &&
           same_text(record.model, run.bridge_model);
}

namespace {

void clear(HistoryRecord& record) {
    // Keeps the texts' storage: the caller reuses one record for every line.
    record.serial.clear();
    record.serial_hex.clear();
    record.model.clear();
    record.from_nvme = false;
    record.bridge_serial.clear();
    record.bridge_serial_hex.clear();
    record.bridge_model.clear();
    record.point = WearPoint{};
}

}  // namespace

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
