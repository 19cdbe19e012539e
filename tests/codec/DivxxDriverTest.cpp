// divxx.so through the codec manager: the formats it takes, its output format
// block, and the frames it refuses.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "drivers/divxx/Mpeg4OutputFormat.h"
#include "platform/vcm/CodecManager.h"
#include "tests/support/CodecTestEnvironment.h"
#include "tests/support/Mpeg4TestDecoder.h"
#include "tests/support/TestPicture.h"

namespace halvora::vcm {
namespace {

using divxx::Mpeg4OutputFormat;

constexpr std::uint32_t kDvxx = MakeFourCC('D', 'v', 'x', 'x');

BitmapInfoHeader Rgb24(std::int32_t width, std::int32_t height) {
    BitmapInfoHeader h;
    h.width = width;
    h.height = height;
    h.planes = 1;
    h.bit_count = 24;
    h.size_image = static_cast<std::uint32_t>(width * (height < 0 ? -height : height) * 3);
    return h;
}

class DivxxTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(env_.RunFennick().exit_code, 0);
        std::string why;
        driver_ = ICOpen(kTypeVideo, kDvxx, kModeCompress, &why);
        ASSERT_NE(driver_, nullptr) << why;
    }

    // Gets the output format for `in` and begins compression with it.
    void Begin(const BitmapInfoHeader& in) {
        ASSERT_EQ(driver_->CompressGetFormat(in, &out_), kIcOk);
        ASSERT_EQ(driver_->CompressBegin(in, &out_), kIcOk);
    }

    // One frame; the driver's result, with the frame in `compressed` on success.
    intptr_t Compress(const BitmapInfoHeader& in, const std::vector<std::uint8_t>& bits, std::uint32_t flags = 0,
                      std::uint32_t capacity = 230400) {
        compressed_.assign(capacity, 0);
        DriverCompressParams p;
        p.flags = flags;
        p.output_format = &out_.header;
        p.output = compressed_.data();
        p.output_capacity = capacity;
        p.input_format = &in;
        p.input = bits.data();
        p.frame_flags = &frame_flags_;
        p.quality = 7500;
        const intptr_t rc = driver_->Compress(p);
        if (rc == kIcOk) {
            compressed_.resize(out_.header.size_image);
        }
        return rc;
    }

    test::CodecTestEnvironment env_;
    std::unique_ptr<Compressor> driver_;
    Mpeg4OutputFormat out_;
    std::vector<std::uint8_t> compressed_;
    std::uint32_t frame_flags_ = 0;
};

struct FormatCase {
    const char* name;
    BitmapInfoHeader in;
    bool accepted;
};

void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.name; }

BitmapInfoHeader With(BitmapInfoHeader h, void (*change)(BitmapInfoHeader&)) {
    change(h);
    return h;
}

