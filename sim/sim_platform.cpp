#include "sim/sim_platform.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "common/bytes.h"
#include "platform/drive_path.h"
#include "platform/host_platform.h"
#include "platform/storage_descriptor.h"

namespace torvik {

namespace {

constexpr std::uint32_t kErrorInvalidFunction = 1;
constexpr std::uint32_t kErrorGenFailure = 31;
constexpr std::uint8_t kStatusCheckCondition = 0x02;

// The system's words for the Windows error codes the simulated drive's faults use, on any host.
std::string windows_error_words(std::uint32_t error) {
    struct Words {
        std::uint32_t error;
        const char* text;
    };
    static constexpr Words kWords[] = {
        {kErrorInvalidFunction, "Incorrect function"},
        {kErrorFileNotFound, "The system cannot find the file specified"},
        {kErrorAccessDenied, "Access is denied"},
        {kErrorInvalidHandle, "The handle is invalid"},
        {kErrorGenFailure, "A device attached to the system is not functioning"},
        {kErrorInvalidParameter, "The parameter is incorrect"},
        {kTunnelUnknownError, "The request could not be performed because of an I/O device error"},
    };
    for (const Words& w : kWords) {
        if (w.error == error)
            return w.text;
    }
    return "error " + std::to_string(error);
}

// STORAGE_PROPERTY_QUERY: PropertyId and QueryType, both 0 for the standard device descriptor.
constexpr std::uint32_t kQueryHeaderSize = 8;

constexpr std::string_view kSdPrefix = "/dev/sd";
constexpr int kLetters = 26;

bool host_names_disk_nodes() {
    return std::strcmp(host_platform_name(), "Windows") != 0;
}

// Drive N's letters in the sd family: a..z, then aa..zz, aaa..: N in bijective base 26.
std::string sd_letters(std::int32_t drive) {
    std::string letters;
    for (std::int64_t n = std::int64_t{drive} + 1; n > 0; n = (n - 1) / kLetters)
        letters.insert(letters.begin(), static_cast<char>('a' + (n - 1) % kLetters));
    return letters;
}

// The drive number of "/dev/sdX", or -1.
std::int32_t sd_number(std::string_view path) {
    if (path.substr(0, kSdPrefix.size()) != kSdPrefix || path.size() == kSdPrefix.size())
        return -1;
    std::int64_t n = 0;
    for (const char c : path.substr(kSdPrefix.size())) {
        if (c < 'a' || c > 'z' || n > 1000000)
            return -1;
        n = n * kLetters + (c - 'a' + 1);
    }
    return static_cast<std::int32_t>(n - 1);
}

}  // namespace

bool SimPlatform::fail(std::uint32_t error) {
    last_error_ = error;
    return false;
}

bool SimPlatform::get_version(OsVersion& os) {
    const bool ok = host_.get_version(os);
    if (!ok) {
        last_error_ = host_.last_error();
    }
    return ok;
}

DriveHandle SimPlatform::open_drive(const char* path, std::uint32_t /*flags*/) {
    // Only the path as the tool writes it opens a drive ("\\.\PhysicalDrive01" does not).
    std::size_t number = 0;
    char written[kDrivePathSize] = {};
    if (path != nullptr && parse_drive_number(path, number) && number < drives_.size())
        format_drive_path(written, sizeof written, static_cast<std::int32_t>(number));
    if (path == nullptr || written[0] == '\0' || std::strcmp(path, written) != 0) {
        last_error_ = kErrorFileNotFound;
        return kInvalidDriveHandle;
    }
    const DriveHandle handle = next_handle_++;
    open_.emplace(handle, drives_[number]);
    return handle;
}

void SimPlatform::close_drive(DriveHandle drive) {
    open_.erase(drive);
}

bool SimPlatform::device_io_control(DriveHandle drive, std::uint32_t code, void* in,
                                    std::uint32_t in_size, void* out, std::uint32_t out_size,
                                    std::uint32_t* returned) {
    if (returned != nullptr) {
        *returned = 0;
    }
    const auto open = open_.find(drive);
    if (open == open_.end()) {
        return fail(kErrorInvalidHandle);
    }
    SimDrive& sim = *open->second;
    if (code == kIoctlStorageQueryProperty) {
        return query_property(sim, in, in_size, out, out_size, returned);
    }
    if (code == kIoctlDiskGetLengthInfo) {
        return query_length(sim, out, out_size, returned);
    }
    return fail(kErrorInvalidFunction);
}

// The size the drive's capacity pages give: READ CAPACITY (16) when it holds one, else (10).
bool SimPlatform::query_length(const SimDrive& drive, void* out, std::uint32_t out_size,
                               std::uint32_t* returned) {
    if (out == nullptr || out_size < kDiskLengthInfoSize) {
        return fail(kErrorInvalidParameter);
    }
    const std::vector<std::uint8_t>& cap16 = drive.page(CommandId::read_capacity16);
    const std::vector<std::uint8_t>& cap10 = drive.page(CommandId::read_capacity10);
    std::uint64_t size = 0;
    if (cap16.size() >= 12 && get_be64(cap16.data()) != 0) {
        size = (get_be64(cap16.data()) + 1) * get_be32(cap16.data() + 8);
    } else if (cap10.size() >= 8) {
        size = (std::uint64_t{get_be32(cap10.data())} + 1) * get_be32(cap10.data() + 4);
    } else {
        return fail(kErrorInvalidFunction);
    }
    put_le64(static_cast<std::uint8_t*>(out), size);
    if (returned != nullptr) {
        *returned = kDiskLengthInfoSize;
    }
    return true;
}

bool SimPlatform::query_property(const SimDrive& drive, const void* in, std::uint32_t in_size,
                                 void* out, std::uint32_t out_size, std::uint32_t* returned) {
    if (in == nullptr || in_size < kQueryHeaderSize || out == nullptr) {
        return fail(kErrorInvalidParameter);
    }
    const auto* query = static_cast<const std::uint8_t*>(in);
    if (get_le32(query) != 0 || get_le32(query + 4) != 0) {
        return fail(kErrorInvalidParameter);
    }
    const SimDescriptor& d = drive.descriptor();
    const std::size_t n = build_storage_descriptor(static_cast<std::uint8_t*>(out), out_size,
                                                   d.vendor.c_str(), d.product.c_str(), d.bus_type);
    if (n == 0) {
        return fail(kErrorInvalidParameter);
    }
    if (returned != nullptr) {
        *returned = static_cast<std::uint32_t>(n);
    }
    return true;
}

PassThroughResult SimPlatform::pass_through(DriveHandle drive, const PassThroughRequest& request) {
    const auto open = open_.find(drive);
    if (open == open_.end()) {
        return failed_pass_through(kErrorInvalidHandle);
    }
    const std::uint32_t refused =
        refusal(request, PassThroughRefusals{kErrorInvalidParameter, kErrorAccessDenied});
    if (refused != 0) {
        return failed_pass_through(refused);
    }
    SimRequest sent;
    std::copy(request.cdb.begin(), request.cdb.end(), sent.cdb.begin());
    sent.cdb_length = request.cdb_length;
    sent.data_in = request.direction == DataDirection::in;
    sent.transfer_length = request.transfer_length;
    const SimAnswer answer = open->second->execute(sent, request.data);
    if (answer.status == SimAnswer::Status::platform_error) {
        return failed_pass_through(answer.error_code);
    }

    PassThroughResult result;
    result.completed = true;
    result.residual =
        request.transfer_length - std::min(answer.data_length, request.transfer_length);
    if (answer.status == SimAnswer::Status::check_condition) {
        result.scsi_status = kStatusCheckCondition;
        result.sense_length = static_cast<std::uint8_t>(
            std::min<std::size_t>(answer.sense.size(), request.sense_length));
        std::copy_n(answer.sense.begin(), result.sense_length, result.sense.begin());
    }
    return result;
}

PassThroughResult SimPlatform::failed_pass_through(std::uint32_t error) {
    last_error_ = error;
    return failed_call(error, windows_error_words(error));
}

DriveNames SimPlatform::drive_names(std::int32_t drive) {
    if (!host_names_disk_nodes())
        return Platform::drive_names(drive);
    if (drive < 0)
        return DriveNames{};  // no such disk: no name, as on the host itself
    return DriveNames{std::string(kSdPrefix) + sd_letters(drive), {}};
}

std::int32_t SimPlatform::find_drive(const char* os_path, bool& missing) {
    const std::int32_t number = Platform::find_drive(os_path, missing);
    if (number >= 0 || !host_names_disk_nodes())
        return number;
    return sd_number(os_path);
}

std::optional<UsbId> SimPlatform::usb_id(std::int32_t drive) {
    if (drive < 0 || static_cast<std::size_t>(drive) >= drives_.size())
        return std::nullopt;
    return drives_[static_cast<std::size_t>(drive)]->bridge_id();
}

std::intptr_t SimPlatform::shell_open(const char* file) {
    return host_.shell_open(file);
}

KeyState SimPlatform::wait_key(int timeout_ms) {
    return host_.wait_key(timeout_ms);
}

int SimPlatform::read_key() {
    return host_.read_key();
}

}  // namespace torvik
