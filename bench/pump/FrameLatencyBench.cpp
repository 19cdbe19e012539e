// Time from a camera frame's delivery (cap4BitmapGrabbed) to the first byte of
// its video packet on each viewer's socket: scaling to 320x240, the bottom-up
// layout, compression by the project's driver, the video path and the
// connection threads' sends. Prints the median and 99th percentile over all
// viewers and frames, for each N.
//
// Usage: frame_latency_bench [frames] [N...]   (default: 80 frames; N = 1 1000)

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <vector>

#include "bench/support/LoopbackViewers.h"
#include "common/ProcessClock.h"
#include "media/CameraSlots.h"
#include "media/VideoCompressor.h"
#include "platform/registry/CodecKey.h"
#include "platform/vcm/CodecManager.h"

using namespace halvora;
using namespace halvora::bench;

namespace {

Bitmap MovingPicture(int frame) {
    Bitmap b;
    b.width = 640;
    b.height = 480;
    b.bgr.resize(640 * 480 * 3);
    for (int y = 0; y < 480; ++y) {
        for (int x = 0; x < 640; ++x) {
            std::uint8_t* p = &b.bgr[(static_cast<std::size_t>(y) * 640 + x) * 3];
            const bool box = std::abs(x - (100 + frame * 6) % 640) < 60 && std::abs(y - 240) < 60;
            p[0] = static_cast<std::uint8_t>(box ? 40 : x / 3);
            p[1] = static_cast<std::uint8_t>(box ? 200 : y / 2);
            p[2] = static_cast<std::uint8_t>(box ? 90 : (x + y) / 5);
        }
    }
    return b;
}

void PrepareCodec() {
    const auto home = std::filesystem::temp_directory_path() / ("halvora-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(home);
    setenv("XDG_CONFIG_HOME", home.c_str(), 1);
    setenv("HALVORA_DRIVER_PATH", HALVORA_BUILT_DRIVERS, 0);
    vcm::ICInstall(vcm::MakeFourCC('v', 'i', 'd', 'c'), vcm::MakeFourCC('D', 'v', 'x', 'x'), "divxx.so");
    CodecKey key;
    key.WriteInteger("Bitrate", 100000);
    key.WriteInteger("Max Keyframe Interval", 10);
}

}  // namespace

int main(int argc, char** argv) {
    int frames = 80;
    std::vector<int> sizes;
    if (argc > 1) frames = std::max(10, std::atoi(argv[1]));
    for (int i = 2; i < argc; ++i) sizes.push_back(std::atoi(argv[i]));
    if (sizes.empty()) sizes = {1, 1000};
    PrepareCodec();

    std::printf("frame delivery -> first byte of its packet on a viewer's socket, 640x480 frames at 8/s, 100 kbit/s\n");
    for (int n : sizes) {
        ServerUnderTest server;
        VideoCompressor compressor;
        if (!compressor.OpenVideoCodec()) {
            std::printf("the codec could not be opened (driver folder %s)\n", HALVORA_BUILT_DRIVERS);
            return 1;
        }
        std::mutex mutex;
        std::map<std::uint32_t, Clock::time_point> delivered;  // stamp -> delivery time
        std::vector<double> micros;
        LoopbackViewers viewers(server.Port(), n);
        const bool ready = viewers.Start(
            [&](int, const PacketHeader& h, const std::uint8_t* payload, Clock::time_point first_byte) {
                if (h.Kind != pkVideo || h.Length < 4) return;
                std::lock_guard guard(mutex);
                auto it = delivered.find(GetLe32(payload));
                if (it != delivered.end()) {
                    micros.push_back(std::chrono::duration<double, std::micro>(first_byte - it->second).count());
                }
            },
            std::chrono::seconds(60));
        if (!ready) std::printf("N=%d: not every viewer got its stream\n", n);

        MainLoop dummy;  // the slots' components want a main thread; only the frame handler is used
        CameraSlots::Hooks hooks;
        Clock::time_point delivery;
        hooks.compress = [&](const std::uint8_t* bits, const std::function<void(const VideoPayload&)>& deliver) {
            return compressor.CompressFrame(bits, deliver);
        };
        hooks.video_path = [&](const VideoPayload& payload) {
            {
                std::lock_guard guard(mutex);
                delivered[GetLe32(payload.bytes.data())] = delivery;
            }
            server.Pump().VideoPath(payload);
        };
        CameraSlots slots(dummy, hooks);
        std::vector<Bitmap> pictures;
        for (int f = 0; f < frames; ++f) pictures.push_back(MovingPicture(f));
        for (int f = 0; f < frames; ++f) {
            delivery = Clock::now();
            slots.cap4BitmapGrabbed(pictures[static_cast<std::size_t>(f)]);
            std::this_thread::sleep_until(delivery + std::chrono::milliseconds(125));
        }
        std::this_thread::sleep_for(std::chrono::seconds(1));
        std::lock_guard guard(mutex);
        const auto p = ComputePercentiles(micros);
        std::printf("N=%-5d viewers=%-5d packets=%-7zu median=%.3f ms  p99=%.3f ms\n", n, viewers.Connected(),
                    micros.size(), p.median / 1000, p.p99 / 1000);
        std::fflush(stdout);
    }
    return 0;
}
