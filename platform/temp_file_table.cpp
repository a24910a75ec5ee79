#include "platform/temp_file_table.h"

#include <cstdio>
#include <cstring>

namespace torvik {

bool TempFileTable::add(std::intptr_t folder, const char* name) {
    const std::size_t length = std::strlen(name);
    if (length >= kNameSize)
        return false;
    for (Slot& slot : slots_) {
        if (slot.used.load())
            continue;
        std::memcpy(slot.name, name, length + 1);
        slot.folder = folder;
        slot.used.store(true);  // only now may the handler read it
        return true;
    }
    return false;
}

void TempFileTable::drop(std::intptr_t folder, const char* name) {
    for (Slot& slot : slots_) {
        if (slot.used.load() && slot.folder == folder && std::strcmp(slot.name, name) == 0) {
            slot.used.store(false);
            return;
        }
    }
}

TempFileTable& temp_file_table() {
    static TempFileTable table;
    return table;
}

std::string temp_file_name(const char* final_name, std::uint32_t random) {
    char suffix[kTempSuffixSize + 1];
    std::snprintf(suffix, sizeof suffix, ".%08x.tmp", static_cast<unsigned>(random));
    return std::string(final_name) + suffix;
}

bool is_temp_file_name(std::string_view name, std::string_view final_name) {
    constexpr std::string_view kEnd = ".tmp";
    constexpr std::size_t kDigits = 8;
    static_assert(1 + kDigits + kEnd.size() == kTempSuffixSize);
    if (name.size() != final_name.size() + kTempSuffixSize ||
        name.substr(0, final_name.size()) != final_name || name[final_name.size()] != '.' ||
        name.substr(name.size() - kEnd.size()) != kEnd)
        return false;
    const std::string_view digits = name.substr(final_name.size() + 1, kDigits);
    return digits.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

}  // namespace torvik
