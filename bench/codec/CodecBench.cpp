// Cost of compressing one 320 x 240 frame as the program does it: colour
// conversion of the bottom-up BGR24 frame, MPEG-4 encoding in divxx.so and the
// payload. Reports the median and the 99th percentile per frame.
//
// Runs against the build's divxx.so with a private registry in a temporary
// folder (the user's own registry is never touched).

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "media/VideoCompressor.h"
#include "platform/registry/CodecKey.h"
#include "platform/registry/RegistryStore.h"
#include "platform/vcm/CodecManager.h"
#include "tests/support/TestPicture.h"

namespace {

using namespace halvora;

constexpr int kPictures = 64;

// A registry of its own, with divxx registered and the bitrate under test.
class BenchRegistry {
public:
    BenchRegistry() {
        std::string pattern = (std::filesystem::temp_directory_path() / "halvora-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("cannot create a temporary folder");
        }
        folder_ = pattern;
        setenv("XDG_CONFIG_HOME", folder_.c_str(), 1);
        setenv("HALVORA_DRIVER_PATH", HALVORA_BENCH_DRIVER_DIR, 1);
        vcm::ICInstall(vcm::kTypeVideo, vcm::MakeFourCC('D', 'v', 'x', 'x'), "divxx.so");
    }
    ~BenchRegistry() {
        std::error_code ec;
        std::filesystem::remove_all(folder_, ec);
    }
    void SetBitrate(std::uint32_t bitrate) {
        CodecKey key;
        key.WriteInteger("Bitrate", static_cast<std::int32_t>(bitrate));
        key.WriteInteger("Max Keyframe Interval", 10);
    }

private:
    std::filesystem::path folder_;
};

void BM_CompressFrame(benchmark::State& state) {
    static BenchRegistry registry;
    const auto bitrate = static_cast<std::uint32_t>(state.range(0));
    const auto noise = static_cast<int>(state.range(1));
    registry.SetBitrate(bitrate);
    std::vector<std::vector<std::uint8_t>> pictures;
    for (int i = 0; i < kPictures; ++i) {
        pictures.push_back(test::MakeTestPicture(i, 320, 240, noise));
    }
    VideoCompressor compressor;
    if (!compressor.OpenVideoCodec()) {
        state.SkipWithError("the codec does not open (is divxx.so built?)");
        return;
    }
    std::vector<double> frame_ms;
    std::size_t bytes = 0;
    int index = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        compressor.CompressFrame(pictures[index++ % kPictures].data(),
                                 [&](const VideoPayload& payload) { bytes += payload.bytes.size(); });
        frame_ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(frame_ms.begin(), frame_ms.end());
    state.counters["median_ms"] = frame_ms[frame_ms.size() / 2];
    state.counters["p99_ms"] = frame_ms[std::min(frame_ms.size() - 1, frame_ms.size() * 99 / 100)];
    state.counters["kbit_per_s_at_8fps"] = bytes * 8.0 / (static_cast<double>(frame_ms.size()) / 8.0) / 1000.0;
}

// {bitrate, sensor noise}: a webcam-like picture at 20, 100 and 800 kbit/s (it
// needs only about 110 kbit/s), and a noisy one that makes the encoder spend
// the whole 800 kbit/s, the worst case.
BENCHMARK(BM_CompressFrame)
    ->Args({20000, 2})
    ->Args({100000, 2})
    ->Args({800000, 2})
    ->Args({800000, 10})
    ->Iterations(800)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
