// Flash ID decodes per second over mixes of IDs like those a report meets, and the proof that a
// decode allocates nothing: this program counts every operator new and fails a benchmark whose
// decodes allocated.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <random>
#include <vector>

#include "flashid/flash_id.h"
#include "flashid/maker_table.h"
#include "flashid/part_tables.h"
#include "tests/support/counting_new.h"

namespace torvik {
namespace {

using Id = std::array<std::uint8_t, 8>;

constexpr std::size_t kMixSize = 4096;

Id random_id(std::mt19937& random) {
    Id id{};
    for (std::uint8_t& b : id)
        b = static_cast<std::uint8_t>(random());
    return id;
}

// The IDs of every part row, on a random background for the bytes a key leaves free.
std::vector<Id> part_key_ids(std::mt19937& random) {
    std::vector<Id> ids;
    for (std::span<const PartRow> table :
         {std::span<const PartRow>(kMicronPartTable), std::span<const PartRow>(kYmtcPartTable)}) {
        for (const PartRow& row : table) {
            Id id = random_id(random);
            id[0] = &table[0] == &kYmtcPartTable[0] ? kMakerYmtc : kMakerMicron;
            for (std::size_t i = 0; i < row.key_length; ++i)
                id[row.key_start + i] = row.key[i];
            ids.push_back(id);
        }
    }
    return ids;
}

// A report's mix: mostly known makers (half of them on part keys), some unknown maker codes.
std::vector<Id> realistic_mix() {
    std::mt19937 random(2024);
    const std::vector<Id> keys = part_key_ids(random);
    std::vector<Id> mix;
    while (mix.size() < kMixSize) {
        const unsigned kind = random() % 10;
        if (kind < 4) {
            mix.push_back(keys[random() % keys.size()]);
        } else if (kind < 8) {
            Id id = random_id(random);
            id[0] = kMakerTable[random() % std::size(kMakerTable)].code;
            mix.push_back(id);
        } else {
            Id id = random_id(random);
            while (find_maker_name(id[0]) != nullptr)
                id[0] = static_cast<std::uint8_t>(random());
            mix.push_back(id);
        }
    }
    return mix;
}

std::vector<Id> known_maker_ids() {
    std::mt19937 random(7);
    std::vector<Id> ids(kMixSize);
    for (Id& id : ids) {
        id = random_id(random);
        id[0] = kMakerTable[random() % std::size(kMakerTable)].code;
    }
    return ids;
}

std::vector<Id> micron_part_ids() {
    std::mt19937 random(11);
    std::vector<Id> ids = part_key_ids(random);
    ids.resize(kMicronPartRows);  // the Micron rows come first
    return ids;
}

void run_decodes(benchmark::State& state, const std::vector<Id>& ids) {
    char text[kFlashDescriptionSize];
    std::size_t next = 0;
    int known = 0;
    const long before = testing::allocation_count();
    for (auto _ : state) {
        known += decode_flash_id(ids[next].data(), text);
        benchmark::DoNotOptimize(text);
        if (++next == ids.size())
            next = 0;
    }
    const long allocated = testing::allocation_count() - before;
    benchmark::DoNotOptimize(known);
    state.SetItemsProcessed(state.iterations());
    state.counters["allocs"] = static_cast<double>(allocated);
    if (allocated != 0)
        state.SkipWithError("the decoder allocated memory");
}

void BM_DecodeRealisticMix(benchmark::State& state) {
    run_decodes(state, realistic_mix());
}
void BM_DecodeKnownMakers(benchmark::State& state) {
    run_decodes(state, known_maker_ids());
}
void BM_DecodeMicronPartKeys(benchmark::State& state) {
    run_decodes(state, micron_part_ids());
}
void BM_DecodeUnknownMaker(benchmark::State& state) {
    run_decodes(state, std::vector<Id>{Id{0x37, 0x3C, 0x98, 0xB3, 0x76, 0xF2, 0, 0}});
}

BENCHMARK(BM_DecodeRealisticMix);
BENCHMARK(BM_DecodeKnownMakers);
BENCHMARK(BM_DecodeMicronPartKeys);
BENCHMARK(BM_DecodeUnknownMaker);

}  // namespace
}  // namespace torvik

BENCHMARK_MAIN();
