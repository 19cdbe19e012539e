#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

#include "media/FrameScaler.h"
#include "tests/capture/CaptureTestSupport.h"

namespace halvora {
namespace {

using capturetest::GradientPicture;

// Turns the compressor's bottom-up layout back into a top-down bitmap.
Bitmap FromCompressorLayout(const std::vector<std::uint8_t>& bits) {
    Bitmap picture;
    picture.width = kCompressorWidth;
    picture.height = kCompressorHeight;
    picture.bgr.resize(kCompressorFrameBytes);
    for (int row = 0; row < kCompressorHeight; ++row) {
        std::copy_n(bits.begin() + (kCompressorHeight - 1 - row) * kCompressorRowBytes, kCompressorRowBytes,
                    picture.bgr.begin() + row * kCompressorRowBytes);
    }
    return picture;
}

class FrameScalerSizes : public ::testing::TestWithParam<std::pair<int, int>> {};

// Any device size ends up as the 320 x 240 picture the same scene makes at 320 x 240
// (640 x 480 and 160 x 120 go through the frame handler in CameraSlotsTest).
TEST_P(FrameScalerSizes, StretchesToTheCompressorPicture) {
    const auto [width, height] = GetParam();
    FrameScaler scaler;
    std::vector<std::uint8_t> bits(kCompressorFrameBytes, 0xEE);
    scaler.ToCompressorLayout(GradientPicture(width, height), bits.data());

    const Bitmap expected = GradientPicture(kCompressorWidth, kCompressorHeight);
    EXPECT_GE(capturetest::Psnr(FromCompressorLayout(bits).bgr, expected.bgr), 34.0);
    EXPECT_EQ(scaler.WorkImage().width, kCompressorWidth);
    EXPECT_EQ(scaler.WorkImage().height, kCompressorHeight);
}

INSTANTIATE_TEST_SUITE_P(DeviceSizes, FrameScalerSizes,
                         ::testing::Values(std::pair{320, 240}, std::pair{352, 288}, std::pair{1280, 720},
                                           std::pair{100, 300}));

TEST(FrameScaler, FirstBufferRowIsTheBottomRowOfThePicture) {
    // Each picture row in its own shade of blue, red marks the left edge.
    Bitmap picture = capturetest::SolidPicture(kCompressorWidth, kCompressorHeight, 0, 0, 0);
    for (int row = 0; row < kCompressorHeight; ++row) {
        for (int x = 0; x < kCompressorWidth; ++x) {
            std::uint8_t* p = &picture.bgr[(row * kCompressorWidth + x) * 3];
            p[0] = static_cast<std::uint8_t>(row);
            p[2] = x == 0 ? 255 : 0;
        }
    }
    FrameScaler scaler;
    std::vector<std::uint8_t> bits(kCompressorFrameBytes);
    scaler.ToCompressorLayout(picture, bits.data());
    for (int i = 0; i < kCompressorHeight; ++i) {
        const std::uint8_t* row = &bits[i * kCompressorRowBytes];
        ASSERT_EQ(row[0], 239 - i) << "buffer row " << i;
        ASSERT_EQ(row[2], 255) << "buffer row " << i;  // left stays left, in B,G,R order
        ASSERT_EQ(row[5], 0) << "buffer row " << i;
    }
}

TEST(FrameScaler, MalformedBitmapsAreRefusedWithoutTouchingTheBuffer) {
    Bitmap short_bytes = GradientPicture(64, 48);
    short_bytes.bgr.resize(short_bytes.bgr.size() - 1);
    Bitmap no_size;
    Bitmap huge;
    huge.width = 1 << 20;
    huge.height = 1 << 20;
    FrameScaler scaler;
    for (const Bitmap* bad : {&short_bytes, &no_size, &huge}) {
        std::vector<std::uint8_t> bits(kCompressorFrameBytes, 0);
        EXPECT_THROW(scaler.ToCompressorLayout(*bad, bits.data()), std::invalid_argument);
        EXPECT_EQ(std::count(bits.begin(), bits.end(), 0), static_cast<long>(bits.size()));
    }
}

}  // namespace
}  // namespace halvora
