#include "platform/usb_id.h"

#include <cstdio>
#include <fstream>

#include "common/hex.h"

namespace torvik {

namespace {

bool starts_with_nocase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        if (c != prefix[i])
            return false;
    }
    return true;
}

// A sysfs attribute of four hex digits and a line end.
std::optional<std::uint16_t> read_hex_attribute(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    char text[8] = {};
    in.read(text, sizeof text);
    const std::streamsize got = in.gcount();
    if (got != 5 || text[4] != '\n')
        return std::nullopt;
    return parse_usb_hex16(std::string_view(text, 4));
}

}  // namespace

std::string usb_id_text(const UsbId& id) {
    char text[10];
    std::snprintf(text, sizeof text, "%04x:%04x", static_cast<unsigned>(id.vendor),
                  static_cast<unsigned>(id.product));
    return text;
}

std::optional<std::uint16_t> parse_usb_hex16(std::string_view text) {
    if (text.size() != 4)
        return std::nullopt;
    unsigned value = 0;
    for (const char c : text) {
        const int digit = hex_digit(c);
        if (digit < 0)
            return std::nullopt;
        value = value * 16 + static_cast<unsigned>(digit);
    }
    return static_cast<std::uint16_t>(value);
}

std::optional<UsbId> parse_usb_instance_id(std::string_view instance_id) {
    // USB\VID_xxxx&PID_xxxx then the end, a backslash or an ampersand.
    constexpr std::string_view kBus = "USB\\VID_";
    constexpr std::string_view kProduct = "&PID_";
    if (!starts_with_nocase(instance_id, kBus))
        return std::nullopt;
    std::string_view rest = instance_id.substr(kBus.size());
    const std::optional<std::uint16_t> vendor = parse_usb_hex16(rest.substr(0, 4));
    rest = rest.substr(rest.size() < 4 ? rest.size() : 4);
    if (!vendor || !starts_with_nocase(rest, kProduct))
        return std::nullopt;
    rest = rest.substr(kProduct.size());
    const std::optional<std::uint16_t> product = parse_usb_hex16(rest.substr(0, 4));
    if (!product || (rest.size() > 4 && rest[4] != '\\' && rest[4] != '&'))
        return std::nullopt;
    return UsbId{*vendor, *product};
}

std::optional<UsbId> usb_id_from_sysfs(const std::string& device_dir, const std::string& stop_at) {
    std::string dir = device_dir;
    while (dir.size() > stop_at.size() && dir.compare(0, stop_at.size(), stop_at) == 0) {
        const std::optional<std::uint16_t> vendor = read_hex_attribute(dir + "/idVendor");
        const std::optional<std::uint16_t> product = read_hex_attribute(dir + "/idProduct");
        if (vendor && product)
            return UsbId{*vendor, *product};
        const std::size_t slash = dir.find_last_of('/');
        if (slash == std::string::npos || slash == 0)
            break;
        dir.resize(slash);
    }
    return std::nullopt;
}

}  // namespace torvik
