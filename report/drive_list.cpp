#include "report/drive_list.h"

#include "common/printable_text.h"
#include "platform/storage_descriptor.h"
#include "scsi/bridge_table.h"

namespace torvik {

namespace {

constexpr double kGigabyte = 1e9;
constexpr double kTerabyte = 1e12;

// Sizes in the decimal units drives are sold in.
std::string size_text(const std::optional<std::uint64_t>& size) {
    if (!size)
        return "?";
    char text[32];
    const double bytes = static_cast<double>(*size);
    if (bytes >= kTerabyte) {
        std::snprintf(text, sizeof text, "%.2f TB", bytes / kTerabyte);
    } else {
        std::snprintf(text, sizeof text, "%.1f GB", bytes / kGigabyte);
    }
    return text;
}

}  // namespace

std::string listed_text(const std::string& text) {
    std::string shown;
    for (char c : text)
        shown += printable_char(c);
    const std::size_t first = shown.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return shown.substr(first, shown.find_last_not_of(' ') - first + 1);
}

std::string listed_bridge(const ListedDrive& drive) {
    if (!drive.usb_id)
        return {};
    const std::optional<BridgeForm> form = bridge_form(*drive.usb_id);
    return usb_id_text(*drive.usb_id) + " " +
           (form                            ? bridge_form_name(*form)
            : is_sata_bridge(*drive.usb_id) ? "sata"
                                            : "-");
}

void print_drive_list(const DriveList& list, const char* privilege_hint, std::FILE* out) {
    if (list.drives.empty()) {
        if (list.access_denied) {
            std::fprintf(out, "No drive could be opened: permission denied; %s.\n", privilege_hint);
        } else {
            std::fputs("No drives found: the system shows no disk.\n", out);
        }
        return;
    }
    std::fprintf(out, "%5s  %-24s %-7s %10s  %-14s  %s\n", "Drive", "Path", "Bus", "Size",
                 "USB bridge", "Vendor and product");
    for (const ListedDrive& drive : list.drives) {
        std::string path = drive.names.path;
        if (!drive.names.generic_path.empty())
            path += " " + drive.names.generic_path;
        std::string identity = listed_text(drive.vendor);
        const std::string product = listed_text(drive.product);
        if (!identity.empty() && !product.empty())
            identity += " ";
        identity += product;
        std::fprintf(out, "%5d  %-24s %-7s %10s  %-14s  %s\n", static_cast<int>(drive.number),
                     listed_text(path).c_str(), bus_type_name(drive.bus_type),
                     size_text(drive.size).c_str(), listed_bridge(drive).c_str(), identity.c_str());
    }
}

}  // namespace torvik
