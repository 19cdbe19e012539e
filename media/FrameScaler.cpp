#include "media/FrameScaler.h"

extern "C" {
#include <libswscale/swscale.h>
}

#include <cstring>
#include <stdexcept>
#include <string>

namespace halvora {

namespace {

// Far beyond any camera; keeps width * height * 3 well inside the arithmetic.
constexpr int kMaxSide = 16384;

}  // namespace

void FrameScaler::ScalerFree::operator()(SwsContext* s) const { sws_freeContext(s); }

FrameScaler::FrameScaler() {
    work_.width = kCompressorWidth;
    work_.height = kCompressorHeight;
    work_.bgr.resize(kCompressorFrameBytes);
}

FrameScaler::~FrameScaler() = default;

void FrameScaler::ToCompressorLayout(const Bitmap& frame, std::uint8_t* out) {
    if (frame.width <= 0 || frame.height <= 0 || frame.width > kMaxSide || frame.height > kMaxSide) {
        throw std::invalid_argument("bad frame size " + std::to_string(frame.width) + "x" +
                                    std::to_string(frame.height));
    }
    const std::size_t in_row = static_cast<std::size_t>(frame.width) * 3;
    if (frame.bgr.size() != in_row * static_cast<std::size_t>(frame.height)) {
        throw std::invalid_argument("frame holds " + std::to_string(frame.bgr.size()) + " bytes, not " +
                                    std::to_string(in_row * frame.height));
    }

    if (frame.width == kCompressorWidth && frame.height == kCompressorHeight) {
        std::memcpy(work_.bgr.data(), frame.bgr.data(), kCompressorFrameBytes);
    } else {
        // Full chroma: libswscale scales packed RGB through YUV, and halving the
        // chroma there would blur colour edges for nothing.
        const int flags = SWS_BILINEAR | SWS_FULL_CHR_H_INT | SWS_FULL_CHR_H_INP | SWS_ACCURATE_RND;
        SwsContext* s = sws_getCachedContext(scaler_.release(), frame.width, frame.height, AV_PIX_FMT_BGR24,
                                             kCompressorWidth, kCompressorHeight, AV_PIX_FMT_BGR24, flags,
                                             nullptr, nullptr, nullptr);
        scaler_.reset(s);
        if (s == nullptr) {
            throw std::runtime_error("cannot set up scaling from " + std::to_string(frame.width) + "x" +
                                     std::to_string(frame.height));
        }
        const std::uint8_t* src[4] = {frame.bgr.data(), nullptr, nullptr, nullptr};
        const int src_stride[4] = {static_cast<int>(in_row), 0, 0, 0};
        std::uint8_t* dst[4] = {work_.bgr.data(), nullptr, nullptr, nullptr};
        const int dst_stride[4] = {static_cast<int>(kCompressorRowBytes), 0, 0, 0};
        if (sws_scale(s, src, src_stride, 0, frame.height, dst, dst_stride) != kCompressorHeight) {
            throw std::runtime_error("scaling failed");
        }
    }

    for (int i = 0; i < kCompressorHeight; ++i) {
        std::memcpy(out + i * kCompressorRowBytes,
                    work_.bgr.data() + (kCompressorHeight - 1 - i) * kCompressorRowBytes, kCompressorRowBytes);
    }
}

}  // namespace halvora
