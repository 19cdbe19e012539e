// The audio path per captured buffer: Encode + TakePages(flush) + distribution
// to N audio-video viewers on loopback, as MyWaveInWorker runs it. Prints the
// median and 99th percentile for each N.
//
// Usage: audio_path_bench [buffers] [N...]    (default: 200 buffers; N = 0 100 1000)

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench/support/LoopbackViewers.h"

using namespace halvora;
using namespace halvora::bench;

namespace {

std::vector<std::uint8_t> ToneBuffer(int index) {
    std::vector<std::uint8_t> bytes(2764);
    for (int i = 0; i < 1382; ++i) {
        const double t = (index * 1382 + i) / 8000.0;
        const auto v = static_cast<std::int16_t>(8000 * std::sin(2 * M_PI * 440 * t));
        bytes[2 * i] = static_cast<std::uint8_t>(v & 0xFF);
        bytes[2 * i + 1] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
    }
    return bytes;
}

}  // namespace

int main(int argc, char** argv) {
    int buffers = 200;
    std::vector<int> sizes;
    if (argc > 1) buffers = std::max(10, std::atoi(argv[1]));
    for (int i = 2; i < argc; ++i) sizes.push_back(std::atoi(argv[i]));
    if (sizes.empty()) sizes = {0, 100, 1000};

    std::printf("audio path: Encode + TakePages(flush) + distribute, per 2764-byte buffer, %d buffers\n", buffers);
    for (int n : sizes) {
        ServerUnderTest server;
        {
            std::lock_guard guard(server.Encoder());
            server.Encoder().Init(1, 8000, COggEncoder::kBroadcastQuality, 16);
        }
        MediaPump& pump = server.Pump();
        pump.CameraActive = true;
        LoopbackViewers viewers(server.Port(), n);
        if (!viewers.Start(nullptr, std::chrono::seconds(60))) {
            std::printf("N=%d: not every viewer got its stream\n", n);
        }
        std::vector<double> micros;
        for (int b = 0; b < buffers; ++b) {
            const auto data = ToneBuffer(b);
            const auto start = Clock::now();
            pump.MyWaveInWorker(data.data(), static_cast<std::uint32_t>(data.size()), 0);
            micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
            // Real buffers come every 172.75 ms; a short gap lets the viewers drain.
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        const auto p = ComputePercentiles(micros);
        std::printf("N=%-5d viewers=%-5d median=%.3f ms  p99=%.3f ms\n", n, viewers.Connected(), p.median / 1000,
                    p.p99 / 1000);
        std::fflush(stdout);
    }
    return 0;
}
