#include "app/output_dir.h"

#include <filesystem>
#include <system_error>

namespace torvik {

namespace fs = std::filesystem;

bool prepare_output_dir(const std::string& dir, std::string& error) {
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(dir, ec);
    if (fs::is_symlink(status)) {
        error = "--output-dir " + dir + ": is a symbolic link; give the directory it points to";
        return false;
    }
    if (fs::is_directory(status))
        return true;
    if (fs::exists(status)) {
        error = "--output-dir " + dir + ": exists and is not a directory";
        return false;
    }
    fs::create_directories(dir, ec);
    if (ec || !fs::is_directory(fs::symlink_status(dir, ec))) {
        error = "--output-dir " + dir + ": cannot be made (" + ec.message() + ")";
        return false;
    }
    return true;
}

std::string output_path(const std::string& dir, const char* name) {
    if (dir.empty())
        return name;
    const char last = dir.back();
    if (last == '/' || last == '\\')
        return dir + name;
    return dir + static_cast<char>(fs::path::preferred_separator) + name;
}

FileHandle OutputDirPlatform::create_temp_file(const char* final_name, std::string& temp_name,
                                               std::uint32_t& error) {
    return inner_.create_temp_file(output_path(dir_, final_name).c_str(), temp_name, error);
}

std::uint32_t OutputDirPlatform::replace_file(const char* temp_name, const char* final_name) {
    return inner_.replace_file(temp_name, output_path(dir_, final_name).c_str());
}

std::intptr_t OutputDirPlatform::shell_open(const char* file) {
    return inner_.shell_open(output_path(dir_, file).c_str());
}

}  // namespace torvik
