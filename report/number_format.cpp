#include "report/number_format.h"

#include <string>

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <iterator>

#include "common/grouped_digits.h"

namespace torvik {

namespace {

constexpr double kTwoPow52 = 4503599627370496.0;  // from here on every double is whole
constexpr double kTwoPow64 = 18446744073709551616.0;
constexpr int kMantissaBits = 53;

// The decimal digits of a whole magnitude of at least 2^64, written as its 53-bit mantissa
// doubled once for each power of two.
void write_large(char* out, double magnitude) {
    int exponent = 0;
    const double fraction = std::frexp(magnitude, &exponent);
    std::uint64_t mantissa = static_cast<std::uint64_t>(std::ldexp(fraction, kMantissaBits));
    unsigned char digits[sizeof WholeNumber{}.text];  // least significant first
    std::size_t count = 0;
    for (; mantissa != 0; mantissa /= 10)
        digits[count++] = static_cast<unsigned char>(mantissa % 10);
    for (int i = kMantissaBits; i < exponent; ++i) {
        unsigned carry = 0;
        for (std::size_t d = 0; d < count; ++d) {
            const unsigned doubled = digits[d] * 2u + carry;
            digits[d] = static_cast<unsigned char>(doubled % 10);
            carry = doubled / 10;
        }
        if (carry != 0)
            digits[count++] = static_cast<unsigned char>(carry);
    }
    for (std::size_t d = 0; d < count; ++d)
        out[d] = static_cast<char>('0' + digits[count - 1 - d]);
    out[count] = '\0';
}

}  // namespace

WholeNumber whole_number(double value, int width) {
    WholeNumber out{};
    char digits[sizeof out.text];
    if (!std::isfinite(value)) {
        std::snprintf(digits, sizeof digits, "%.0f", value);
    } else {
        double magnitude = std::fabs(value);
        if (magnitude < kTwoPow52) {
            // Below 2^52 both floor and the remainder are exact, so a half is seen as it is.
            const double whole = std::floor(magnitude);
            magnitude = magnitude - whole >= 0.5 ? whole + 1.0 : whole;
        }
        char* p = digits;
        if (std::signbit(value))
            *p++ = '-';
        if (magnitude < kTwoPow64) {
            std::snprintf(p, sizeof digits - 1, "%" PRIu64, static_cast<std::uint64_t>(magnitude));
        } else {
            write_large(p, magnitude);
        }
    }
    std::snprintf(out.text, sizeof out.text, "%*s", width, digits);
    return out;
}

std::string hours_and_days(std::uint64_t hours) {
    return grouped_digits(hours) + " h (" + grouped_digits(hours / 24) +
           (hours / 24 == 1 ? " day)" : " days)");
}

std::string grouped_digits(std::uint64_t value) {
    return grouped(std::to_string(value));
}

std::string decimal_bytes(Uint128 bytes) {
    if (bytes.high == 0 && bytes.low < 1000)
        return std::to_string(bytes.low) + " B";
    return decimal_bytes(std::ldexp(static_cast<double>(bytes.high), 64) +
                         static_cast<double>(bytes.low));
}

std::string decimal_bytes(double bytes) {
    static constexpr const char* kUnits[] = {"B", "kB", "MB", "GB", "TB", "PB", "EB", "ZB", "YB"};
    if (!(bytes >= 0.5))  // NaN too
        return "0 B";
    if (bytes < 999.5)
        return std::to_string(std::llround(bytes)) + " B";
    // From 999.5 up it rounds to 1.00 kB; beyond the largest 128-bit count the hundredths would no
    // longer fit a whole number.
    double scaled = std::clamp(bytes, 1000.0, 1e39);
    std::size_t unit = 0;
    while (scaled >= 1000 && unit + 1 < std::size(kUnits)) {
        scaled /= 1000;
        ++unit;
    }
    auto hundredths = static_cast<std::uint64_t>(std::llround(scaled * 100));
    if (hundredths >= 100000 && unit + 1 < std::size(kUnits)) {  // 999.995 rounds to 1000.00
        hundredths = static_cast<std::uint64_t>(std::llround(scaled / 10));
        ++unit;
    }
    char text[48];
    std::snprintf(text, sizeof text, "%s.%02u %s", grouped_digits(hundredths / 100).c_str(),
                  static_cast<unsigned>(hundredths % 100), kUnits[unit]);
    return text;
}

}  // namespace torvik
