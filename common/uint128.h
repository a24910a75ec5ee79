// An unsigned 128-bit whole number, as the NVMe SMART / Health page keeps its counters.
#pragma once

#include <cstddef>
#include <cstdint>

namespace torvik {

struct Uint128 {
    std::uint64_t high = 0;
    std::uint64_t low = 0;
};

struct DecimalText {
    char text[40];  // 2^128 - 1 has 39 digits
};

// value * factor, or the largest value when the product does not fit.
inline Uint128 saturating_multiply(Uint128 value, std::uint32_t factor) {
    const std::uint64_t limbs[4] = {value.low & 0xFFFFFFFFu, value.low >> 32,
                                    value.high & 0xFFFFFFFFu, value.high >> 32};
    std::uint64_t product[4] = {};
    std::uint64_t carry = 0;
    for (int i = 0; i < 4; ++i) {
        const std::uint64_t step = limbs[i] * factor + carry;  // below 2^64: both below 2^32
        product[i] = step & 0xFFFFFFFFu;
        carry = step >> 32;
    }
    if (carry != 0)
        return Uint128{~std::uint64_t{0}, ~std::uint64_t{0}};
    return Uint128{product[3] << 32 | product[2], product[1] << 32 | product[0]};
}

// The exact decimal digits of value, without sign or padding.
inline DecimalText decimal_text(Uint128 value) {
    // Long division by ten over four 32-bit limbs, most significant first; each step's dividend
    // (remainder << 32 | limb) stays below 10 * 2^32, well inside 64 bits.
    std::uint32_t limbs[4] = {
        static_cast<std::uint32_t>(value.high >> 32), static_cast<std::uint32_t>(value.high),
        static_cast<std::uint32_t>(value.low >> 32), static_cast<std::uint32_t>(value.low)};
    char digits[sizeof DecimalText{}.text];  // least significant first
    std::size_t count = 0;
    bool zero = false;
    while (!zero) {
        std::uint64_t remainder = 0;
        zero = true;
        for (std::uint32_t& limb : limbs) {
            const std::uint64_t dividend = remainder << 32 | limb;
            limb = static_cast<std::uint32_t>(dividend / 10);
            remainder = dividend % 10;
            zero = zero && limb == 0;
        }
        digits[count++] = static_cast<char>('0' + remainder);
    }
    DecimalText out{};
    for (std::size_t d = 0; d < count; ++d)
        out.text[d] = digits[count - 1 - d];
    out.text[count] = '\0';
    return out;
}

}  // namespace torvik
