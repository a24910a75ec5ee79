#include "app/drive_listing.h"

#include <array>
#include <cstring>

#include "common/bytes.h"
#include "platform/host_platform.h"
#include "platform/storage_descriptor.h"

namespace torvik {

namespace {

constexpr std::uint32_t kDescriptorBufferSize = 4096;
constexpr std::int32_t kListedDrives = 99;  // 0..98: drive 99 is accepted but never listed

using DescriptorBuffer = std::array<std::uint8_t, kDescriptorBufferSize>;

// Opens the drive and asks for its storage device descriptor; `also` then runs on the open
// handle before it is closed again.
template <typename Also>
BusQuery query_descriptor(Platform& platform, std::int32_t drive, DescriptorBuffer& descriptor,
                          Also also) {
    BusQuery result;
    char path[kDrivePathSize];
    format_drive_path(path, sizeof path, drive);
    const DriveHandle handle = platform.open_drive(path, kQueryOpenFlags);
    if (handle == kInvalidDriveHandle) {
        result.error = platform.last_error();
        return result;
    }
    result.opened = true;
    std::uint8_t query[kPropertyQuerySize] = {};  // StorageDeviceProperty, PropertyStandardQuery
    std::uint32_t returned = 0;
    result.answered =
        platform.device_io_control(handle, kIoctlStorageQueryProperty, query, sizeof query,
                                   descriptor.data(), kDescriptorBufferSize, &returned);
    if (result.answered) {
        result.bus_type = descriptor[kDescBusType];
        also(handle);
    } else {
        result.error = platform.last_error();
    }
    platform.close_drive(handle);
    return result;
}

BusQuery query_descriptor(Platform& platform, std::int32_t drive, DescriptorBuffer& descriptor) {
    return query_descriptor(platform, drive, descriptor, [](DriveHandle) {});
}

// A text of the descriptor at the offset stored in `field`; empty for offset 0. An offset outside
// the buffer, or a text without its NUL inside it, also reads as empty.
const char* descriptor_text(const DescriptorBuffer& descriptor, std::size_t field) {
    const std::uint32_t offset = get_le32(descriptor.data() + field);
    if (offset == 0 || offset >= descriptor.size())
        return "";
    const char* text = reinterpret_cast<const char*>(descriptor.data() + offset);
    if (std::memchr(text, '\0', descriptor.size() - offset) == nullptr)
        return "";
    return text;
}

}  // namespace

void list_drives(Platform& platform, std::FILE* out) {
    DescriptorBuffer descriptor{};
    for (std::int32_t drive = 0; drive < kListedDrives; ++drive) {
        if (!query_descriptor(platform, drive, descriptor).answered)
            continue;
        std::fprintf(out, "%2u: %s%s\n", static_cast<unsigned>(drive),
                     descriptor_text(descriptor, kDescVendorIdOffset),
                     descriptor_text(descriptor, kDescProductIdOffset));
    }
}

BusQuery query_bus(Platform& platform, std::int32_t drive) {
    DescriptorBuffer descriptor{};
    return query_descriptor(platform, drive, descriptor);
}

const char* privilege_hint() {
    return std::strcmp(host_platform_name(), "Windows") == 0 ? "run as administrator"
                                                             : "run as root";
}

DriveList scan_drives(Platform& platform) {
    DriveList list;
    for (std::int32_t drive = 0; drive < kListedDrives; ++drive) {
        DescriptorBuffer descriptor{};
        std::optional<std::uint64_t> size;
        const BusQuery found = query_descriptor(platform, drive, descriptor, [&](DriveHandle h) {
            std::uint8_t length[kDiskLengthInfoSize] = {};
            std::uint32_t returned = 0;
            if (platform.device_io_control(h, kIoctlDiskGetLengthInfo, nullptr, 0, length,
                                           sizeof length, &returned) &&
                returned == sizeof length) {
                size = get_le64(length);
            }
        });
        if (!found.opened && platform.error_kind(found.error) == ErrorKind::access_denied)
            list.access_denied = true;
        if (!found.answered)
            continue;
        ListedDrive entry;
        entry.number = drive;
        entry.names = platform.drive_names(drive);
        entry.bus_type = found.bus_type;
        entry.vendor = descriptor_text(descriptor, kDescVendorIdOffset);
        entry.product = descriptor_text(descriptor, kDescProductIdOffset);
        entry.size = size;
        list.drives.push_back(std::move(entry));
    }
    return list;
}

}  // namespace torvik
