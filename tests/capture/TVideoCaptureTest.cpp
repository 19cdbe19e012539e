#include <chrono>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/capture/TVideoCapture.h"
#include "platform/capture/VideoDevices.h"
#include "tests/capture/CaptureTestSupport.h"

namespace halvora {
namespace {

using namespace std::chrono_literals;
using capturetest::CountingMainThread;
using capturetest::ScopedLog;
using ::testing::HasSubstr;

// Long enough never to end a healthy run, even under a sanitizer.
constexpr auto kPatience = 10s;

TGraphConfig ConfigFor(const std::string& device, bool preview = true) {
    TGraphConfig config;
    config.VideoCaptureSource = device;
    config.WantPreview = preview;
    return config;
}

class TVideoCaptureTest : public ::testing::Test {
protected:
    TVideoCaptureTest() {
        sources_ = {
            {"Small camera", "lavfi", "testsrc2=size=160x120:rate=25,format=yuyv422"},
            {"Short camera", "lavfi", "testsrc2=size=96x64:rate=25:duration=0.4"},
            {"Broken camera", "lavfi", "no_such_filter=1"},
        };
    }
    ~TVideoCaptureTest() override { SetTestPatternEnabled(false); }

    std::unique_ptr<TVideoCapture> MakeCapture() {
        return std::make_unique<TVideoCapture>(main_, [this] { return sources_; });
    }

    // Grabs one frame: asks, then runs the main loop until it arrives.
    std::optional<Bitmap> Grab(TVideoCapture& cap) {
        std::optional<Bitmap> got;
        cap.OnBitmapGrabbed = [&](const Bitmap& frame) {
            on_main_thread_ = main_.IsMainThread();
            got = frame;
        };
        cap.CaptureFrame();
        main_.Loop().RunUntil([&] { return got.has_value(); }, kPatience);
        return got;
    }

