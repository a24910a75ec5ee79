// STORAGE_PROPERTY_QUERY and STORAGE_DEVICE_DESCRIPTOR as byte layouts, for the platforms that
// answer IOCTL_STORAGE_QUERY_PROPERTY themselves and for the code that reads the answer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace torvik {

inline constexpr std::uint32_t kPropertyQuerySize = 12;  // PropertyId, QueryType, 1 byte, padding

// STORAGE_DEVICE_DESCRIPTOR fields, byte offsets from its start.
inline constexpr std::size_t kDescVersion = 0;
inline constexpr std::size_t kDescSize = 4;
inline constexpr std::size_t kDescRemovableMedia = 10;
inline constexpr std::size_t kDescVendorIdOffset = 12;
inline constexpr std::size_t kDescProductIdOffset = 16;
inline constexpr std::size_t kDescBusType = 28;
inline constexpr std::size_t kDescHeaderSize = 40;

// STORAGE_BUS_TYPE values.
inline constexpr std::uint8_t kBusTypeScsi = 0x01;
inline constexpr std::uint8_t kBusTypeAta = 0x03;
inline constexpr std::uint8_t kBusTypeUsb = 0x07;
inline constexpr std::uint8_t kBusTypeSata = 0x0B;
inline constexpr std::uint8_t kBusTypeSd = 0x0C;
inline constexpr std::uint8_t kBusTypeMmc = 0x0D;
inline constexpr std::uint8_t kBusTypeVirtual = 0x0E;
inline constexpr std::uint8_t kBusTypeNvme = 0x11;

// A STORAGE_BUS_TYPE value as the listing and the messages name it ("USB", "SATA", "NVMe").
const char* bus_type_name(std::uint8_t bus_type);

// Writes a descriptor with the two texts placed after the header (nullptr: offset 0, absent).
// Returns the bytes written, or 0 when out_size cannot hold the header.
std::size_t build_storage_descriptor(std::uint8_t* out, std::size_t out_size, const char* vendor,
                                     const char* product, std::uint8_t bus_type);

}  // namespace torvik
