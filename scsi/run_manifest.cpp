#include "scsi/run_manifest.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

#include "common/utc_time.h"

namespace torvik {

namespace {

constexpr std::string_view kHeader = "torvik_pssd_manifest 1";
// Older manifests have no such line; a reader that does not know it takes it for a page name.
constexpr std::string_view kRunTimeKey = "run_time";
constexpr std::string_view kBridgeKey = "bridge";
constexpr std::string_view kUnknownBridgeForm = "unknown";
// A manifest is a few hundred bytes; anything much larger is not one.
constexpr std::size_t kMaxManifestSize = 64 * 1024;

// The value of a "name=value" token, when the token has that name.
std::optional<std::string_view> value_of(std::string_view token, std::string_view name) {
    if (token.size() <= name.size() || token.substr(0, name.size()) != name ||
        token[name.size()] != '=')
        return std::nullopt;
    return token.substr(name.size() + 1);
}

bool parse_number(std::string_view text, int base, std::uint32_t& value) {
    if (base == 16) {
        if (text.size() < 3 || text.substr(0, 2) != "0x")
            return false;
        text.remove_prefix(2);
    }
    if (text.empty())
        return false;
    const char* end = text.data() + text.size();
    const auto [at, ec] = std::from_chars(text.data(), end, value, base);
    return ec == std::errc() && at == end;
}

bool parse_crc(std::string_view text, std::uint32_t& value) {
    if (text.size() != 8)
        return false;
    const char* end = text.data() + text.size();
    const auto [at, ec] = std::from_chars(text.data(), end, value, 16);
    return ec == std::errc() && at == end;
}

// One command line after its page name; false when a token is unknown or malformed.
bool parse_fields(std::string_view rest, ManifestEntry& entry) {
    bool outcome_seen = false;
    std::optional<std::uint32_t> dump_length;
    std::optional<std::uint32_t> dump_crc;
    while (!rest.empty()) {
        const std::size_t space = rest.find(' ');
        const std::string_view token = rest.substr(0, space);
        rest = space == std::string_view::npos ? std::string_view() : rest.substr(space + 1);
        std::uint32_t n = 0;
        if (token == "not_sent" && !outcome_seen) {
            outcome_seen = true;
            entry.sent = false;
        } else if (auto v = value_of(token, "data");
                   v && !outcome_seen && parse_number(*v, 10, n)) {
            outcome_seen = true;
            entry = ManifestEntry{true, CommandOutcome::data, n, 0, false, std::nullopt};
        } else if (auto cc = value_of(token, "check_condition");
                   cc && !outcome_seen && parse_number(*cc, 10, n)) {
            outcome_seen = true;
            entry = ManifestEntry{true, CommandOutcome::check_condition, n, 0, false, std::nullopt};
        } else if (auto f = value_of(token, "failed");
                   f && !outcome_seen && parse_number(*f, 16, n)) {
            outcome_seen = true;
            entry = ManifestEntry{true, CommandOutcome::failed, 0, n, false, std::nullopt};
        } else if (auto d = value_of(token, "dump"); d && !dump_length && parse_number(*d, 10, n)) {
            dump_length = n;
        } else if (auto c = value_of(token, "crc32"); c && !dump_crc && parse_crc(*c, n)) {
            dump_crc = n;
        } else if (token == "zeros" && !entry.zeros) {
            entry.zeros = true;
        } else {
            return false;
        }
    }
    if (!outcome_seen || dump_length.has_value() != dump_crc.has_value())
        return false;
    if (!entry.sent && (dump_length || entry.zeros))
        return false;
    if (dump_length)
        entry.dump = ManifestDump{*dump_length, *dump_crc};
    return true;
}

// "e4 0bda:9210", "a1 152d:0583", "e6 f0e1:0d0c", "unknown 152d:0578", or a form without an ID.
bool parse_bridge(std::string_view text, RunManifest& manifest) {
    const std::size_t space = text.find(' ');
    const std::string_view name = text.substr(0, space);
    std::optional<BridgeForm> form;
    if (name != kUnknownBridgeForm) {
        form = parse_bridge_form(name);
        if (!form)
            return false;
    }
    std::optional<UsbId> id;
    if (space != std::string_view::npos) {
        const std::string_view text_id = text.substr(space + 1);
        const std::optional<std::uint16_t> vendor = parse_usb_hex16(text_id.substr(0, 4));
        const std::optional<std::uint16_t> product = text_id.size() == 9 && text_id[4] == ':'
                                                         ? parse_usb_hex16(text_id.substr(5))
                                                         : std::nullopt;
        if (!vendor || !product)
            return false;
        id = UsbId{*vendor, *product};
    }
    manifest.bridge = recorded_bridge_choice(id, form);
    return true;
}

}  // namespace

std::string format_manifest(const RunManifest& manifest) {
    std::string text(kHeader);
    text += '\n';
    if (manifest.run_time)
        text += std::string(kRunTimeKey) + ' ' + format_utc_time(*manifest.run_time) + '\n';
    if (manifest.bridge) {
        text += std::string(kBridgeKey) + ' ' +
                (manifest.bridge->form ? bridge_form_name(*manifest.bridge->form)
                                       : std::string(kUnknownBridgeForm));
        if (manifest.bridge->id)
            text += ' ' + usb_id_text(*manifest.bridge->id);
        text += '\n';
    }
    for (const CommandInfo& command : kCommands) {
        const ManifestEntry& e = manifest[static_cast<std::size_t>(command.id)];
        char line[128];
        int n = 0;
        if (!e.sent) {
            n = std::snprintf(line, sizeof line, "%s not_sent", command.page_name);
        } else if (e.outcome == CommandOutcome::failed) {
            n = std::snprintf(line, sizeof line, "%s failed=0x%x", command.page_name,
                              static_cast<unsigned>(e.error));
        } else {
            n = std::snprintf(line, sizeof line, "%s %s=%u", command.page_name,
                              e.outcome == CommandOutcome::data ? "data" : "check_condition",
                              static_cast<unsigned>(e.received));
        }
        text.append(line, static_cast<std::size_t>(n));
        if (e.sent && e.dump) {
            n = std::snprintf(line, sizeof line, " dump=%u crc32=%08x",
                              static_cast<unsigned>(e.dump->length),
                              static_cast<unsigned>(e.dump->crc32));
            text.append(line, static_cast<std::size_t>(n));
        }
        if (e.sent && e.zeros)
            text += " zeros";
        text += '\n';
    }
    return text;
}

bool parse_manifest(std::string_view text, RunManifest& manifest, std::string& error,
                    std::vector<std::string>* notes) {
    manifest = RunManifest{};
    if (text.size() > kMaxManifestSize) {
        error = "larger than a manifest can be";
        return false;
    }
    std::array<bool, kCommandCount> named{};
    std::size_t line_number = 0;
    bool run_time_seen = false;
    while (!text.empty()) {
        const std::size_t newline = text.find('\n');
        std::string_view line = text.substr(0, newline);
        text = newline == std::string_view::npos ? std::string_view() : text.substr(newline + 1);
        ++line_number;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);  // written on Windows, or edited there
        const auto fail = [&](const char* what) {
            error = "line " + std::to_string(line_number) + ": " + what;
            return false;
        };
        if (line_number == 1) {
            if (line != kHeader)
                return fail("not a torvik_pssd_manifest 1 file");
            continue;
        }
        if (line.empty())
            continue;
        const std::size_t space = line.find(' ');
        if (space != std::string_view::npos && line.substr(0, space) == kRunTimeKey) {
            std::int64_t seconds = 0;
            if (run_time_seen)
                return fail("run time given twice");
            run_time_seen = true;
            if (!parse_utc_time(line.substr(space + 1), seconds))
                return fail("a run time that is not YYYY-MM-DDTHH:MM:SSZ");
            // The text form reaches 9999-12-31 at most; a time before 1970 no run has.
            if (is_run_time(seconds))
                manifest.run_time = seconds;
            else if (notes != nullptr)
                notes->push_back("line " + std::to_string(line_number) + ": run_time " +
                                 std::string(line.substr(space + 1)) +
                                 " is before 1970-01-01; the run replays with an unknown time");
            continue;
        }
        if (space != std::string_view::npos && line.substr(0, space) == kBridgeKey) {
            if (manifest.bridge)
                return fail("bridge given twice");
            if (!parse_bridge(line.substr(space + 1), manifest))
                return fail("a bridge that is not FORM [VVVV:PPPP]");
            continue;
        }
        if (space == std::string_view::npos)
            return fail("a page name without its outcome");
        const CommandInfo* command = command_by_page_name(line.substr(0, space));
        if (command == nullptr)
            return fail("unknown page name");
        const std::size_t index = static_cast<std::size_t>(command->id);
        if (named[index])
            return fail("page named twice");
        named[index] = true;
        ManifestEntry& entry = manifest[index];
        if (!parse_fields(line.substr(space + 1), entry))
            return fail("malformed outcome or dump fields");
        const std::uint32_t length = std::max(entry.received, entry.dump ? entry.dump->length : 0);
        if (length > command->length) {
            if (notes != nullptr)
                notes->push_back("line " + std::to_string(line_number) + ": " +
                                 std::to_string(length) + " bytes, more than the " +
                                 std::to_string(command->length) + " bytes " + command->page_name +
                                 " transfers; the command replays as missing");
            entry = ManifestEntry{};
        }
    }
    if (line_number == 0) {
        error = "empty";
        return false;
    }
    return true;
}

}  // namespace torvik
