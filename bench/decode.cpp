// SPDX-License-Identifier: MIT
// Cost of decoding one status block, beside what merely touching its thirty
// bytes costs on the same machine in the same run.
#include "protocol/statusframe.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cstring>
#include <vector>

namespace {

using korvale::StatusFrame;

// Varied readings, so that neither the branch predictor nor the compiler
// sees the same frame twice in a row. kCount is a power of two.
constexpr std::size_t kCount = 64;

std::vector<StatusFrame> sampleBlocks(std::size_t syncAt)
{
    std::vector<StatusFrame> blocks;
    std::uint16_t v = 1234;
    for (std::size_t i = 0; i < kCount; ++i) {
        v = static_cast<std::uint16_t>(v * 31 + 17);
        korvale::StatusValues values;
        values.reading1 = v % 4001;
        values.reading2 = (v >> 3) % 5001;
        values.reading3 = v % 10000;
        values.reading4 = v % 41;
        values.reading5 = (v >> 5) % 501;
        values.reading6 = (v >> 2) % 2001;
        values.statusByte = static_cast<std::uint8_t>(v);
        const StatusFrame frame = korvale::encodeStatusFrame(values);
        // The same frame received late: the block starts with the tail of
        // the previous frame, which must not hold a sync pair.
        StatusFrame block{};
        for (std::size_t k = 0; k < block.size(); ++k)
            block[(k + syncAt) % block.size()] = frame[k];
        for (std::size_t k = 0; k < syncAt; ++k)
            block[k] = 0x11;
        blocks.push_back(block);
    }
    return blocks;
}

void BM_Memcpy30(benchmark::State &state)
{
    const auto blocks = sampleBlocks(0);
    StatusFrame copy{};
    std::size_t i = 0;
    for (auto _ : state) {
        const StatusFrame &block = blocks[i++ % kCount];
        benchmark::DoNotOptimize(block.data());
        std::memcpy(copy.data(), block.data(), copy.size());
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Memcpy30);

// Times one look at each block; `scan` returns what must not be optimised away.
template <typename Scan> void scanEach(benchmark::State &state, Scan scan)
{
    const auto blocks = sampleBlocks(static_cast<std::size_t>(state.range(0)));
    std::size_t i = 0;
    for (auto _ : state) {
        const StatusFrame &block = blocks[i++ % kCount];
        benchmark::DoNotOptimize(block.data());
        benchmark::DoNotOptimize(scan(block));
    }
}

void BM_FindSyncPair(benchmark::State &state)
{
    scanEach(state, [](const StatusFrame &block) { return korvale::findSyncPair(block); });
}
BENCHMARK(BM_FindSyncPair)->Arg(0)->Arg(5);

void BM_DecodeStatusBlock(benchmark::State &state)
{
    const auto blocks = sampleBlocks(static_cast<std::size_t>(state.range(0)));
    std::size_t i = 0;
    for (auto _ : state) {
        const StatusFrame &block = blocks[i++ % kCount];
        benchmark::DoNotOptimize(block.data());
        auto readings = korvale::decodeStatusBlock(block);
        benchmark::DoNotOptimize(readings);
    }
}
BENCHMARK(BM_DecodeStatusBlock)->Arg(0)->Arg(5);

} // namespace

BENCHMARK_MAIN();
