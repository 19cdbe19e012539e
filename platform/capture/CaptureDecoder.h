#pragma once

#include <memory>

#include "platform/capture/Bitmap.h"

struct AVCodecParameters;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

namespace halvora {

// Turns the packets of one capture stream (raw YUYV and friends, Motion-JPEG,
// the test pattern's raw frames) into pictures, keeping only the latest, and
// converts that one to 24-bit BGR on demand: a device may deliver 30 frames a
// second while the program takes 8, so conversion is paid only for frames that
// are used.
//
// Used by one thread at a time (the device's reader thread).
class CaptureDecoder {
public:
    // Throws std::runtime_error when the stream cannot be decoded.
    explicit CaptureDecoder(const AVCodecParameters& params);
    ~CaptureDecoder();
    CaptureDecoder(const CaptureDecoder&) = delete;
    CaptureDecoder& operator=(const CaptureDecoder&) = delete;

    // Decodes one packet. True when it gave a picture, which replaces the one kept
    // before. A packet that does not decode (a torn JPEG) is skipped: false.
    bool Decode(const AVPacket& packet);

    bool HasPicture() const;

    // The latest picture as a 24-bit BGR bitmap of its own size (out is reused).
    // Throws std::runtime_error when there is none or conversion fails.
    void ToBitmap(Bitmap& out);

private:
    struct CodecContextFree { void operator()(AVCodecContext* c) const; };
    struct FrameFree { void operator()(AVFrame* f) const; };
    struct ScalerFree { void operator()(SwsContext* s) const; };

    std::unique_ptr<AVCodecContext, CodecContextFree> codec_;
    std::unique_ptr<AVFrame, FrameFree> latest_;   // the picture kept
    std::unique_ptr<AVFrame, FrameFree> incoming_;  // receives the next one
    std::unique_ptr<SwsContext, ScalerFree> scaler_;  // cached for the latest's format and size
    bool has_picture_ = false;
};

}  // namespace halvora
