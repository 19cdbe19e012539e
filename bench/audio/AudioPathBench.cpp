// The audio path per captured buffer of the test tone (2764 bytes, 172.75 ms of
// sound): what the capture callback costs before the pages reach the viewers.
//
//   audio_bench --benchmark_repetitions=9 --benchmark_report_aggregates_only=true
//
// "sound_s_per_s" is seconds of sound encoded per second of CPU: how many times
// faster than real time the path runs.

#include <cstdint>
#include <mutex>
#include <vector>

#include <benchmark/benchmark.h>

#include "media/COggEncoder.h"
#include "media/CWaveIn.h"
#include "platform/sound/WaveInput.h"

namespace halvora {
namespace {

constexpr double kBufferSeconds = 1382.0 / 8000.0;

// The broadcast's encoder fed with captured buffers of the test tone, taken in
// turn from a minute of sound made up front so that the tone itself costs
// nothing while measuring.
class AudioPath {
public:
    AudioPath() {
        encoder_.Init(1, 8000, COggEncoder::kBroadcastQuality, 16);
        encoder_.WriteHeaders();
        encoder_.TakePages(true, pages_);

        auto tone = MakeToneSource(WaveFormat::Capture(), ToneOptions{440.0, 0.25, 0.0});
        tone->Start();
        for (int i = 0; i < 350; ++i) {
            std::vector<std::uint8_t> buffer(kWaveInBufferSize);
            buffer.resize(tone->Fill(buffer.data(), kWaveInBufferSize));
            buffers_.push_back(std::move(buffer));
        }
    }

    // One buffer's worth of the capture callback's encoding: Encode and a
    // flushing TakePages under the encoder lock.
    const std::vector<std::uint8_t>& EncodeNextBuffer() {
        const std::vector<std::uint8_t>& buffer = buffers_[next_];
        next_ = (next_ + 1) % buffers_.size();
        std::lock_guard guard(encoder_);
        encoder_.Encode(buffer.data(), static_cast<std::uint32_t>(buffer.size()));
        encoder_.TakePages(true, pages_);
        return pages_;
    }

private:
    COggEncoder encoder_;
    std::vector<std::vector<std::uint8_t>> buffers_;
    std::size_t next_ = 0;
    std::vector<std::uint8_t> pages_;
};

void BM_AudioPathEncode(benchmark::State& state) {
    AudioPath path;
    std::size_t page_bytes = 0;
    for (auto _ : state) {
        const auto& pages = path.EncodeNextBuffer();
        benchmark::DoNotOptimize(pages.data());
        page_bytes += pages.size();
        // A distribution step (copying the pages into N viewer queues) belongs
        // here, measured per buffer together with the encoding.
    }
    const auto n = static_cast<double>(state.iterations());
    state.counters["page_bytes"] = benchmark::Counter(static_cast<double>(page_bytes) / n);
    state.counters["sound_s_per_s"] =
        benchmark::Counter(n * kBufferSeconds, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_AudioPathEncode)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace
}  // namespace halvora

BENCHMARK_MAIN();
