#pragma once

#include <cstdint>
#include <vector>

namespace halvora::test {

// Frame `index` of a synthetic camera-like scene, as the capture path hands
// frames to the compressor: packed BGR24, rows bottom-up (the first row in
// memory is the bottom row), no row padding (width * 3 is a multiple of 4 at
// the sizes used). The scene: a sky-to-ground gradient, a softly textured wall,
// a ball moving across and back, a striped box drifting diagonally, and a
// bright band along the top edge so that a picture upside down is obvious.
// `noise` adds that much (0 ... 10) deterministic sensor-like noise per pixel,
// different in every frame.
std::vector<std::uint8_t> MakeTestPicture(int index, int width = 320, int height = 240, int noise = 0);

// The luma plane (ITU-R BT.601, studio range, as a decoder's Y) of a bottom-up
// BGR24 picture, rows top-down.
std::vector<std::uint8_t> LumaOfBottomUpBgr(const std::uint8_t* bgr, int width, int height);

// Peak signal-to-noise ratio of two 8-bit planes of the same size, in dB
// (99 for identical planes).
double Psnr(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b);

}  // namespace halvora::test
