#include "sim/several_drives.h"

namespace torvik {

std::vector<std::string> profile_list(std::string_view text) {
    std::vector<std::string> names;
    for (;;) {
        const std::size_t comma = text.find(kProfileSeparator);
        names.emplace_back(text.substr(0, comma));
        if (comma == std::string_view::npos)
            return names;
        text.remove_prefix(comma + 1);
    }
}

void load_system_disk(SimDrive& drive) {
    drive.set_descriptor(SimDescriptor{"ATA     ", "SIM SYSTEM DISK ", kBusTypeSata});
}

}  // namespace torvik
