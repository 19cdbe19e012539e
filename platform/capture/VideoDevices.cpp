#include "platform/capture/VideoDevices.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <map>
#include <mutex>
#include <system_error>

#include "platform/capture/V4l2Device.h"

namespace halvora {

namespace {

std::atomic<bool> g_test_pattern{false};

std::mutex g_graph_mutex;
std::string g_test_pattern_graph = "testsrc2=size=320x240:rate=15,format=yuyv422";  // guarded by g_graph_mutex

// The N of "videoN", or -1 for any other name.
long NodeNumber(const std::string& name) {
    constexpr std::string_view kPrefix = "video";
    if (name.size() <= kPrefix.size() || name.compare(0, kPrefix.size(), kPrefix) != 0 ||
        name.size() > kPrefix.size() + 6) {
        return -1;
    }
    long n = 0;
    for (std::size_t i = kPrefix.size(); i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') {
            return -1;
        }
        n = n * 10 + (name[i] - '0');
    }
    return n;
}

}  // namespace

void SetTestPatternEnabled(bool enabled) { g_test_pattern = enabled; }

bool TestPatternEnabled() { return g_test_pattern; }

void SetTestPatternGraph(std::string graph) {
    std::lock_guard guard(g_graph_mutex);
    g_test_pattern_graph = std::move(graph);
}

std::string TestPatternGraph() {
    std::lock_guard guard(g_graph_mutex);
    return g_test_pattern_graph;
}

std::filesystem::path VideoDeviceFolder() {
    const char* dir = std::getenv("HALVORA_VIDEO_DEVICE_DIR");
    return (dir != nullptr && *dir != '\0') ? std::filesystem::path(dir) : std::filesystem::path("/dev");
}

std::vector<VideoSource> ListVideoSources(const std::filesystem::path& folder) {
    std::map<long, std::filesystem::path> nodes;  // ordered by device number
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const long n = NodeNumber(it->path().filename().string());
        if (n >= 0) {
            nodes.emplace(n, it->path());
        }
    }

    std::vector<VideoSource> sources;
    std::map<std::string, int> seen;
    for (const auto& [n, path] : nodes) {
        auto card = QueryCaptureCard(path);
        if (!card) {
            continue;
        }
        std::string name = *card;
        if (const int count = ++seen[name]; count > 1) {
            name += " (" + std::to_string(count) + ")";
        }
        sources.push_back({std::move(name), "v4l2", path.string()});
    }
    if (TestPatternEnabled()) {
        sources.push_back({std::string(kTestPatternName), "lavfi", TestPatternGraph()});
    }
    return sources;
}

std::vector<VideoSource> ListVideoSources() { return ListVideoSources(VideoDeviceFolder()); }

std::vector<std::string> GetVideoDevicesList() {
    std::vector<std::string> names;
    for (auto& source : ListVideoSources()) {
        names.push_back(std::move(source.name));
    }
    return names;
}

}  // namespace halvora
