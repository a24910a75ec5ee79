#include "platform/storage_descriptor.h"

#include <cstring>
#include <iterator>
#include <string_view>

#include "common/bytes.h"

namespace torvik {

namespace {

// STORAGE_BUS_TYPE names, by value.
constexpr const char* kBusTypeNames[] = {
    "unknown",
    "SCSI",
    "ATAPI",
    "ATA",
    "1394",
    "SSA",
    "Fibre Channel",
    "USB",
    "RAID",
    "iSCSI",
    "SAS",
    "SATA",
    "SD",
    "MMC",
    "virtual",
    "file-backed virtual",
    "storage spaces",
    "NVMe",
    "SCM",
    "UFS",
};
static_assert(std::string_view(kBusTypeNames[kBusTypeUsb]) == "USB" &&
              std::string_view(kBusTypeNames[kBusTypeSata]) == "SATA" &&
              std::string_view(kBusTypeNames[kBusTypeNvme]) == "NVMe");

}  // namespace

const char* bus_type_name(std::uint8_t bus_type) {
    return bus_type < std::size(kBusTypeNames) ? kBusTypeNames[bus_type] : "unknown";
}

std::size_t build_storage_descriptor(std::uint8_t* out, std::size_t out_size, const char* vendor,
                                     const char* product, std::uint8_t bus_type) {
    if (out_size < kDescHeaderSize)
        return 0;
    std::memset(out, 0, out_size);
    std::size_t at = kDescHeaderSize;
    // Each text goes in only when it fits with its NUL; a text that does not fit is absent.
    auto place = [&](const char* text, std::size_t field) {
        if (text == nullptr)
            return;
        const std::size_t n = std::strlen(text) + 1;
        if (at + n > out_size)
            return;
        std::memcpy(out + at, text, n);
        put_le32(out + field, static_cast<std::uint32_t>(at));
        at += n;
    };
    place(vendor, kDescVendorIdOffset);
    place(product, kDescProductIdOffset);
    put_le32(out + kDescVersion, static_cast<std::uint32_t>(kDescHeaderSize));
    put_le32(out + kDescSize, static_cast<std::uint32_t>(at));
    put_le32(out + kDescBusType, bus_type);
    return at;
}

}  // namespace torvik
