#include <algorithm>
#include <array>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/LogText.h"
#include "media/CameraSlots.h"
#include "tests/capture/CaptureTestSupport.h"

namespace halvora {
namespace {

using namespace std::chrono_literals;
using capturetest::GradientPicture;
using capturetest::ScopedLog;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Pair;
using ::testing::StartsWith;

constexpr auto kPatience = 10s;

// The compressor's bottom-up layout of a top-down 320 x 240 picture.
std::vector<std::uint8_t> BottomUp(const Bitmap& picture) {
    std::vector<std::uint8_t> bits(kCompressorFrameBytes);
    for (int i = 0; i < kCompressorHeight; ++i) {
        std::copy_n(picture.bgr.begin() + (kCompressorHeight - 1 - i) * kCompressorRowBytes, kCompressorRowBytes,
                    bits.begin() + i * kCompressorRowBytes);
    }
    return bits;
}

// Mean of each channel (B, G, R) over a compressor frame.
std::array<double, 3> MeanColour(const std::vector<std::uint8_t>& bits) {
    std::array<double, 3> sum{};
    for (std::size_t i = 0; i < bits.size(); ++i) {
        sum[i % 3] += bits[i];
    }
    for (auto& s : sum) {
        s /= static_cast<double>(bits.size() / 3);
    }
    return sum;
}

// Five slots over three fake cameras of one colour each, with hooks that write
// down what the window and the compressor would have been told.
class CameraSlotsTest : public ::testing::Test {
protected:
    CameraSlotsTest() {
        sources_ = {
            {"Red camera", "lavfi", "color=c=red:size=160x120:rate=25"},
            {"Green camera", "lavfi", "color=c=lime:size=640x480:rate=25,format=yuyv422"},
            {"Blue camera", "lavfi", "color=c=blue:size=352x288:rate=25"},
        };
    }

    CameraSlots::Hooks RecordingHooks() {
        CameraSlots::Hooks hooks;
        hooks.compress = [this](const std::uint8_t* bits, const std::function<void(const VideoPayload&)>& deliver) {
            if (compress_failure_) {
                throw std::runtime_error(compress_failure_);
            }
            compressed_.emplace_back(bits, bits + kCompressorFrameBytes);
            VideoPayload payload;
            payload.bytes = {0x10, 0x20, 0x30, 0x40, static_cast<std::uint8_t>(compressed_.size())};
            payload.key_flag = 1;
            deliver(payload);
            return true;
        };
        hooks.video_path = [this](const VideoPayload& payload) { video_path_.push_back(payload.bytes); };
        hooks.set_capture_timer = [this](bool on) { capture_timer_.push_back(on); };
        hooks.set_header_timer = [this](bool on) { header_timer_.push_back(on); };
        hooks.set_live_video = [this] { ++live_video_; };
        hooks.set_active_caption = [this](int slot, bool active) { captions_.emplace_back(slot, active); };
        hooks.set_select_enabled = [this](int slot, bool on) { select_.emplace_back(slot, on); };
        hooks.set_active_enabled = [this](int slot, bool on) { active_.emplace_back(slot, on); };
        return hooks;
    }

    CameraSlots& Slots() {
        if (!slots_) {
            slots_ = std::make_unique<CameraSlots>(
                main_, RecordingHooks(),
                [this](int) { return std::make_unique<TVideoCapture>(main_, [this] { return sources_; }); },
                [this] {
                    std::vector<std::string> names;
                    for (const auto& s : sources_) {
                        names.push_back(s.name);
                    }
                    return names;
                });
        }
        return *slots_;
    }

    // The captions as the five buttons show them: true = ActiveText.
    std::array<bool, 5> Captions() {
        std::array<bool, 5> shown{};
        for (int i = 0; i < 5; ++i) {
            shown[i] = Slots().ActiveCaption(i);
        }
        return shown;
    }

    // Runs the capture timer on the main loop whenever the slots switch it on.
    void DriveCaptureTimer() {
        const auto timer = main_.AddTimer(125ms, [this] { Slots().TimerCaptureTimer(); });
        main_.SetTimerEnabled(timer, true);
    }

    ScopedLog log_;
    MainLoop main_;
    std::vector<VideoSource> sources_;
    std::unique_ptr<CameraSlots> slots_;
    const char* compress_failure_ = nullptr;

