#pragma once

#include <stdint.h>

#include "platform/vcm/DriverInterface.h"

namespace halvora::divxx {

// The output format block divxx reports and fills: a bitmap info header whose
// compression is 'mp4v' (MPEG-4 Visual Simple Profile), followed by the frame
// rate the stream is timed at. After each compressed frame header.size_image
// holds that frame's byte count.
struct Mpeg4OutputFormat {
    vcm::BitmapInfoHeader header;
    uint32_t frame_rate_num = 0;
    uint32_t frame_rate_den = 0;
};

inline constexpr uint32_t kMpeg4Compression = vcm::MakeFourCC('m', 'p', '4', 'v');

// The capture pace of the program: one frame every 125 ms.
inline constexpr uint32_t kFramesPerSecond = 8;

}  // namespace halvora::divxx
