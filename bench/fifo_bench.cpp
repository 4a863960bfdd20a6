// Decoding throughput of the normal-scan reader on a 24-channel stream, and memcpy of the same
// bytes for scale. The stream (100 steps, 64 samples per step and channel, packets of 8191
// words) is served again and again by the scripted QuickUSB library, so every decoded byte also
// passes through one bulk-read copy, as it does from a USB driver's buffer.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "scriptedboard.h"
#include "tolmar2/MsgLogger.h"
#include "tolmar2/TolmarCntrl.h"

namespace {

constexpr int kChannels = 24;
constexpr int kSteps = 100;
constexpr int kSamples = 64;

std::vector<uint16_t> streamWords() {
    std::vector<uint16_t> samples;
    samples.reserve(size_t(kChannels) * kSteps * kSamples);
    uint32_t noise = 12345;
    for (int s = 0; s < kSteps; ++s)
        for (int c = 0; c < kChannels; ++c)
            for (int j = 0; j < kSamples; ++j) {
                noise = noise * 1103515245u + 12345u;
                samples.push_back(static_cast<uint16_t>(1000 + 10 * c - s + (noise >> 28)));
            }
    return blockPackets(samples, 1, 2, 8191);
}

struct Setup {
    ScriptedBoard board;
    TolmarCntrl c;
    size_t bytes = 0;
    bool ok = false;

    Setup() {
        MsgLogger::setMode(0);
        if (!board.select())
            return;
        board.reset();
        const std::vector<uint16_t> words = streamWords();
        bytes = words.size() * 2;
        board.addSegment(words);
        board.setLoop(true);
        c.qusbHandle = 1;
        c.connected = true;
        c.run_en = true;
        c.deviceOptions = 0;
        c.nAdcChannels = kChannels;
        c.iv_steps = kSteps;
        c.iv_samples = kSamples;
        c.fifoReadBytes = 131072;
        c.fifoReadPos = c.fifoWordsInBuffer = 65536;
        ok = true;
    }
};

void decode(benchmark::State& state, bool averaged) {
    static Setup setup;
    if (!setup.ok) {
        state.SkipWithError("scripted QuickUSB library not loaded");
        return;
    }
    for (auto _ : state) {
        double* data = nullptr;
        unsigned nPoints = 0, status = 0;
        if (setup.c.readFpgaFifoData(data, averaged, nPoints, status) != 1) {
            state.SkipWithError("block not decoded");
            return;
        }
        benchmark::DoNotOptimize(data);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(setup.bytes));
}

void BM_DecodeAveraged(benchmark::State& state) {
    decode(state, true);
}
void BM_DecodeRaw(benchmark::State& state) {
    decode(state, false);
}

void BM_Memcpy(benchmark::State& state) {
    const std::vector<uint16_t> words = streamWords();
    std::vector<uint16_t> to(words.size());
    for (auto _ : state) {
        std::memcpy(to.data(), words.data(), words.size() * 2);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(words.size() * 2));
}

BENCHMARK(BM_DecodeAveraged);
BENCHMARK(BM_DecodeRaw);
BENCHMARK(BM_Memcpy);

}  // namespace
