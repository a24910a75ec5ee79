// A run of decimal digits with its thousands grouped for people to read: "1099" -> "1,099".
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace torvik {

inline std::string grouped(std::string_view digits) {
    std::string out;
    out.reserve(digits.size() + digits.size() / 3);
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i != 0 && (digits.size() - i) % 3 == 0)
            out += ',';
        out += digits[i];
    }
    return out;
}

}  // namespace torvik
