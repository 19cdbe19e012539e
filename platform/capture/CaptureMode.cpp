#include "platform/capture/CaptureMode.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <tuple>

namespace halvora {

namespace {

constexpr int kWantedWidth = 320;
constexpr int kWantedHeight = 240;

// In order of preference; the order is the tie-break between modes of one size.
constexpr std::array<PixelFormatInfo, 12> kFormats{{
    {V4L2_PIX_FMT_YUYV, "YUYV", "yuyv422", "yuyv422", 16},
    {V4L2_PIX_FMT_MJPEG, "MJPG", "mjpeg", nullptr, 24},
    {V4L2_PIX_FMT_JPEG, "JPEG", "mjpeg", nullptr, 24},
    {V4L2_PIX_FMT_UYVY, "UYVY", "uyvy422", "uyvy422", 16},
    {V4L2_PIX_FMT_YVYU, "YVYU", "yvyu422", "yvyu422", 16},
    {V4L2_PIX_FMT_YUV420, "YU12", "yuv420p", "yuv420p", 12},
    {V4L2_PIX_FMT_NV12, "NV12", "nv12", "nv12", 12},
    {V4L2_PIX_FMT_YUV422P, "422P", "yuv422p", "yuv422p", 16},
    {V4L2_PIX_FMT_BGR24, "BGR3", "bgr24", "bgr24", 24},
    {V4L2_PIX_FMT_RGB24, "RGB3", "rgb24", "rgb24", 24},
    {V4L2_PIX_FMT_RGB565, "RGBP", "rgb565le", "rgb565le", 16},
    {V4L2_PIX_FMT_GREY, "GREY", "gray", "gray", 8},
}};

std::size_t FormatRank(std::uint32_t fourcc) {
    for (std::size_t i = 0; i < kFormats.size(); ++i) {
        if (kFormats[i].fourcc == fourcc) {
            return i;
        }
    }
    return kFormats.size();
}

}  // namespace

const PixelFormatInfo* FindPixelFormat(std::uint32_t fourcc) {
    const std::size_t rank = FormatRank(fourcc);
    return rank < kFormats.size() ? &kFormats[rank] : nullptr;
}

const PixelFormatInfo* FindPixelFormatByFfmpegName(const std::string& pixfmt) {
    for (const auto& f : kFormats) {
        if (f.ffmpeg_pixfmt != nullptr && pixfmt == f.ffmpeg_pixfmt) {
            return &f;
        }
    }
    return nullptr;
}

std::optional<CaptureMode> ChooseCaptureMode(const std::vector<CaptureMode>& offered) {
    // Smaller keys are better: sizes covering 320 x 240 before the others; among
    // those the smallest area, among the others the nearest size; then the format.
    auto key = [](const CaptureMode& m) {
        const bool covers = m.width >= kWantedWidth && m.height >= kWantedHeight;
        const long long size_key = covers
            ? static_cast<long long>(m.width) * m.height
            : std::llabs(static_cast<long long>(m.width) - kWantedWidth) +
                  std::llabs(static_cast<long long>(m.height) - kWantedHeight);
        return std::make_tuple(covers ? 0 : 1, size_key, FormatRank(m.fourcc));
    };
    std::optional<CaptureMode> best;
    for (const auto& mode : offered) {
        if (mode.width <= 0 || mode.height <= 0 || FindPixelFormat(mode.fourcc) == nullptr) {
            continue;
        }
        if (!best || key(mode) < key(*best)) {
            best = mode;
        }
    }
    return best;
}

std::string FourccText(std::uint32_t fourcc) {
    std::string text;
    for (int i = 0; i < 4; ++i) {
        const char c = static_cast<char>((fourcc >> (8 * i)) & 0xFF);
        text.push_back(c >= 0x20 && c < 0x7F ? c : '?');
    }
    while (!text.empty() && text.back() == ' ') {
        text.pop_back();
    }
    return text;
}

std::string ModeText(int width, int height, int bits, const std::string& format_name) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%dx%dx%db", width, height, bits);
    std::string text(buf);
    if (!format_name.empty()) {
        text += ' ';
        text += format_name;
    }
    return text;
}

}  // namespace halvora
