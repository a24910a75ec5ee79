#include "model/history_line.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>

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

// A figure's value; false when it does not fit or the key holds no figure.
bool set_figure(Key key, std::uint64_t n, WearPoint& point) {
    constexpr std::uint64_t kMaxUnsigned = std::numeric_limits<unsigned>::max();
    switch (key) {
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

// The first byte at or after p that ends a plain string: a quote, a backslash, a control byte
// or a byte of a multi-byte UTF-8 sequence; end when none does.
inline const char* string_end(const char* p, const char* end) {
    if constexpr (std::endian::native == std::endian::little) {
        // Eight bytes at a time. A byte's top bit is set in w itself for a byte past 0x7F, and in
        // a difference for a quote, a backslash or a control byte. A difference borrows into the
        // byte above only out of such a byte, so the lowest flagged byte is exact.
        constexpr std::uint64_t kOnes = 0x0101010101010101u;
        constexpr std::uint64_t kHigh = 0x8080808080808080u;
        while (end - p >= 8) {
            std::uint64_t w;
            std::memcpy(&w, p, 8);
            const std::uint64_t hit = (((w ^ (kOnes * '"')) - kOnes) |
                                       ((w ^ (kOnes * '\\')) - kOnes) | (w - kOnes * 0x20) | w) &
                                      kHigh;
            if (hit != 0)
                return p + std::countr_zero(hit) / 8;
            p += 8;
        }
    }
    for (; p != end; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (c == '"' || c == '\\' || c < 0x20 || c >= 0x80)
            break;
    }
    return p;
}

// The keys in the order the tool writes them, each with the quote and colon after it: a key of
// a line as written is found by comparing the next few, not scanned byte by byte. Each is held as
// three little-endian words, zero past its end, so that it is compared by three
// loads.
struct WrittenKey {
    std::uint64_t word[3];
    std::uint64_t mask[3];  // all ones in the key's bytes
    std::uint8_t size;
    Key key;
};
constexpr std::size_t kKeyWordBytes = sizeof(WrittenKey::word);
constexpr WrittenKey written(std::string_view text, Key key) {
    WrittenKey out{};
    for (std::size_t i = 0; i < text.size() && i < kKeyWordBytes; ++i) {
        out.word[i / 8] |= std::uint64_t{static_cast<unsigned char>(text[i])} << (8 * (i % 8));
        out.mask[i / 8] |= std::uint64_t{0xFF} << (8 * (i % 8));
    }
    out.size = static_cast<std::uint8_t>(text.size());
    out.key = key;
    return out;
}
constexpr WrittenKey kWrittenKeys[] = {
    written("time\":", Key::other),
    written("time_seconds\":", Key::time_seconds),
    written("serial\":", Key::serial),
    written("serial_hex\":", Key::serial_hex),
    written("percentage_used\":", Key::percentage_used),
    written("data_written_bytes\":", Key::data_written_bytes),
    written("power_on_hours\":", Key::power_on_hours),
    written("average_erase_count\":", Key::average_erase_count),
    written("model\":", Key::model),
    written("firmware\":", Key::other),
    written("identity\":", Key::identity),
    written("bridge_serial\":", Key::bridge_serial),
    written("bridge_serial_hex\":", Key::bridge_serial_hex),
    written("bridge_model\":", Key::bridge_model),
    written("tool_version\":", Key::other),
    written("rated_pe_cycles\":", Key::rated_pe_cycles),
    written("life_used_percent\":", Key::life_used_percent),
    written("available_spare\":", Key::other),
    written("temperature_celsius\":", Key::other),
    written("power_cycles\":", Key::other),
    written("unsafe_shutdowns\":", Key::other),
    written("media_errors\":", Key::other),
    written("data_read_bytes\":", Key::other),
    written("verdict\":", Key::other),
};
constexpr std::size_t kWrittenKeyCount = std::size(kWrittenKeys);
static_assert(std::all_of(std::begin(kWrittenKeys), std::end(kWrittenKeys),
                          [](const WrittenKey& k) { return k.size < kKeyWordBytes; }));

// Whether the line at p starts with a written key (and has a byte after it).
inline bool written_key_at(const char* p, const char* end, const WrittenKey& key) {
    const auto left = end - p;
    if (left <= key.size)
        return false;
    if constexpr (std::endian::native != std::endian::little) {
        for (std::size_t i = 0; i < key.size; ++i) {
            if (static_cast<unsigned char>(p[i]) != ((key.word[i / 8] >> (8 * (i % 8))) & 0xFF))
                return false;
        }
        return true;
    }
    // The bytes that differ from the key's, within the key; near the line's end, the bytes left.
    std::uint64_t w[3] = {};
    if (left >= static_cast<std::ptrdiff_t>(kKeyWordBytes))
        std::memcpy(w, p, kKeyWordBytes);
    else
        std::memcpy(w, p, static_cast<std::size_t>(left));
    return (((w[0] ^ key.word[0]) & key.mask[0]) | ((w[1] ^ key.word[1]) & key.mask[1]) |
            ((w[2] ^ key.word[2]) & key.mask[2])) == 0;
}

// Where a text key's value goes; null for identity, which is no text kept.
std::string* text_of(Key key, HistoryRecord& record) {
    switch (key) {
        case Key::serial:
            return &record.serial;
        case Key::serial_hex:
            return &record.serial_hex;
        case Key::model:
            return &record.model;
        case Key::bridge_serial:
            return &record.bridge_serial;
        case Key::bridge_serial_hex:
            return &record.bridge_serial_hex;
        case Key::bridge_model:
            return &record.bridge_model;
        default:
            return nullptr;
    }
}

// The line as the tool writes it: no whitespace, plain ASCII strings without escapes, unsigned
// integer and string values only. Most lines are so, and are read here in one pass at little
// cost: each key is first compared with the one the tool writes next, every value is checked as
// far as it goes (a string eight bytes at a time to its closing quote, a number to its last
// digit) and only the trend's are kept. For anything else (false) the caller asks
// parse_any_shape, which reads every line this one takes with the same result.
bool parse_own_shape(std::string_view text, HistoryRecord& record) {
    const char* p = text.data();
    const char* const end = p + text.size();
    if (text.size() < 2 || *p != '{' || end[-1] != '}')
        return false;
    ++p;
    record.from_nvme = false;
    record.point = WearPoint{};
    unsigned seen = 0;     // the keys taken, one bit each
    std::size_t next = 0;  // the first of kWrittenKeys that may come next
    constexpr unsigned kTaken = (1u << static_cast<unsigned>(Key::other)) - 2;
    for (;;) {
        if (*p++ != '"')
            return false;
        Key which = Key::none;
        for (std::size_t i = next; i < kWrittenKeyCount; ++i) {
            if (written_key_at(p, end, kWrittenKeys[i])) {
                which = kWrittenKeys[i].key;
                next = i + 1;
                p += kWrittenKeys[i].size;
                break;
            }
        }
        if (which == Key::none) {  // a key out of the written order, or another one
            const char* key_end = string_end(p, end);
            if (end - key_end < 3 || key_end[0] != '"' || key_end[1] != ':')
                return false;
            which = key_of(std::string_view(p, static_cast<std::size_t>(key_end - p)));
            p = key_end + 2;
        }
        // A key given twice counts by its last value here too: each value overwrites the one
        // before.
        seen |= (1u << static_cast<unsigned>(which)) & kTaken;
        if (*p == '"') {
            const char* start = ++p;
            p = string_end(p, end);
            if (p == end || *p != '"')
                return false;
            const std::size_t size = static_cast<std::size_t>(p - start);
            // The record's texts are those of the line before it, mostly the same drive's:
            // copied only where they differ.
            if (std::string* kept = text_of(which, record)) {
                if (std::string_view(*kept) != std::string_view(start, size))
                    kept->assign(start, size);
            } else if (which == Key::identity)
                record.from_nvme = std::string_view(start, size) == "nvme";
            else if (which != Key::other)
                return false;  // a figure in quotes
            ++p;
        } else {
            // An unsigned number: the tool writes no other (a minus sign goes to the careful
            // reader). Only the trend's figures are added up.
            const char* digits = p;
            std::uint64_t n = 0;
            if (which == Key::other) {
                while (static_cast<unsigned char>(*p) - unsigned{'0'} < 10)
                    ++p;
            } else {
                for (unsigned digit; (digit = static_cast<unsigned char>(*p) - unsigned{'0'}) < 10;
                     ++p)
                    n = n * 10 + digit;
            }
            // 19 digits always fit in 64 bits; a longer number is left to the careful reader.
            if (p == digits || p - digits > 19 || (p - digits > 1 && *digits == '0'))
                return false;
            if (which == Key::time_seconds) {
                if (n > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
                    return false;
                record.point.time = static_cast<std::int64_t>(n);
            } else if (which != Key::other && !set_figure(which, n, record.point)) {
                return false;
            }
        }
        // p < end here: the line ends with its brace, which no value took.
        if (*p == '}') {
            constexpr unsigned kNeeded = (1u << static_cast<unsigned>(Key::time_seconds)) |
                                         (1u << static_cast<unsigned>(Key::serial));
            if (p + 1 != end || (seen & kNeeded) != kNeeded)
                return false;
            for (const Key text_key : {Key::serial_hex, Key::model, Key::bridge_serial,
                                       Key::bridge_serial_hex, Key::bridge_model}) {
                if ((seen & (1u << static_cast<unsigned>(text_key))) == 0)
                    text_of(text_key, record)->clear();
            }
            return true;
        }
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
    return out.dump() + "\n";
}

namespace {

bool same_serial(const std::string& text, const std::string& hex, const std::string& run_serial,
                 const std::string& run_hex) {
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

bool parse_history_line_carefully(std::string_view text, HistoryRecord& record) {
    clear(record);
    return parse_any_shape(text, record);
}

}  // namespace torvik
