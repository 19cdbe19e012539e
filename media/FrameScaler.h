#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/capture/Bitmap.h"

struct SwsContext;

namespace halvora {

// The compressor's input picture: 320 x 240, 24 bits per pixel (blue, green,
// red), rows of 960 bytes stored bottom-up (the first row in memory is the bottom
// row of the picture).
inline constexpr int kCompressorWidth = 320;
inline constexpr int kCompressorHeight = 240;
inline constexpr std::size_t kCompressorRowBytes = 960;
inline constexpr std::size_t kCompressorFrameBytes = 230400;

// Brings a grabbed frame of any size into the compressor's layout: stretched to
// exactly 320 x 240 (the aspect ratio is not kept) in a work image reused for
// every frame, then copied row by row, bottom-up.
//
// One instance per user thread (the main thread's frame handler).
class FrameScaler {
public:
    FrameScaler();
    ~FrameScaler();
    FrameScaler(const FrameScaler&) = delete;
    FrameScaler& operator=(const FrameScaler&) = delete;

    // Writes kCompressorFrameBytes bytes at out. Throws std::invalid_argument for a
    // bitmap whose size and bytes disagree (out untouched), std::runtime_error when
    // scaling fails (out untouched).
    void ToCompressorLayout(const Bitmap& frame, std::uint8_t* out);

    // The last stretched picture, 320 x 240 top-down.
    const Bitmap& WorkImage() const { return work_; }

private:
    struct ScalerFree { void operator()(SwsContext* s) const; };

    Bitmap work_;
    std::unique_ptr<SwsContext, ScalerFree> scaler_;  // cached for the last input size
};

}  // namespace halvora
