// The drive list of --list: every drive that answers, and the list as text. Its JSON is written
// with the JSON report (report/json_report.h).
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace torvik {

struct ListedDrive {
    std::int32_t number = 0;
    DriveNames names;
    std::uint8_t bus_type = 0;
    std::string vendor;  // the descriptor's texts, without their padding
    std::string product;
    std::optional<std::uint64_t> size;  // bytes; absent when the OS did not tell
    std::optional<UsbId> usb_id;        // the USB bridge's, when the OS tells it
};

// "0bda:9210 e4": the bridge's ID and the tunnel form the bridge table gives it ("-" when it
// lists none); empty without an ID.
std::string listed_bridge(const ListedDrive& drive);

struct DriveList {
    std::vector<ListedDrive> drives;
    // Some drive could not be opened, or asked for its bus, for lack of rights.
    bool access_denied = false;
};

// One line per drive under a heading; an empty list says why instead. privilege_hint is what
// to do about missing rights ("run as root").
void print_drive_list(const DriveList& list, const char* privilege_hint, std::FILE* out);

// A drive's text as the list shows it: padding dropped, control bytes shown as '?'.
std::string listed_text(const std::string& text);

}  // namespace torvik
