// Flash ID decodes per second over mixes of IDs like those a report meets, lines per second of
// "--decode -", and the proof that a decode allocates nothing: this program counts every operator
// new and fails a benchmark whose decodes allocated.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "app/decode_command.h"
#include "flashid/flash_id.h"
#include "flashid/maker_table.h"
#include "flashid/part_tables.h"
#include "tests/support/counting_new.h"
#include "tests/support/flash_id_corpus.h"

namespace torvik {
namespace {

using testing::FlashIdBytes;
using testing::part_key_ids;
using testing::random_flash_id;
using testing::realistic_flash_id_mix;

using Id = FlashIdBytes;

constexpr std::size_t kMixSize = 4096;

std::vector<Id> realistic_mix() {
    return realistic_flash_id_mix(2024, kMixSize);
}

std::vector<Id> known_maker_ids() {
    std::mt19937 random(7);
    std::vector<Id> ids(kMixSize);
    for (Id& id : ids) {
        id = random_flash_id(random);
        id[0] = kMakerTable[random() % std::size(kMakerTable)].code;
    }
    return ids;
}

std::vector<Id> micron_part_ids() {
    std::mt19937 random(11);
    std::vector<Id> ids = part_key_ids(random);
    ids.resize(part_rows(kMicronParts).size());  // the Micron rows come first
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

// "--decode -" over the benchmark's million lines, read from memory, written to /dev/null.
void BM_DecodeLines(benchmark::State& state) {
    constexpr std::size_t kLines = 1'000'000;
    std::string input = testing::decode_input_lines(testing::kDecodeInputSeed, kLines);
    std::FILE* sink = std::fopen("/dev/null", "w");
    const char* const args[] = {"-"};
    for (auto _ : state) {
        std::FILE* in = fmemopen(input.data(), input.size(), "r");
        benchmark::DoNotOptimize(run_decode_command(1, args, in, sink, sink));
        std::fclose(in);
    }
    std::fclose(sink);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kLines));
}

BENCHMARK(BM_DecodeRealisticMix);
BENCHMARK(BM_DecodeKnownMakers);
BENCHMARK(BM_DecodeMicronPartKeys);
BENCHMARK(BM_DecodeUnknownMaker);
BENCHMARK(BM_DecodeLines)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace torvik

BENCHMARK_MAIN();
