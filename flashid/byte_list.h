// A short constant list of byte values, for table cells that hold several codes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>

namespace torvik {

template <std::size_t N>
class ByteList {
  public:
    constexpr ByteList() = default;
    constexpr ByteList(std::initializer_list<std::uint8_t> bytes) {
        // A cell with more codes than the list holds stops the compilation of a constant table.
        if (bytes.size() > N)
            std::abort();
        for (std::uint8_t b : bytes)
            bytes_[count_++] = b;
    }

    constexpr std::size_t size() const { return count_; }
    constexpr std::uint8_t operator[](std::size_t i) const { return bytes_[i]; }
    constexpr const std::uint8_t* begin() const { return bytes_.data(); }
    constexpr const std::uint8_t* end() const { return bytes_.data() + count_; }

    constexpr bool contains(std::uint8_t value) const {
        for (std::uint8_t b : *this) {
            if (b == value)
                return true;
        }
        return false;
    }

  private:
    std::array<std::uint8_t, N> bytes_{};
    std::size_t count_ = 0;
};

}  // namespace torvik
