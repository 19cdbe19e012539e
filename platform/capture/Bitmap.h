#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

namespace halvora {

// A grabbed picture: 24 bits per pixel, rows top-down, each pixel blue, green,
// red; rows are packed (width * 3 bytes each, no padding).
struct Bitmap {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> bgr;  // width * height * 3 bytes
    // When the device's frame was at hand, decoded, before its conversion (set by
    // the capture component; left at zero for pictures made elsewhere). Lets a
    // measurement follow a frame from the camera to the viewer.
    std::chrono::steady_clock::time_point captured{};
};

}  // namespace halvora
