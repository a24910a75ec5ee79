// The attribute description table: the texts shown beside the ATA-style attribute configuration
// (keyed by RawId) and beside the extended SMART records (keyed by IntId).
#pragma once

#include <cstddef>
#include <cstdint>

namespace torvik {

struct AttributeDescription {
    std::uint16_t id;
    char text[72];  // NUL-terminated; the longest text has 70 characters
};

// Two blocks, each in ascending id order. Ids repeat: the lookup takes the first row that matches,
// so rows of the second block whose id also occurs in the first are kept but never shown.
extern const AttributeDescription kAttributeDescriptions[];
extern const std::size_t kAttributeDescriptionCount;

// The text of the first row whose id equals id, or nullptr when no row has it.
const char* find_attribute_description(std::uint16_t id);

}  // namespace torvik
