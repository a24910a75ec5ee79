// Generated flash IDs and --decode input, shared by the decoder's equality tests and the
// benchmarks so both look at exactly the same data. Every generator takes a fixed seed: the same
// call gives the same bytes on every machine (std::mt19937's raw output is fixed by the standard).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace torvik::testing {

using FlashIdBytes = std::array<std::uint8_t, 8>;

FlashIdBytes random_flash_id(std::mt19937& random);

// The IDs of every part row (Micron table first, then YMTC), on a random background for the
// bytes a key leaves free.
std::vector<FlashIdBytes> part_key_ids(std::mt19937& random);

// A report's mix: 40 % part keys, 40 % known makers with random bytes, 20 % unknown makers.
std::vector<FlashIdBytes> realistic_flash_id_mix(std::uint32_t seed, std::size_t count);

// Input for "--decode -": mostly IDs of the realistic mix, written the ways people paste them
// (spaces, tabs, commas, 0x prefixes, either case, 6 to 8 bytes, some CRLF line ends), with
// blank lines (2 %), unknown makers and bad lines (3 %: a bad token, too few or too many bytes).
// Every line ends in "\n"; no line is longer than 64 bytes.
// The seed of the benchmark's input.
inline constexpr std::uint32_t kDecodeInputSeed = 17;
std::string decode_input_lines(std::uint32_t seed, std::size_t lines);

// 64-bit FNV-1a, for digests of long generated outputs.
class Fnv1a64 {
  public:
    void add(const char* data, std::size_t size) {
        for (std::size_t i = 0; i < size; ++i) {
            hash_ ^= static_cast<unsigned char>(data[i]);
            hash_ *= 0x100000001B3u;
        }
    }
    void add(const std::string& text) { add(text.data(), text.size()); }
    std::uint64_t value() const { return hash_; }

  private:
    std::uint64_t hash_ = 0xCBF29CE484222325u;
};

}  // namespace torvik::testing