class DivxxFormatTest : public DivxxTest, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(DivxxFormatTest, GetFormatAcceptsOnlyPacked24BitRgb) {
    const intptr_t size = driver_->CompressGetFormatSize(GetParam().in);
    if (GetParam().accepted) {
        EXPECT_EQ(size, static_cast<intptr_t>(sizeof(Mpeg4OutputFormat)));
    } else {
        EXPECT_EQ(size, kIcErrBadFormat);
        EXPECT_EQ(driver_->CompressBegin(GetParam().in, &out_), kIcErrBadFormat);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, DivxxFormatTest,
    ::testing::Values(
        FormatCase{"ProgramFrame", Rgb24(320, 240), true},
        FormatCase{"TopDown", Rgb24(320, -240), true},
        FormatCase{"Qcif", Rgb24(176, 144), true},
        FormatCase{"ThirtyTwoBits", With(Rgb24(320, 240), [](BitmapInfoHeader& h) { h.bit_count = 32; }), false},
        FormatCase{"Compressed",
                   With(Rgb24(320, 240), [](BitmapInfoHeader& h) { h.compression = MakeFourCC('M', 'J', 'P', 'G'); }),
                   false},
        FormatCase{"TwoPlanes", With(Rgb24(320, 240), [](BitmapInfoHeader& h) { h.planes = 2; }), false},
        FormatCase{"ShortHeader", With(Rgb24(320, 240), [](BitmapInfoHeader& h) { h.size = 39; }), false},
        FormatCase{"OddWidth", Rgb24(321, 240), false},
        FormatCase{"OddHeight", Rgb24(320, -241), false},
        FormatCase{"TooSmall", Rgb24(8, 8), false},
        FormatCase{"TooWide", Rgb24(4096, 240), false},
        FormatCase{"ZeroHeight", Rgb24(320, 0), false},
        FormatCase{"MostNegativeHeight", With(Rgb24(320, 240), [](BitmapInfoHeader& h) { h.height = INT32_MIN; }),
                   false}),
    [](const ::testing::TestParamInfo<FormatCase>& info) { return std::string(info.param.name); });

TEST_F(DivxxTest, OutputFormatDescribesAnMpeg4StreamAtEightFramesASecond) {
    ASSERT_EQ(driver_->CompressGetFormat(Rgb24(320, 240), &out_), kIcOk);
    EXPECT_EQ(out_.header.size, 40u);
    EXPECT_EQ(out_.header.compression, MakeFourCC('m', 'p', '4', 'v'));
    EXPECT_EQ(out_.header.width, 320);
    EXPECT_EQ(out_.header.height, 240);
    EXPECT_EQ(out_.frame_rate_num, 8u);
    EXPECT_EQ(out_.frame_rate_den, 1u);
}

TEST_F(DivxxTest, RefusesFramesOutsideABegunRunOrInAnotherFormat) {
    const BitmapInfoHeader in = Rgb24(320, 240);
    const auto picture = test::MakeTestPicture(0);
    EXPECT_NE(Compress(in, picture), kIcOk) << "not begun";

    Begin(in);
    EXPECT_EQ(Compress(Rgb24(176, 144), picture), kIcErrBadFormat);
    EXPECT_EQ(Compress(Rgb24(320, -240), picture), kIcErrBadFormat) << "begun bottom-up";
    EXPECT_EQ(Compress(in, picture, 0x100), kIcErrBadFlags);
    EXPECT_EQ(Compress(in, picture, 0, 16), kIcErrBadSize) << "the key frame cannot fit 16 bytes";
    // The run goes on after a frame that did not fit.
    EXPECT_EQ(Compress(in, test::MakeTestPicture(1)), kIcOk);

    ASSERT_EQ(driver_->CompressEnd(), kIcOk);
    EXPECT_NE(Compress(in, picture), kIcOk) << "ended";
    Begin(in);
    EXPECT_EQ(Compress(in, picture), kIcOk) << "begun again";
    EXPECT_EQ(frame_flags_, kFrameFlagKeyFrame) << "a new run starts with a key frame";
}

TEST_F(DivxxTest, ForcedKeyFrameIsHonoured) {
    const BitmapInfoHeader in = Rgb24(320, 240);
    Begin(in);
    std::vector<bool> keys;
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(Compress(in, test::MakeTestPicture(i), i == 3 ? kCompressKeyFrame : 0), kIcOk);
        keys.push_back(frame_flags_ == kFrameFlagKeyFrame);
    }
    EXPECT_EQ(keys, (std::vector<bool>{true, false, false, true, false}));
}

// A top-down input (negative height) is read as it lies; a bottom-up one is
// turned the right way up. Both must decode to the picture that went in.
class DivxxOrientationTest : public DivxxTest, public ::testing::WithParamInterface<bool> {};

TEST_P(DivxxOrientationTest, DecodesTheRightWayUp) {
    const bool top_down = GetParam();
    env_.SetCodecValue("Bitrate", 100000);
    const BitmapInfoHeader in = Rgb24(320, top_down ? -240 : 240);
    Begin(in);
    test::Mpeg4TestDecoder decoder;
    for (int i = 0; i < 3; ++i) {
        const auto bottom_up = test::MakeTestPicture(i);
        std::vector<std::uint8_t> bits = bottom_up;
        if (top_down) {
            for (int row = 0; row < 240; ++row) {
                std::copy_n(bottom_up.begin() + (239 - row) * 960, 960, bits.begin() + row * 960);
            }
        }
        ASSERT_EQ(Compress(in, bits), kIcOk);
        test::DecodedPicture picture;
        ASSERT_TRUE(decoder.Decode(compressed_.data(), compressed_.size(), picture)) << decoder.LastError();
        EXPECT_GE(test::Psnr(picture.y, test::LumaOfBottomUpBgr(bottom_up.data(), 320, 240)), 40.0) << "frame " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, DivxxOrientationTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "TopDown" : "BottomUp");
                         });

}  // namespace
}  // namespace halvora::vcm
