#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "drivers/divxx/EncoderSettings.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

namespace halvora::divxx {

// MPEG-4 Visual (ISO/IEC 14496-2) Simple Profile encoding of packed 24-bit BGR pictures on
// libavcodec's "mpeg4" encoder: one compressed frame out for every picture in,
// no B-frames, a key frame at least every key_interval pictures, and the stream
// headers repeated in front of every key frame so that a decoder may start at
// any of them.
class Mpeg4Encoder {
public:
    struct Picture {
        int width = 0;
        int height = 0;          // rows
        bool bottom_up = true;   // the first row in memory is the bottom row
        std::ptrdiff_t row_bytes = 0;
    };

    // nullptr, with the reason in error, when libavcodec refuses the settings.
    static std::unique_ptr<Mpeg4Encoder> Create(const Picture& picture, const EncoderSettings& settings,
                                                std::string& error);
    ~Mpeg4Encoder();
    Mpeg4Encoder(const Mpeg4Encoder&) = delete;
    Mpeg4Encoder& operator=(const Mpeg4Encoder&) = delete;

    enum class Result { kOk, kTooSmall, kFailed };
    // Compresses one picture into out (capacity bytes). On kOk, written and
    // key_frame describe the compressed frame. kTooSmall: the frame did not fit
    // and is lost (the encoder has still moved on past it).
    Result Encode(const std::uint8_t* bgr, bool force_key_frame, std::uint8_t* out, std::size_t capacity,
                  std::size_t& written, bool& key_frame);

    const Picture& Input() const { return picture_; }
    const EncoderSettings& Settings() const { return settings_; }

private:
    Mpeg4Encoder(const Picture& picture, const EncoderSettings& settings);

    struct CodecContextFree { void operator()(AVCodecContext* c) const; };
    struct FrameFree { void operator()(AVFrame* f) const; };
    struct PacketFree { void operator()(AVPacket* p) const; };
    struct SwsFree { void operator()(SwsContext* s) const; };

    // Configuration, fixed at Create.
    Picture picture_;
    EncoderSettings settings_;

    // libavcodec and libswscale state.
    std::unique_ptr<AVCodecContext, CodecContextFree> context_;
    std::unique_ptr<AVFrame, FrameFree> frame_;
    std::unique_ptr<AVPacket, PacketFree> packet_;
    std::unique_ptr<SwsContext, SwsFree> scaler_;

    // Presentation time of the next picture, in frames.
    std::int64_t next_pts_ = 0;
};

}  // namespace halvora::divxx
