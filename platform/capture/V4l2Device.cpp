#include "platform/capture/V4l2Device.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace halvora {

namespace {

// Owns one open node.
class NodeHandle {
public:
    explicit NodeHandle(const std::filesystem::path& node)
        : fd_(::open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC)) {}
    ~NodeHandle() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    NodeHandle(const NodeHandle&) = delete;
    NodeHandle& operator=(const NodeHandle&) = delete;

    bool IsOpen() const { return fd_ >= 0; }

    bool Ask(unsigned long request, void* arg) const {
        int r;
        do {
            r = ::ioctl(fd_, request, arg);
        } while (r < 0 && errno == EINTR);
        return r == 0;
    }

private:
    int fd_;
};

// Clamps value into [lo, hi] on the grid lo + k * step.
int OnGrid(int value, int lo, int hi, int step) {
    value = std::clamp(value, lo, hi);
    if (step > 1) {
        value = lo + (value - lo) / step * step;
    }
    return value;
}

}  // namespace

std::optional<std::string> QueryCaptureCard(const std::filesystem::path& node) {
    NodeHandle handle(node);
    if (!handle.IsOpen()) {
        return std::nullopt;
    }
    v4l2_capability cap{};
    if (!handle.Ask(VIDIOC_QUERYCAP, &cap)) {
        return std::nullopt;
    }
    // A driver with several nodes reports the whole device in capabilities and
    // this node alone in device_caps.
    const std::uint32_t caps =
        (cap.capabilities & V4L2_CAP_DEVICE_CAPS) != 0 ? cap.device_caps : cap.capabilities;
    if ((caps & V4L2_CAP_VIDEO_CAPTURE) == 0) {
        return std::nullopt;
    }
    const auto* card = reinterpret_cast<const char*>(cap.card);
    return std::string(card, strnlen(card, sizeof cap.card));
}

std::vector<CaptureMode> QueryCaptureModes(const std::filesystem::path& node) {
    std::vector<CaptureMode> modes;
    NodeHandle handle(node);
    if (!handle.IsOpen()) {
        return modes;
    }
    for (std::uint32_t fi = 0;; ++fi) {
        v4l2_fmtdesc desc{};
        desc.index = fi;
        desc.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (!handle.Ask(VIDIOC_ENUM_FMT, &desc)) {
            break;
        }
        for (std::uint32_t si = 0;; ++si) {
            v4l2_frmsizeenum size{};
            size.index = si;
            size.pixel_format = desc.pixelformat;
            if (!handle.Ask(VIDIOC_ENUM_FRAMESIZES, &size)) {
                break;
            }
            if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
                modes.push_back({desc.pixelformat, static_cast<int>(size.discrete.width),
                                 static_cast<int>(size.discrete.height)});
                continue;
            }
            const auto& sw = size.stepwise;
            const int min_w = static_cast<int>(sw.min_width), max_w = static_cast<int>(sw.max_width);
            const int min_h = static_cast<int>(sw.min_height), max_h = static_cast<int>(sw.max_height);
            modes.push_back({desc.pixelformat, min_w, min_h});
            modes.push_back({desc.pixelformat, OnGrid(320, min_w, max_w, static_cast<int>(sw.step_width)),
                             OnGrid(240, min_h, max_h, static_cast<int>(sw.step_height))});
            modes.push_back({desc.pixelformat, max_w, max_h});
            break;  // a range is reported once, at index 0
        }
    }
    return modes;
}

}  // namespace halvora
