// The decoder's whole output over millions of generated IDs, compared with digests recorded from
// the decoder's output before it was rewritten for speed. A mismatch names the chunk it is in;
// decode that chunk's IDs with a build from before the change to find the first differing line.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

#include "flashid/flash_id.h"
#include "flashid/maker_table.h"
#include "tests/support/flash_id_corpus.h"

namespace torvik::testing {
namespace {

// Digests one decode after another: the text, then the return value and a line end.
class DecodeDigest {
  public:
    void add(const FlashIdBytes& id) {
        char text[kFlashDescriptionSize];
        const int result = decode_flash_id(id.data(), text);
        std::size_t size = 0;
        while (text[size] != '\0')
            ++size;
        hash_.add(text, size);
        const char tail[2] = {static_cast<char>('0' + result), '\n'};
        hash_.add(tail, 2);
    }
    std::uint64_t value() const { return hash_.value(); }

  private:
    Fnv1a64 hash_;
};

struct Chunk {
    std::string name;
    std::uint64_t digest;
};

std::string hex64(std::uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%016" PRIX64, value);
    return text;
}

// Bytes 0 and 1 over all 65,536 values, each with 16 random tails; one chunk per high nibble
// of byte 0.
std::vector<Chunk> byte01_sweep() {
    std::mt19937 random(0x5EED0001u);
    std::vector<Chunk> chunks;
    for (unsigned high = 0; high < 16; ++high) {
        DecodeDigest digest;
        for (unsigned b0 = high << 4; b0 < ((high + 1) << 4); ++b0) {
            for (unsigned b1 = 0; b1 < 256; ++b1) {
                for (int tail = 0; tail < 16; ++tail) {
                    FlashIdBytes id = random_flash_id(random);
                    id[0] = static_cast<std::uint8_t>(b0);
                    id[1] = static_cast<std::uint8_t>(b1);
                    digest.add(id);
                }
            }
        }
        chunks.push_back(
            {std::string("bytes 0-1, byte 0 = ") + "0123456789ABCDEF"[high] + "x", digest.value()});
    }
    return chunks;
}

// For every known maker: byte 1 against each of bytes 2 to 5 over all their values, the other
// bytes random; one chunk per maker.
std::vector<Chunk> maker_sweep() {
    std::mt19937 random(0x5EED0002u);
    std::vector<Chunk> chunks;
    for (const MakerRow& maker : kMakerTable) {
        DecodeDigest digest;
        for (int byte = 2; byte <= 5; ++byte) {
            for (unsigned b1 = 0; b1 < 256; ++b1) {
                for (unsigned value = 0; value < 256; ++value) {
                    FlashIdBytes id = random_flash_id(random);
                    id[0] = maker.code;
                    id[1] = static_cast<std::uint8_t>(b1);
                    id[byte] = static_cast<std::uint8_t>(value);
                    digest.add(id);
                }
            }
        }
        chunks.push_back({std::string("maker ") + maker.name, digest.value()});
    }
    return chunks;
}

// Four million IDs of the benchmark's realistic mix, in chunks of 512 Ki.
std::vector<Chunk> realistic_ids() {
    constexpr std::size_t kChunk = 512 * 1024;
    std::vector<Chunk> chunks;
    for (std::uint32_t seed = 1; seed <= 8; ++seed) {
        DecodeDigest digest;
        for (const FlashIdBytes& id : realistic_flash_id_mix(seed, kChunk))
            digest.add(id);
        chunks.push_back({"realistic mix, seed " + std::to_string(seed), digest.value()});
    }
    return chunks;
}

// Recorded from the decoder's output before its rewrite; in the order the sweeps above make.
constexpr std::uint64_t kRecorded[] = {
    0xD95B8602C8A17094,  // bytes 0-1, byte 0 = 0x
    0xAE6C7960325A2325,  // bytes 0-1, byte 0 = 1x
    0x2772688BD1988A7C,  // bytes 0-1, byte 0 = 2x
    0xAE6C7960325A2325,  // bytes 0-1, byte 0 = 3x
    0x3073F204DA6E3709,  // bytes 0-1, byte 0 = 4x
    0x689D104EAF871EAF,  // bytes 0-1, byte 0 = 5x
    0xAE6C7960325A2325,  // bytes 0-1, byte 0 = 6x
    0xAE6C7960325A2325,  // bytes 0-1, byte 0 = 7x
    0x7C87F1444A65F02F,  // bytes 0-1, byte 0 = 8x
    0x722AE9CA4235EC88,  // bytes 0-1, byte 0 = 9x
    0x6A30096DD64FAD24,  // bytes 0-1, byte 0 = Ax
    0xBAC5B893FAE5B324,  // bytes 0-1, byte 0 = Bx
    0x532649C720F0EB4A,  // bytes 0-1, byte 0 = Cx
    0xAE6C7960325A2325,  // bytes 0-1, byte 0 = Dx
    0x4AB5C8AE51C01EE5,  // bytes 0-1, byte 0 = Ex
    0xAE6C7960325A2325,  // bytes 0-1, byte 0 = Fx
    0xC145DD1639C1110D,  // maker Spansion
    0xDA70F08F982F8D56,  // maker Fujitsu
    0x2240ED1D3485718C,  // maker Renesas
    0x407297A3E5B81B1F,  // maker STMicro
    0xF494A7B8E9FF9C56,  // maker Micron
    0xEB1AF285CA50EF95,  // maker Sandisk
    0x277A9BEE189006B5,  // maker SMIC
    0x7236B3F24640EB26,  // maker Qimonda
    0x54EF9406CDBCD790,  // maker Intel
    0x18F4468106F43D27,  // maker ESMT(PowerChip)
    0x97FBE22EA81DCA5F,  // maker Toshiba
    0xE656B4BBEF1C085C,  // maker YMTC
    0xCFC8674C9AB9FA81,  // maker Hynix
    0x27084ADD025A1889,  // maker Spectek
    0xF13723EF21EF8B95,  // maker Macronix
    0x10E57DA4297BE10A,  // maker ESMT(MIRA-PSC)
    0x93AD6CF9F1D2E981,  // maker Samsung
    0xDBEC80CC5FE2DFD0,  // maker Winbond
    0xBF4EAC983F91F94A,  // realistic mix, seed 1
    0x9A392893F88A7FC0,  // realistic mix, seed 2
    0xC20CDA6ABADDBC6A,  // realistic mix, seed 3
    0xC45699929841F59C,  // realistic mix, seed 4
    0x34FBC05196A333B0,  // realistic mix, seed 5
    0x2E4B9B089CBB0BF6,  // realistic mix, seed 6
    0x4092C29C6F11296C,  // realistic mix, seed 7
    0x146F6EFED4E4F414,  // realistic mix, seed 8
};

TEST(FlashIdDigest, OutputEqualsTheRecordedOutput) {
    std::vector<Chunk> chunks = byte01_sweep();
    for (std::vector<Chunk> more : {maker_sweep(), realistic_ids()})
        chunks.insert(chunks.end(), more.begin(), more.end());
    ASSERT_EQ(chunks.size(), std::size(kRecorded)) << [&] {
        std::string all;
        for (const Chunk& c : chunks)
            all += "    " + hex64(c.digest) + ",  // " + c.name + "\n";
        return all;
    }();
    for (std::size_t i = 0; i < chunks.size(); ++i)
        EXPECT_EQ(hex64(chunks[i].digest), hex64(kRecorded[i])) << chunks[i].name;
}

}  // namespace
}  // namespace torvik::testing