    std::vector<std::vector<std::uint8_t>> compressed_;
    std::vector<std::vector<std::uint8_t>> video_path_;
    std::vector<bool> capture_timer_, header_timer_;
    int live_video_ = 0;
    std::vector<std::pair<int, bool>> captions_, select_, active_;
};

class NeverStartedSlot : public CameraSlotsTest, public ::testing::WithParamInterface<int> {};

TEST_P(NeverStartedSlot, ActiveButtonChangesNothing) {
    Slots().StartCamera(GetParam() == 0 ? 1 : 0);  // another slot runs; this one was never started
    captions_.clear();
    Slots().SetActiveCamera(GetParam());
    EXPECT_EQ(Slots().ActiveSlot(), -1);
    EXPECT_EQ(Slots().ActiveCamera(), nullptr);
    EXPECT_THAT(captions_, IsEmpty());
    EXPECT_THAT(capture_timer_, IsEmpty());
    EXPECT_THAT(header_timer_, IsEmpty());
    EXPECT_EQ(live_video_, 0);
    EXPECT_EQ(Captions(), (std::array<bool, 5>{true, false, false, false, false}));
}

INSTANTIATE_TEST_SUITE_P(EachSlot, NeverStartedSlot, ::testing::Range(0, 5));

TEST_F(CameraSlotsTest, ActivatingLeavesExactlyOneActiveCaption) {
    ASSERT_TRUE(Slots().StartCamera(2));
    Slots().SetActiveCamera(2);
    EXPECT_EQ(Captions(), (std::array<bool, 5>{false, false, true, false, false}));
    EXPECT_EQ(captions_.back(), std::make_pair(2, true));
    EXPECT_EQ(Slots().ActiveCamera(), &Slots().Component(2));
    EXPECT_THAT(capture_timer_, ElementsAre(true));
    EXPECT_THAT(header_timer_, ElementsAre(true));
    EXPECT_EQ(live_video_, 1);

    // The fifth slot works like the others, even with no device of its own.
    EXPECT_FALSE(Slots().StartCamera(4));
    Slots().SetActiveCamera(4);
    EXPECT_EQ(Captions(), (std::array<bool, 5>{false, false, false, false, true}));
    EXPECT_EQ(Slots().ActiveSlot(), 4);
    // The camera that was active keeps running.
    EXPECT_TRUE(Slots().Component(2).Running());
}

TEST_F(CameraSlotsTest, SlotBeyondTheDeviceListStartsNothingAndStaysSelectable) {
    EXPECT_FALSE(Slots().StartCamera(4));
    EXPECT_NE(Slots().StartedCameras(4), nullptr);  // registered all the same
    EXPECT_EQ(Slots().GraphConfigs(4), nullptr);
    EXPECT_FALSE(Slots().Component(4).Running());
    EXPECT_THAT(select_, IsEmpty());
    EXPECT_THAT(active_, IsEmpty());
    EXPECT_THAT(log_.Entries(), IsEmpty());
}

TEST_F(CameraSlotsTest, SlotTwoStartsTheThirdDevice) {
    ASSERT_TRUE(Slots().StartCamera(2));
    ASSERT_NE(Slots().GraphConfigs(2), nullptr);
    EXPECT_EQ(Slots().GraphConfigs(2)->VideoCaptureSource, "Blue camera");
    EXPECT_TRUE(Slots().GraphConfigs(2)->WantPreview);
    EXPECT_TRUE(Slots().Component(2).Running());
    EXPECT_THAT(Slots().ModeString(2), StartsWith("352x288x"));
    EXPECT_THAT(select_, ElementsAre(Pair(2, false)));
    EXPECT_THAT(active_, ElementsAre(Pair(2, true)));
    for (int other : {0, 1, 3, 4}) {
        EXPECT_EQ(Slots().StartedCameras(other), nullptr);
        EXPECT_FALSE(Slots().Component(other).Running());
    }
}

TEST_F(CameraSlotsTest, DeviceThatFailsToStartIsLoggedAndLeavesTheButtons) {
    sources_[1].url = "no_such_filter=1";
    EXPECT_FALSE(Slots().StartCamera(1));
    const auto entries = log_.Entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_THAT(entries[0], StartsWith(std::string(logtext::kLogStartCamera)));
    EXPECT_THAT(entries[0], HasSubstr("Green camera"));
    EXPECT_THAT(select_, IsEmpty());
    EXPECT_THAT(active_, IsEmpty());
    EXPECT_NE(Slots().StartedCameras(1), nullptr);
}

TEST_F(CameraSlotsTest, OnlyTheActiveCamerasFramesAreCompressed) {
    DriveCaptureTimer();
    ASSERT_TRUE(Slots().StartCamera(0));  // red
    ASSERT_TRUE(Slots().StartCamera(2));  // blue
    Slots().SetActiveCamera(2);
    ASSERT_TRUE(main_.RunUntil([&] { return compressed_.size() >= 2; }, kPatience));
    for (const auto& frame : compressed_) {
        const auto bgr = MeanColour(frame);
        EXPECT_GT(bgr[0], 200);
        EXPECT_LT(bgr[2], 40);
    }
    EXPECT_EQ(video_path_.size(), compressed_.size());

    Slots().SetActiveCamera(0);
    // A frame asked of the blue camera just before the switch may still arrive.
    const std::size_t switched = compressed_.size() + 1;
    ASSERT_TRUE(main_.RunUntil([&] { return compressed_.size() >= switched + 2; }, kPatience));
    const auto red = MeanColour(compressed_.back());
    EXPECT_GT(red[2], 200);
    EXPECT_LT(red[0], 40);
}

TEST_F(CameraSlotsTest, StopAllEndsEveryStartedCameraAndFramesStop) {
    DriveCaptureTimer();
    ASSERT_TRUE(Slots().StartCamera(1));
    ASSERT_TRUE(Slots().StartCamera(2));
    Slots().SetActiveCamera(1);
    ASSERT_TRUE(main_.RunUntil([&] { return !compressed_.empty(); }, kPatience));

    Slots().SetClosing();
    Slots().StopAll();
    EXPECT_FALSE(Slots().Component(1).Running());
    EXPECT_FALSE(Slots().Component(2).Running());
    const std::size_t before = compressed_.size();
    main_.RunUntil([] { return false; }, 400ms);
    EXPECT_EQ(compressed_.size(), before);
}

class FrameSizes : public CameraSlotsTest, public ::testing::WithParamInterface<std::pair<int, int>> {};

TEST_P(FrameSizes, ReachTheCompressorAs320x240BottomUp) {
    const auto [width, height] = GetParam();
    Slots().cap4BitmapGrabbed(GradientPicture(width, height));
    ASSERT_EQ(compressed_.size(), 1u);
    const auto expected = BottomUp(GradientPicture(kCompressorWidth, kCompressorHeight));
    EXPECT_GE(capturetest::Psnr(compressed_[0], expected), 34.0);
    // The first buffer row is the bottom row: greenest, as green grows downwards.
    EXPECT_NEAR(compressed_[0][1], expected[1], 3);
    EXPECT_GT(compressed_[0][1], 200);
    ASSERT_EQ(video_path_.size(), 1u);
    EXPECT_EQ(video_path_[0].front(), 0x10);
    EXPECT_THAT(log_.Entries(), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(DeviceSizes, FrameSizes, ::testing::Values(std::pair{640, 480}, std::pair{160, 120}));

TEST_F(CameraSlotsTest, FramesAfterClosingAreIgnored) {
    Slots().SetClosing();
    EXPECT_TRUE(Slots().Closing());
    Slots().cap4BitmapGrabbed(GradientPicture(320, 240));
    EXPECT_THAT(compressed_, IsEmpty());
    EXPECT_THAT(video_path_, IsEmpty());
}

TEST_F(CameraSlotsTest, FrameThatCannotBeScaledIsLoggedAndCompressedBlack) {
    Bitmap broken = GradientPicture(64, 48);
    broken.bgr.resize(10);
    Slots().cap4BitmapGrabbed(broken);
    const auto entries = log_.Entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_THAT(entries[0], StartsWith(std::string(logtext::kLogGrabCopyRows)));
    ASSERT_EQ(compressed_.size(), 1u);
    EXPECT_EQ(std::count(compressed_[0].begin(), compressed_[0].end(), 0), static_cast<long>(kCompressorFrameBytes));
}

TEST_F(CameraSlotsTest, CompressorFailureIsLoggedAndTheFrameAbandoned) {
    compress_failure_ = "codec gone";
    Slots().cap4BitmapGrabbed(GradientPicture(320, 240));
    EXPECT_THAT(log_.Entries(), ElementsAre(std::string(logtext::kLogGrabOther) + "codec gone"));
    EXPECT_THAT(video_path_, IsEmpty());
}

TEST_F(CameraSlotsTest, DialogConfigurationStartsAndActivatesSlotZero) {
    TGraphConfig& config = Slots().PrepareDialogConfig();
    EXPECT_TRUE(config.WantPreview);  // filled from cap0's settings
    EXPECT_TRUE(config.VideoCaptureSource.empty());
    Slots().ApplyDialogConfig();  // confirmed without a device: nothing happens
    EXPECT_EQ(Slots().StartedCameras(0), nullptr);

    Slots().PrepareDialogConfig().VideoCaptureSource = "Green camera";
    Slots().ApplyDialogConfig();
    EXPECT_NE(Slots().StartedCameras(0), nullptr);
    EXPECT_EQ(Slots().ActiveSlot(), 0);
    EXPECT_EQ(Slots().ModeString(0), "640x480x16b YUYV");
    EXPECT_TRUE(Slots().Component(0).Running());
}

}  // namespace
}  // namespace halvora
