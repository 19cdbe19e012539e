#include <linux/videodev2.h>

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/capture/CaptureMode.h"

namespace halvora {
namespace {

constexpr std::uint32_t kYuyv = V4L2_PIX_FMT_YUYV;
constexpr std::uint32_t kMjpg = V4L2_PIX_FMT_MJPEG;
constexpr std::uint32_t kH264 = V4L2_PIX_FMT_H264;
constexpr std::uint32_t kGrey = V4L2_PIX_FMT_GREY;
constexpr std::uint32_t kUyvy = V4L2_PIX_FMT_UYVY;

std::vector<CaptureMode> Sizes(std::uint32_t fourcc, std::initializer_list<std::pair<int, int>> sizes) {
    std::vector<CaptureMode> modes;
    for (auto [w, h] : sizes) {
        modes.push_back({fourcc, w, h});
    }
    return modes;
}

std::vector<CaptureMode> Join(std::vector<CaptureMode> a, const std::vector<CaptureMode>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct ModeCase {
    const char* name;
    std::vector<CaptureMode> offered;
    std::optional<CaptureMode> expected;
};

class ChooseCaptureModeTest : public ::testing::TestWithParam<ModeCase> {};

TEST_P(ChooseCaptureModeTest, PicksTheExpectedMode) {
    const ModeCase& c = GetParam();
    const auto chosen = ChooseCaptureMode(c.offered);
    ASSERT_EQ(chosen.has_value(), c.expected.has_value());
    if (chosen) {
        EXPECT_EQ(FourccText(chosen->fourcc), FourccText(c.expected->fourcc));
        EXPECT_EQ(chosen->width, c.expected->width);
        EXPECT_EQ(chosen->height, c.expected->height);
    }
}

// Format lists as common USB cameras report them (VIDIOC_ENUM_FMT order, then
// VIDIOC_ENUM_FRAMESIZES order).
const auto kWebcamSizes = {std::pair{640, 480}, {160, 120}, {176, 144}, {320, 176}, {320, 240}, {352, 288},
                           {432, 240}, {544, 288}, {640, 360}, {800, 600}, {1280, 720}};

INSTANTIATE_TEST_SUITE_P(
    RecordedLists, ChooseCaptureModeTest,
    ::testing::Values(
        ModeCase{"UvcWebcamOffers320x240InBoth",
                 Join(Sizes(kYuyv, kWebcamSizes), Sizes(kMjpg, kWebcamSizes)), CaptureMode{kYuyv, 320, 240}},
        ModeCase{"MjpegListedFirstStillYieldsToYuyv",
                 Join(Sizes(kMjpg, {{1280, 720}, {320, 240}}), Sizes(kYuyv, {{320, 240}})),
                 CaptureMode{kYuyv, 320, 240}},
        ModeCase{"SmallestCoveringSizeAcrossFormats",
                 Join(Sizes(kYuyv, {{1280, 720}, {640, 480}}), Sizes(kMjpg, {{1920, 1080}, {352, 288}})),
                 CaptureMode{kMjpg, 352, 288}},
        ModeCase{"SizeShorterThan240DoesNotCover",
                 Sizes(kYuyv, {{432, 240}, {320, 176}, {640, 360}}), CaptureMode{kYuyv, 432, 240}},
        ModeCase{"NothingCoversTakesNearest",
                 Sizes(kYuyv, {{160, 120}, {176, 144}, {320, 200}}), CaptureMode{kYuyv, 320, 200}},
        ModeCase{"CompressedStreamsWeCannotDecodeAreSkipped",
                 Join(Sizes(kH264, {{320, 240}}), Sizes(kYuyv, {{640, 480}})), CaptureMode{kYuyv, 640, 480}},
        ModeCase{"OtherRawFormatsWhenNoPreferredOne",
                 Join(Sizes(kGrey, {{320, 240}}), Sizes(kUyvy, {{320, 240}, {640, 480}})),
                 CaptureMode{kUyvy, 320, 240}},
        ModeCase{"ZeroSizesIgnored", Join(Sizes(kYuyv, {{0, 0}}), Sizes(kMjpg, {{640, 480}})),
                 CaptureMode{kMjpg, 640, 480}},
        ModeCase{"OnlyUndecodable", Sizes(kH264, {{320, 240}, {640, 480}}), std::nullopt},
        ModeCase{"EmptyList", {}, std::nullopt}),
    [](const ::testing::TestParamInfo<ModeCase>& info) { return std::string(info.param.name); });

TEST(ModeText, WritesSizeBitsAndFormatName) {
    EXPECT_EQ(ModeText(640, 480, 16, "YUYV"), "640x480x16b YUYV");
    EXPECT_EQ(ModeText(320, 240, 24, ""), "320x240x24b");
    EXPECT_EQ(FourccText(kMjpg), "MJPG");
    EXPECT_EQ(FourccText(v4l2_fourcc('Y', '1', '6', ' ')), "Y16");
}

}  // namespace
}  // namespace halvora
