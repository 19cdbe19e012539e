#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace halvora {

// One capture mode a device offers: its pixel format as a Video4Linux2 four-
// character code and a frame size.
struct CaptureMode {
    std::uint32_t fourcc = 0;
    int width = 0;
    int height = 0;

    bool operator==(const CaptureMode&) const = default;
};

// The mode to capture in, out of what a device offers. The picture ends up as
// 320 x 240, so the preferred size is 320 x 240 itself, else the smallest size
// that covers it (scaling down costs little and loses nothing), else the size
// nearest to it. Among modes of one size YUYV comes first, then Motion-JPEG, then
// the other formats we can decode. Modes in formats we cannot decode are never
// chosen; nullopt when none is left.
std::optional<CaptureMode> ChooseCaptureMode(const std::vector<CaptureMode>& offered);

// What we know of a pixel format, for the modes we can decode.
struct PixelFormatInfo {
    std::uint32_t fourcc;
    const char* name;          // as the mode text shows it, e.g. "YUYV"
    const char* ffmpeg_input;  // the v4l2 input's "input_format" option value
    const char* ffmpeg_pixfmt; // libavutil's name of the raw layout; null for compressed
    int bits;                  // bits per pixel of the mode
};
// Null for a format we cannot decode.
const PixelFormatInfo* FindPixelFormat(std::uint32_t fourcc);
// Same, looked up by libavutil's pixel format name ("yuyv422").
const PixelFormatInfo* FindPixelFormatByFfmpegName(const std::string& pixfmt);

// The four characters of a code, trailing blanks removed ("MJPG", "GREY").
std::string FourccText(std::uint32_t fourcc);

// "640x480x16b YUYV": width, height and bits per pixel, a blank, the format name.
std::string ModeText(int width, int height, int bits, const std::string& format_name);

}  // namespace halvora
