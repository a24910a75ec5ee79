// Whole-number output for the "%1.0f" and "%13.0f" fields of the report and health log.
//
// Those fields round an exact half away from zero (62.5 -> 63, -62.5 -> -63). The C libraries the
// tool is built with all round such a half to even, and some write large values with only 17
// significant digits, so these fields never go through printf's floating-point conversion.
#pragma once

#include <cstdint>
#include <string>

#include "common/uint128.h"

namespace torvik {

struct WholeNumber {
    char text[352];  // room for any finite double written out in full, its sign and the width
};

// value rounded to a whole number, exactly, right-aligned in at least width characters.
WholeNumber whole_number(double value, int width);

// A count with its thousands grouped for people to read: 1380 -> "1,380".
std::string grouped_digits(std::uint64_t value);

// Hours as a person reads them: "1,380 h (57 days)", "24 h (1 day)".
std::string hours_and_days(std::uint64_t hours);

// A byte count in decimal units with two decimals: "18.06 TB", "512.00 kB", "0 B". The hundredths
// are rounded in whole numbers, so every C library prints the same. A count below 1000 is whole
// bytes; the double form reads NaN and negatives as 0 B.
std::string decimal_bytes(Uint128 bytes);
std::string decimal_bytes(double bytes);

}  // namespace torvik
