#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace halvora {

// The synthetic device's name in the device list.
inline constexpr std::string_view kTestPatternName = "Test pattern";

// Where a capture component finds a device: the libavdevice input format and the
// "file" it opens with it.
struct VideoSource {
    std::string name;          // as listed to the operator
    std::string input_format;  // "v4l2" or "lavfi"
    std::string url;           // the device node, or the lavfi filter graph
};

// The option --test-pattern: when on, the device list ends with a synthetic
// moving picture, so a machine without a camera can broadcast. Off by default.
// Process-wide; set it before the first device list is taken.
void SetTestPatternEnabled(bool enabled);
bool TestPatternEnabled();

// The libavfilter graph behind the test pattern (a source filter chain such as
// "testsrc2=size=320x240:rate=15,format=yuyv422"). Tests change it to get other
// sizes or a source that ends.
void SetTestPatternGraph(std::string graph);
std::string TestPatternGraph();

// The folder searched for device nodes: $HALVORA_VIDEO_DEVICE_DIR when set and
// not empty, else /dev.
std::filesystem::path VideoDeviceFolder();

// The capture devices: every node video<N> in folder that can capture video, in
// the order of N, named by its card name (a repeated name gets " (2)", " (3)"
// so each device can be chosen); then the test pattern when enabled.
std::vector<VideoSource> ListVideoSources(const std::filesystem::path& folder);
std::vector<VideoSource> ListVideoSources();  // in VideoDeviceFolder()

// The names of ListVideoSources(), in its order.
std::vector<std::string> GetVideoDevicesList();

}  // namespace halvora
