// A grabbed frame through the frame handler, the real compressor (divxx.so as
// fennick registers it) and libavcodec's decoder, as a viewer would see it.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "media/CameraSlots.h"
#include "media/VideoCompressor.h"
#include "platform/mainloop/MainLoop.h"
#include "tests/capture/CaptureTestSupport.h"
#include "tests/support/CodecTestEnvironment.h"
#include "tests/support/Mpeg4TestDecoder.h"
#include "tests/support/TestPicture.h"

namespace halvora {
namespace {

constexpr int kCameraWidth = 640;
constexpr int kCameraHeight = 480;

// The camera-like scene as a 640 x 480 camera delivers it: top-down rows.
Bitmap CameraFrame(int index) {
    const auto bottom_up = test::MakeTestPicture(index, kCameraWidth, kCameraHeight, 2);
    Bitmap frame;
    frame.width = kCameraWidth;
    frame.height = kCameraHeight;
    frame.bgr.resize(bottom_up.size());
    const std::size_t row = kCameraWidth * 3;
    for (int y = 0; y < kCameraHeight; ++y) {
        std::copy_n(bottom_up.begin() + (kCameraHeight - 1 - y) * row, row, frame.bgr.begin() + y * row);
    }
    return frame;
}

// What the viewer should see: the frame halved by averaging each 2 x 2 block,
// as packed RGB, rows top-down.
std::vector<std::uint8_t> HalvedRgb(const Bitmap& frame) {
    std::vector<std::uint8_t> rgb;
    rgb.reserve(kCompressorFrameBytes);
    for (int y = 0; y < frame.height / 2; ++y) {
        for (int x = 0; x < frame.width / 2; ++x) {
            for (int c = 2; c >= 0; --c) {
                int sum = 0;
                for (int dy = 0; dy < 2; ++dy) {
                    for (int dx = 0; dx < 2; ++dx) {
                        sum += frame.bgr[((2 * y + dy) * frame.width + 2 * x + dx) * 3 + c];
                    }
                }
                rgb.push_back(static_cast<std::uint8_t>((sum + 2) / 4));
            }
        }
    }
    return rgb;
}

// The luma a decoder gives for packed RGB (BT.601, studio range).
std::vector<std::uint8_t> LumaOfRgb(const std::vector<std::uint8_t>& rgb) {
    std::vector<std::uint8_t> luma(rgb.size() / 3);
    for (std::size_t i = 0; i < luma.size(); ++i) {
        const double y = 16 + (65.481 * rgb[3 * i] + 128.553 * rgb[3 * i + 1] + 24.966 * rgb[3 * i + 2]) / 255.0;
        luma[i] = static_cast<std::uint8_t>(std::clamp(std::lround(y), 0L, 255L));
    }
    return luma;
}

TEST(CompressedPath, GrabbedFramesReachTheViewerAtThirtyDecibelsAt100Kbits) {
    test::CodecTestEnvironment env;
    ASSERT_EQ(env.RunFennick().exit_code, 0);
    env.SetCodecValue("Bitrate", 100000);
    VideoCompressor compressor;
    ASSERT_TRUE(compressor.OpenVideoCodec());

    std::vector<VideoPayload> sent;
    CameraSlots::Hooks hooks;
    hooks.compress = [&](const std::uint8_t* bits, const std::function<void(const VideoPayload&)>& deliver) {
        return compressor.CompressFrame(bits, deliver);
    };
    hooks.video_path = [&](const VideoPayload& payload) { sent.push_back(payload); };
    MainLoop main;
    CameraSlots slots(main, hooks, {}, [] { return std::vector<std::string>{}; });

    constexpr int kFrames = 24;  // three seconds at the capture pace
    test::Mpeg4TestDecoder decoder;
    for (int i = 0; i < kFrames; ++i) {
        const Bitmap frame = CameraFrame(i);
        slots.cap4BitmapGrabbed(frame);
        ASSERT_EQ(sent.size(), static_cast<std::size_t>(i + 1)) << "frame " << i << " was dropped";
        test::DecodedPicture picture;
        ASSERT_TRUE(decoder.DecodePayload(sent.back().bytes, picture)) << "frame " << i << ": " << decoder.LastError();
        ASSERT_EQ(picture.width, kCompressorWidth);
        ASSERT_EQ(picture.height, kCompressorHeight);
        const auto expected = HalvedRgb(frame);
        EXPECT_GE(capturetest::Psnr(picture.y, LumaOfRgb(expected)), 30.0) << "frame " << i;
        // Colour has a quarter of the samples, so it comes out lower; red and
        // blue swapped would fall to about 15 dB.
        EXPECT_GE(capturetest::Psnr(picture.Rgb24(), expected), 25.0) << "frame " << i;
    }
    EXPECT_EQ(sent.front().key_flag, 1);
}

}  // namespace
}  // namespace halvora
