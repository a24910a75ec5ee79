#include "tests/support/fake_platform.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/bytes.h"
#include "platform/storage_descriptor.h"

namespace torvik::testing {

namespace {

std::string hex(std::uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", v);
    return text;
}

}  // namespace

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

std::FILE* FakePlatform::create_file(const char* name, const char* mode) {
    calls.push_back(std::string("create ") + name + " " + mode);
    if (uncreatable.count(name) != 0) {
        last_error_ = 5;
        return nullptr;
    }
    std::FILE* file = std::fopen(name, mode);
    if (file == nullptr)
        last_error_ = static_cast<std::uint32_t>(errno);
    return file;
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

}  // namespace torvik::testing
