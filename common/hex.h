// One hexadecimal digit, for the parsers of hex bytes typed by people.
#pragma once

namespace torvik {

// The value of c as a hex digit (either case), or -1.
constexpr int hex_digit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

}  // namespace torvik
