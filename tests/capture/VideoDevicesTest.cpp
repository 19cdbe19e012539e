#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/capture/VideoDevices.h"
#include "tests/support/ScopedEnvironmentVariable.h"
#include "tests/support/ScopedTempFolder.h"

namespace halvora {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class VideoDevicesTest : public ::testing::Test {
protected:
    ~VideoDevicesTest() override { SetTestPatternEnabled(false); }

    test::ScopedTempFolder folder_;
};

TEST_F(VideoDevicesTest, EmptyFolderHasNoDevices) {
    EXPECT_THAT(ListVideoSources(folder_.Path()), IsEmpty());
}

TEST_F(VideoDevicesTest, NodesThatCannotCaptureAreLeftOut) {
    // Names that look like device nodes but are a plain file and a character
    // device that is no camera; and names that do not look like nodes at all.
    std::ofstream(folder_.Path() / "video0") << "not a device";
    std::filesystem::create_symlink("/dev/null", folder_.Path() / "video1");
    std::ofstream(folder_.Path() / "videoX") << "";
    std::ofstream(folder_.Path() / "media0") << "";
    EXPECT_THAT(ListVideoSources(folder_.Path()), IsEmpty());
}

TEST_F(VideoDevicesTest, TestPatternOnlyWithTheOptionAndLast) {
    std::filesystem::create_symlink("/dev/null", folder_.Path() / "video0");
    EXPECT_THAT(ListVideoSources(folder_.Path()), IsEmpty());

    SetTestPatternEnabled(true);
    const auto sources = ListVideoSources(folder_.Path());
    ASSERT_EQ(sources.size(), 1u);
    EXPECT_EQ(sources.back().name, "Test pattern");
    EXPECT_EQ(sources.back().input_format, "lavfi");
    EXPECT_EQ(sources.back().url, TestPatternGraph());
}

TEST_F(VideoDevicesTest, DeviceListReadsTheFolderFromTheEnvironment) {
    test::ScopedEnvironmentVariable dir("HALVORA_VIDEO_DEVICE_DIR", folder_.Path().c_str());
    EXPECT_EQ(VideoDeviceFolder(), folder_.Path());
    EXPECT_THAT(GetVideoDevicesList(), IsEmpty());
    SetTestPatternEnabled(true);
    EXPECT_THAT(GetVideoDevicesList(), ElementsAre("Test pattern"));
}

}  // namespace
}  // namespace halvora