    ScopedLog log_;
    CountingMainThread main_;
    std::vector<VideoSource> sources_;
    bool on_main_thread_ = false;
};

TEST_F(TVideoCaptureTest, TestPatternDeliversMovingFramesOnTheMainThread) {
    SetTestPatternEnabled(true);
    TVideoCapture cap(main_);  // the real device list, which ends with the test pattern
    cap.RestoreGraph(ConfigFor(std::string(kTestPatternName)));
    EXPECT_EQ(cap.GetModeString(), "320x240x16b YUYV");
    EXPECT_TRUE(cap.Running());

    const auto first = Grab(cap);
    ASSERT_TRUE(first.has_value());
    EXPECT_TRUE(on_main_thread_);
    EXPECT_EQ(first->width, 320);
    EXPECT_EQ(first->height, 240);
    EXPECT_EQ(first->bgr.size(), 320u * 240u * 3u);

    main_.Loop().RunUntil([] { return false; }, 150ms);  // let the picture move on
    const auto second = Grab(cap);
    ASSERT_TRUE(second.has_value());
    EXPECT_NE(first->bgr, second->bgr);
}

TEST_F(TVideoCaptureTest, DeliversOneFramePerRequestAtTheDeviceSize) {
    auto cap = MakeCapture();
    cap->RestoreGraph(ConfigFor("Small camera"));
    EXPECT_EQ(cap->GetModeString(), "160x120x16b YUYV");

    int frames = 0;
    cap->OnBitmapGrabbed = [&](const Bitmap& frame) {
        ++frames;
        EXPECT_EQ(frame.width, 160);
        EXPECT_EQ(frame.height, 120);
    };
    // Without a request nothing comes, although the device runs at 25 frames a second.
    main_.Loop().RunUntil([] { return false; }, 200ms);
    EXPECT_EQ(frames, 0);
    cap->CaptureFrame();
    ASSERT_TRUE(main_.Loop().RunUntil([&] { return frames == 1; }, kPatience));
    main_.Loop().RunUntil([] { return false; }, 200ms);
    EXPECT_EQ(frames, 1);
}

TEST_F(TVideoCaptureTest, SaveGraphReportsTheDesignSettingsAndTheDevice) {
    auto cap = MakeCapture();
    ASSERT_TRUE(cap->Init());
    TGraphConfig saved;
    cap->SaveGraph(saved);
    EXPECT_EQ(saved.VideoCaptureSource, "Small camera");  // Init picks the first device
    EXPECT_TRUE(saved.WantBitmaps);
    EXPECT_TRUE(saved.WantPreview);
    EXPECT_TRUE(saved.WantDVAudio);
    EXPECT_FALSE(saved.WantCapture);
    EXPECT_FALSE(saved.WantAudio);
    EXPECT_FALSE(saved.WantAudioPreview);
    EXPECT_EQ(saved.BitmapPixelFormat, TGraphConfig::pf24bit);
    EXPECT_EQ(saved.DVResolution, TGraphConfig::dvrDontWorry);

    // A rebuilt component reports what it was rebuilt from.
    TGraphConfig wanted = ConfigFor("Small camera", false);
    wanted.DVResolution = TGraphConfig::dvrHalf;
    cap->RestoreGraph(wanted);
    cap->SaveGraph(saved);
    EXPECT_EQ(saved, wanted);
    EXPECT_FALSE(cap->Running());  // no preview asked for: the device is open, not running
}

TEST_F(TVideoCaptureTest, InitFailsWithoutDevices) {
    sources_.clear();
    EXPECT_FALSE(MakeCapture()->Init());
}

TEST_F(TVideoCaptureTest, RestoreGraphRefusesDevicesItCannotOpen) {
    auto cap = MakeCapture();
    try {
        cap->RestoreGraph(ConfigFor("Unplugged camera"));
        ADD_FAILURE() << "no error for an unknown device";
    } catch (const std::runtime_error& e) {
        EXPECT_THAT(e.what(), HasSubstr("Unplugged camera"));
    }
    try {
        cap->RestoreGraph(ConfigFor("Broken camera"));
        ADD_FAILURE() << "no error for a device that does not open";
    } catch (const std::runtime_error& e) {
        EXPECT_THAT(e.what(), HasSubstr("Broken camera"));
    }
    EXPECT_FALSE(cap->Running());
    EXPECT_THROW(cap->StartPreview(), std::runtime_error);
}

// Whatever ends a run, a frame already handed to the main thread is not delivered.
enum class Ending { StopCapture, StopPreview, RestoreGraph, Destroy };

class FrameAfterEnd : public TVideoCaptureTest, public ::testing::WithParamInterface<Ending> {};

TEST_P(FrameAfterEnd, IsNeverDelivered) {
    auto cap = MakeCapture();
    cap->RestoreGraph(ConfigFor("Small camera"));
    int frames = 0;
    cap->OnBitmapGrabbed = [&](const Bitmap&) { ++frames; };
    cap->CaptureFrame();
    ASSERT_TRUE(main_.WaitForPosted(1, kPatience));  // on its way, not yet run

    switch (GetParam()) {
        case Ending::StopCapture: cap->StopCapture(); break;
        case Ending::StopPreview: cap->StopPreview(); break;
        case Ending::RestoreGraph: cap->RestoreGraph(ConfigFor("Small camera")); break;
        case Ending::Destroy: cap.reset(); break;
    }
    main_.Loop().RunUntil([] { return false; }, 100ms);
    EXPECT_EQ(frames, 0);
    if (cap) {
        EXPECT_EQ(cap->Running(), GetParam() == Ending::RestoreGraph);
    }
}

INSTANTIATE_TEST_SUITE_P(AllEndings, FrameAfterEnd,
                         ::testing::Values(Ending::StopCapture, Ending::StopPreview, Ending::RestoreGraph,
                                           Ending::Destroy));

TEST_F(TVideoCaptureTest, DeviceThatStopsIsLoggedOnceAndCanBeStartedAgain) {
    auto cap = MakeCapture();
    cap->RestoreGraph(ConfigFor("Short camera"));
    ASSERT_TRUE(main_.Loop().RunUntil([&] { return !cap->Running(); }, kPatience));

    int frames = 0;
    cap->OnBitmapGrabbed = [&](const Bitmap&) { ++frames; };
    cap->CaptureFrame();
    main_.Loop().RunUntil([] { return false; }, 200ms);
    EXPECT_EQ(frames, 0);

    const auto entries = log_.Entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_THAT(entries[0], ::testing::StartsWith("TVideoCapture: "));
    EXPECT_THAT(entries[0], HasSubstr("\"Short camera\" stopped delivering frames"));

    cap->StartPreview();  // plugged in again
    EXPECT_TRUE(cap->Running());
    cap->CaptureFrame();
    EXPECT_TRUE(main_.Loop().RunUntil([&] { return frames == 1; }, kPatience));
}

TEST_F(TVideoCaptureTest, PreviewFramesOnlyWhileSomeoneListensAndThrottled) {
    auto cap = MakeCapture();
    cap->SetPreviewInterval(100ms);
    cap->RestoreGraph(ConfigFor("Small camera"));

    int previews = 0;
    main_.Loop().RunUntil([] { return false; }, 300ms);
    EXPECT_EQ(main_.Posted(), 0);  // nobody listens: nothing converted, nothing handed over

    cap->SetOnPreviewFrame([&](const Bitmap& frame) {
        EXPECT_EQ(frame.width, 160);
        ++previews;
    });
    const auto start = std::chrono::steady_clock::now();
    main_.Loop().RunUntil([] { return false; }, 1000ms);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(previews, 1);
    // The device gives 25 a second; at most one per 100 ms gets through.
    EXPECT_LE(previews, elapsed / 100ms + 1);

    cap->SetOnPreviewFrame(nullptr);
    main_.Loop().RunUntil([] { return false; }, 150ms);  // whatever was on its way
    const int posted = main_.Posted();
    main_.Loop().RunUntil([] { return false; }, 300ms);
    EXPECT_EQ(main_.Posted(), posted);
}

}  // namespace
}  // namespace halvora
