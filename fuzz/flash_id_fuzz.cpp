// The flash ID decoder on any 8 bytes: the result says whether there is a text, the text fits
// the report's 67 characters, is printable and NUL-terminated, agrees with the decoded fields,
// and does not depend on bytes 6 and 7.
#include <cstdint>
#include <cstring>

#include "flashid/flash_id.h"
#include "fuzz/fuzz_support.h"

namespace {

constexpr std::size_t kLongestDescription = 67;

std::size_t checked_length(const char* text) {
    const void* end = std::memchr(text, '\0', torvik::kFlashDescriptionSize);
    FUZZ_CHECK(end != nullptr);
    return static_cast<std::size_t>(static_cast<const char*>(end) - text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::uint8_t id[8] = {};
    std::memcpy(id, data, size < sizeof id ? size : sizeof id);

    char text[torvik::kFlashDescriptionSize];
    std::memset(text, 'X', sizeof text);  // whatever the area held before
    const int result = torvik::decode_flash_id(id, text);
    const std::size_t length = checked_length(text);
    FUZZ_CHECK(result == 0 || result == 1);
    FUZZ_CHECK((result == 1) == (length > 0));
    FUZZ_CHECK(length <= kLongestDescription);
    for (std::size_t i = 0; i < length; ++i)
        FUZZ_CHECK(text[i] >= 0x20 && text[i] <= 0x7E);

    torvik::FlashFields fields;
    FUZZ_CHECK(torvik::decode_flash_fields(id, fields) == (result == 1));
    char again[torvik::kFlashDescriptionSize];
    torvik::format_flash_description(fields, again, sizeof again);
    FUZZ_CHECK(std::strcmp(text, again) == 0);

    std::uint8_t other_tail[8];
    std::memcpy(other_tail, id, sizeof id);
    other_tail[6] ^= 0xFF;
    other_tail[7] ^= 0x5A;
    char tail_text[torvik::kFlashDescriptionSize];
    FUZZ_CHECK(torvik::decode_flash_id(other_tail, tail_text) == result);
    FUZZ_CHECK(std::strcmp(text, tail_text) == 0);
    return 0;
}
