#include "app/output_dir.h"

#include <filesystem>

namespace torvik {

std::string output_path(const std::string& dir, const char* name) {
    if (dir.empty())
        return name;
    const char last = dir.back();
    if (last == '/' || last == '\\')
        return dir + name;
    return dir + static_cast<char>(std::filesystem::path::preferred_separator) + name;
}

}  // namespace torvik
