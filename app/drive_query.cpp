#include "app/drive_query.h"

#include <cstring>

#include "common/bytes.h"
#include "common/printable_text.h"
#include "platform/drive_path.h"
#include "platform/storage_descriptor.h"

namespace torvik {

BusQuery query_descriptor(Platform& platform, std::int32_t drive, DescriptorBuffer& descriptor,
                          std::optional<std::uint64_t>* size) {
    BusQuery result;
    char path[kDrivePathSize];
    format_drive_path(path, sizeof path, drive);
    const DriveGuard drive_handle(platform, platform.open_drive(path, kQueryOpenFlags));
    const DriveHandle handle = drive_handle.get();
    if (!drive_handle.is_open()) {
        result.error = platform.last_error();
        return result;
    }
    result.opened = true;
    std::uint8_t query[kPropertyQuerySize] = {};  // StorageDeviceProperty, PropertyStandardQuery
    std::uint32_t returned = 0;
    result.answered =
        platform.device_io_control(handle, kIoctlStorageQueryProperty, query, sizeof query,
                                   descriptor.data(), descriptor.size(), &returned);
    if (result.answered) {
        result.bus_type = descriptor[kDescBusType];
    } else {
        result.error = platform.last_error();
    }
    std::uint8_t length[kDiskLengthInfoSize] = {};
    if (result.answered && size != nullptr &&
        platform.device_io_control(handle, kIoctlDiskGetLengthInfo, nullptr, 0, length,
                                   sizeof length, &returned) &&
        returned == sizeof length) {
        *size = get_le64(length);
    }
    return result;
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

void print_drive_menu(Platform& platform, std::FILE* out) {
    DescriptorBuffer descriptor{};
    for (std::int32_t drive = 0; drive < kListedDrives; ++drive) {
        if (!query_descriptor(platform, drive, descriptor).answered)
            continue;
        // The texts come from the drive (or a dump file): control bytes are shown as '?'.
        std::fprintf(out, "%2u: %s%s\n", static_cast<unsigned>(drive),
                     printable_text(descriptor_text(descriptor, kDescVendorIdOffset)).c_str(),
                     printable_text(descriptor_text(descriptor, kDescProductIdOffset)).c_str());
    }
}

BusQuery query_bus(Platform& platform, std::int32_t drive) {
    DescriptorBuffer descriptor{};
    return query_descriptor(platform, drive, descriptor);
}

}  // namespace torvik
