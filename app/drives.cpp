#include "app/drives.h"

#include <array>
#include <cstring>

#include "common/bytes.h"
#include "common/printable_text.h"
#include "platform/storage_descriptor.h"

namespace torvik {

namespace {

constexpr std::uint32_t kDescriptorBufferSize = 4096;
constexpr std::int32_t kListedDrives = 99;  // 0..98: drive 99 is accepted but never listed

using DescriptorBuffer = std::array<std::uint8_t, kDescriptorBufferSize>;

// Opens the drive, asks for its storage device descriptor and closes it again.
bool query_descriptor(Platform& platform, std::int32_t drive, DescriptorBuffer& descriptor) {
    char path[32];
    format_drive_path(path, sizeof path, drive);
    const DriveGuard drive_handle(platform, platform.open_drive(path, kQueryOpenFlags));
    if (!drive_handle.is_open())
        return false;
    std::uint8_t query[kPropertyQuerySize] = {};  // StorageDeviceProperty, PropertyStandardQuery
    std::uint32_t returned = 0;
    const bool ok = platform.device_io_control(drive_handle.get(), kIoctlStorageQueryProperty,
                                               query, sizeof query, descriptor.data(),
                                               kDescriptorBufferSize, &returned);
    return ok;
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

void format_drive_path(char* out, std::size_t out_size, std::int32_t drive) {
    std::snprintf(out, out_size, "\\\\.\\PhysicalDrive%d", static_cast<int>(drive));
}

void list_drives(Platform& platform, std::FILE* out) {
    DescriptorBuffer descriptor{};
    for (std::int32_t drive = 0; drive < kListedDrives; ++drive) {
        if (!query_descriptor(platform, drive, descriptor))
            continue;
        // The texts come from the drive (or a dump file): control bytes are shown as '?'.
        std::fprintf(out, "%2u: %s%s\n", static_cast<unsigned>(drive),
                     printable_text(descriptor_text(descriptor, kDescVendorIdOffset)).c_str(),
                     printable_text(descriptor_text(descriptor, kDescProductIdOffset)).c_str());
    }
}

std::uint8_t query_bus_type(Platform& platform, std::int32_t drive, std::uint8_t current) {
    DescriptorBuffer descriptor{};
    if (!query_descriptor(platform, drive, descriptor))
        return current;
    return descriptor[kDescBusType];
}

}  // namespace torvik
