// Text joined from parts at compile time, for a constant text that quotes a table (the --bridge
// help names every tunnel form): joined_text<joined_length(parts)>(parts).
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace torvik {

// n characters and a terminating zero.
template <std::size_t n>
struct JoinedText {
    std::array<char, n + 1> chars{};

    constexpr const char* c_str() const { return chars.data(); }
    constexpr std::string_view view() const { return {chars.data(), n}; }
};

template <std::size_t count>
constexpr std::size_t joined_length(const std::array<std::string_view, count>& parts) {
    std::size_t n = 0;
    for (const std::string_view part : parts)
        n += part.size();
    return n;
}

template <std::size_t n, std::size_t count>
constexpr JoinedText<n> joined_text(const std::array<std::string_view, count>& parts) {
    JoinedText<n> text;
    std::size_t at = 0;
    for (const std::string_view part : parts) {
        for (const char c : part)
            text.chars[at++] = c;
    }
    return text;
}

}  // namespace torvik
