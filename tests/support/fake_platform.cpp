#include "tests/support/fake_platform.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "common/bytes.h"
#include "platform/host_platform.h"
#include "platform/output_folder.h"
#include "platform/storage_descriptor.h"
#include "platform/temp_file_table.h"

namespace torvik::testing {

namespace {

std::string hex(std::uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", v);
    return text;
}

}  // namespace

bool host_text_crlf() {
    return std::strcmp(host_platform_name(), "Windows") == 0;
}

bool FakePlatform::get_version(OsVersion& os) {
    calls.push_back("version " + std::to_string(os.record_size));
    if (extended_version_fails && os.record_size == kOsVersionExSize) {
        last_error_ = 122;
        return false;
    }
    const std::uint32_t size = os.record_size;
    os = version;
    os.record_size = size;
    return true;
}

DriveHandle FakePlatform::open_drive(const char* path, std::uint32_t flags) {
    calls.push_back(std::string("open ") + path + " " + hex(flags));
    const char* prefix = "\\\\.\\PhysicalDrive";
    if (std::strncmp(path, prefix, std::strlen(prefix)) != 0) {
        last_error_ = 2;
        return kInvalidDriveHandle;
    }
    const std::int32_t number = std::atoi(path + std::strlen(prefix));
    const auto it = drives.find(number);
    if (it == drives.end()) {
        last_error_ = 2;
        return kInvalidDriveHandle;
    }
    if (it->second.open_fails || (flags != 0 && it->second.disk_open_fails)) {
        last_error_ = it->second.error;
        return kInvalidDriveHandle;
    }
    ++open_handles;
    return number + 100;
}

void FakePlatform::close_drive(DriveHandle drive) {
    calls.push_back("close " + std::to_string(drive - 100));
    --open_handles;
}

PassThroughResult FakePlatform::pass_through(DriveHandle /*drive*/,
                                             const PassThroughRequest& request) {
    calls.push_back("pass-through " + hex(request.cdb[0]));
    last_error_ = kErrorInvalidHandle;
    return failed_call(kErrorInvalidHandle, "The handle is invalid");
}

bool FakePlatform::device_io_control(DriveHandle drive, std::uint32_t code, void* /*in*/,
                                     std::uint32_t in_size, void* out, std::uint32_t out_size,
                                     std::uint32_t* returned) {
    calls.push_back("ioctl " + hex(code) + " " + std::to_string(in_size) + " " +
                    std::to_string(out_size));
    const auto it = drives.find(static_cast<std::int32_t>(drive - 100));
    if (it == drives.end()) {
        last_error_ = kErrorInvalidHandle;
        return false;
    }
    const FakeDrive& d = it->second;
    if (code == kIoctlDiskGetLengthInfo && d.size != 0 && out_size >= kDiskLengthInfoSize) {
        put_le64(static_cast<std::uint8_t*>(out), d.size);
        if (returned != nullptr)
            *returned = kDiskLengthInfoSize;
        return true;
    }
    if (code != kIoctlStorageQueryProperty) {
        last_error_ = kErrorInvalidHandle;
        return false;
    }
    if (d.query_fails) {
        last_error_ = d.error;
        return false;
    }
    const std::size_t n = build_storage_descriptor(static_cast<std::uint8_t*>(out), out_size,
                                                   d.vendor, d.product, d.bus_type);
    if (returned != nullptr)
        *returned = static_cast<std::uint32_t>(n);
    return true;
}

FileHandle FakePlatform::create_temp_file(const char* final_name, std::string& temp_name,
                                          std::uint32_t& error) {
    calls.push_back(std::string("create ") + final_name);
    const FileFault fault =
        file_faults.count(final_name) != 0 ? file_faults[final_name] : FileFault{};
    error = uncreatable.count(final_name) != 0 ? 5 : fault.create_error;
    std::error_code ec;
    if (error == 0 && std::filesystem::is_directory(final_name, ec))
        error = EISDIR;
    if (error != 0)
        return kInvalidFileHandle;
    temp_name = temp_file_name(final_name, ++temp_count_);
    if (std::filesystem::exists(std::filesystem::symlink_status(temp_name, ec))) {
        error = EEXIST;
        return kInvalidFileHandle;
    }
    std::FILE* file = std::fopen(temp_name.c_str(), "wb");
    if (file == nullptr) {
        error = static_cast<std::uint32_t>(errno);
        return kInvalidFileHandle;
    }
    files_.push_back(OpenFile{file, final_name, 0});
    return static_cast<FileHandle>(files_.size() - 1);
}

std::uint32_t FakePlatform::write_file(FileHandle file, const void* data, std::size_t size) {
    OpenFile& open = files_.at(static_cast<std::size_t>(file));
    const FileFault fault =
        file_faults.count(open.final_name) != 0 ? file_faults[open.final_name] : FileFault{};
    const std::size_t room = fault.space > open.written ? fault.space - open.written : 0;
    const std::size_t n = std::min(size, room);
    if (std::fwrite(data, 1, n, open.file) != n)
        return EIO;
    open.written += n;
    return n == size ? 0 : fault.write_error;
}

std::uint32_t FakePlatform::close_file(FileHandle file) {
    OpenFile& open = files_.at(static_cast<std::size_t>(file));
    const bool closed = std::fclose(open.file) == 0;
    open.file = nullptr;
    if (file_faults.count(open.final_name) != 0 && file_faults[open.final_name].close_error != 0)
        return file_faults[open.final_name].close_error;
    return closed ? 0 : EIO;
}

std::uint32_t FakePlatform::replace_file(const char* temp_name, const char* final_name) {
    calls.push_back(std::string("replace ") + final_name);
    if (file_faults.count(final_name) != 0 && file_faults[final_name].replace_error != 0)
        return file_faults[final_name].replace_error;
    std::error_code ec;
    std::filesystem::rename(temp_name, final_name, ec);
    return ec ? static_cast<std::uint32_t>(ec.value()) : 0;
}

void FakePlatform::remove_file(const char* temp_name) {
    std::remove(temp_name);
}

std::string FakePlatform::error_text(std::uint32_t error) {
    return std::strerror(static_cast<int>(error));
}

std::intptr_t FakePlatform::shell_open(const char* file) {
    calls.push_back(std::string("shell ") + file);
    shell_files.push_back(file);
    return shell_result;
}

KeyState FakePlatform::wait_key(int /*timeout_ms*/) {
    return keys.empty() ? KeyState::closed : KeyState::pending;
}

int FakePlatform::read_key() {
    if (keys.empty())
        return -1;
    const int key = keys.front();
    keys.pop_front();
    return key;
}

int FakePlatform::count_calls(const std::string& prefix) const {
    int n = 0;
    for (const std::string& call : calls)
        n += call.rfind(prefix, 0) == 0 ? 1 : 0;
    return n;
}

OutputFolderOpener fake_folders(FakePlatform& host) {
    return [&host](const std::string& dir, std::string& error) -> std::unique_ptr<FileStore> {
        if (dir.empty())
            return std::make_unique<ForwardingFileStore>(host);
        return open_output_folder(dir, error, OutputFolderOptions{false});
    };
}

}  // namespace torvik::testing
