// How long a camera frame takes from the device to a compressed payload, on the
// real path: the test pattern device (reader thread: decode, conversion to
// BGR24), the hand-over to the main thread, the frame handler (stretch to
// 320 x 240, bottom-up copy) and the real compressor (divxx.so, as fennick
// registers it, at 100 kbit/s).
//
// Run: capture_latency_bench [frames per size, default 160]
// Prints median and 99th percentile, in milliseconds, for each camera size:
//   total     frame at hand on the reader thread -> payload delivered
//   to main   frame at hand -> frame handler starts: conversion to BGR24 on the
//             reader thread and the hand-over to the main thread
//   handler   scale + bottom-up copy + compress, on the main thread

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "media/CameraSlots.h"
#include "media/VideoCompressor.h"
#include "platform/capture/VideoDevices.h"
#include "platform/mainloop/MainLoop.h"
#include "tests/support/CodecTestEnvironment.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct Samples {
    std::vector<double> total, to_main, handler;
};

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) {
        return 0;
    }
    std::sort(v.begin(), v.end());
    const auto index = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(index, v.size() - 1)];
}

void Print(const char* name, const std::vector<double>& v) {
    std::printf("  %-9s median %7.3f ms   p99 %7.3f ms\n", name, Percentile(v, 0.5), Percentile(v, 0.99));
}

// One run at one camera size; false when the compressor did not open.
bool Run(int width, int height, int frames) {
    using namespace halvora;
    VideoCompressor compressor;
    if (!compressor.OpenVideoCodec()) {
        std::fprintf(stderr, "the video compressor does not open (is divxx.so built?)\n");
        return false;
    }
    SetTestPatternEnabled(true);
    // A camera-like pace (25 frames a second) so a frame is ready soon after each request.
    SetTestPatternGraph("testsrc2=size=" + std::to_string(width) + "x" + std::to_string(height) +
                        ":rate=25,format=yuyv422");

    MainLoop main;
    Samples samples;
    Clock::time_point captured{}, handler_start{};
    CameraSlots::Hooks hooks;
    hooks.compress = [&](const std::uint8_t* bits, const std::function<void(const VideoPayload&)>& deliver) {
        return compressor.CompressFrame(bits, deliver);
    };
    hooks.video_path = [&](const VideoPayload&) {
        const auto now = Clock::now();
        samples.total.push_back(Ms(now - captured));
        samples.to_main.push_back(Ms(handler_start - captured));
        samples.handler.push_back(Ms(now - handler_start));
    };
    CameraSlots slots(main, hooks);
    // Slot n takes the n-th device; the test pattern is the last one.
    const auto devices = GetVideoDevicesList();
    const int slot = static_cast<int>(devices.size()) - 1;
    if (slot >= CameraSlots::kSlotCount || !slots.StartCamera(slot)) {
        std::fprintf(stderr, "the test pattern did not start\n");
        return false;
    }
    // Stand between the component and the frame handler to read the stamps.
    slots.Component(slot).OnBitmapGrabbed = [&](const Bitmap& frame) {
        handler_start = Clock::now();
        captured = frame.captured;
        slots.cap4BitmapGrabbed(frame);
    };
    slots.SetActiveCamera(slot);
    const auto tick = main.AddTimer(40ms, [&] { slots.TimerCaptureTimer(); });
    main.SetTimerEnabled(tick, true);
    main.RunUntil([&] { return static_cast<int>(samples.total.size()) >= frames; }, 120s);
    slots.SetClosing();
    slots.StopAll();

    std::printf("camera %dx%d, %zu frames:\n", width, height, samples.total.size());
    Print("total", samples.total);
    Print("to main", samples.to_main);
    Print("handler", samples.handler);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::max(10, std::atoi(argv[1])) : 160;
    halvora::test::CodecTestEnvironment env;
    if (env.RunFennick().exit_code != 0) {
        std::fprintf(stderr, "fennick failed; cannot register the codec\n");
        return 1;
    }
    env.SetCodecValue("Bitrate", 100000);
    for (auto [w, h] : {std::pair{320, 240}, std::pair{640, 480}}) {
        if (!Run(w, h, frames)) {
            return 1;
        }
    }
    return 0;
}
