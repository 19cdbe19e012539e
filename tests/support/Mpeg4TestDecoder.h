#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace halvora::test {

// One decoded picture, rows top-down, planes without padding.
struct DecodedPicture {
    int width = 0;
    int height = 0;
    bool key_frame = false;
    std::vector<std::uint8_t> y;  // width x height
    std::vector<std::uint8_t> u;  // (width/2) x (height/2)
    std::vector<std::uint8_t> v;

    // Packed RGB, 3 bytes a pixel, rows top-down (libswscale's conversion).
    std::vector<std::uint8_t> Rgb24() const;
};

// libavcodec's MPEG-4 Visual decoder, strict about bitstream errors, for tests
// that check what the driver produced. Feed compressed frames in stream order;
// a decoder may start at any key frame.
class Mpeg4TestDecoder {
public:
    Mpeg4TestDecoder();
    ~Mpeg4TestDecoder();
    Mpeg4TestDecoder(const Mpeg4TestDecoder&) = delete;
    Mpeg4TestDecoder& operator=(const Mpeg4TestDecoder&) = delete;

    // Decodes one compressed frame. False (reason in LastError()) when the
    // decoder rejects it or gives no picture for it.
    bool Decode(const std::uint8_t* data, std::size_t size, DecodedPicture& picture);
    // The same for a video payload: 4-byte stamp, then the compressed frame.
    bool DecodePayload(const std::vector<std::uint8_t>& payload, DecodedPicture& picture);

    const std::string& LastError() const { return error_; }

private:
    struct ContextFree { void operator()(AVCodecContext* c) const; };
    struct FrameFree { void operator()(AVFrame* f) const; };
    struct PacketFree { void operator()(AVPacket* p) const; };

    std::unique_ptr<AVCodecContext, ContextFree> context_;
    std::unique_ptr<AVFrame, FrameFree> frame_;
    std::unique_ptr<AVPacket, PacketFree> packet_;
    std::string error_;
};

}  // namespace halvora::test
