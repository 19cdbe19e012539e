#include "tests/support/Mpeg4TestDecoder.h"

#include <cstring>
#include <stdexcept>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/error.h>
#include <libswscale/swscale.h>
}

namespace halvora::test {
namespace {

std::string AvErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof(text));
    return text;
}

void CopyPlane(const std::uint8_t* source, int stride, int width, int height, std::vector<std::uint8_t>& out) {
    out.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    for (int row = 0; row < height; ++row) {
        std::memcpy(out.data() + static_cast<std::size_t>(row) * static_cast<std::size_t>(width),
                    source + static_cast<std::ptrdiff_t>(row) * stride, static_cast<std::size_t>(width));
    }
}

}  // namespace

void Mpeg4TestDecoder::ContextFree::operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
void Mpeg4TestDecoder::FrameFree::operator()(AVFrame* f) const { av_frame_free(&f); }
void Mpeg4TestDecoder::PacketFree::operator()(AVPacket* p) const { av_packet_free(&p); }

Mpeg4TestDecoder::Mpeg4TestDecoder() {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MPEG4);
    if (codec == nullptr) {
        throw std::runtime_error("libavcodec has no MPEG-4 decoder");
    }
    context_.reset(avcodec_alloc_context3(codec));
    frame_.reset(av_frame_alloc());
    packet_.reset(av_packet_alloc());
    if (!context_ || !frame_ || !packet_) {
        throw std::runtime_error("out of memory");
    }
    context_->thread_count = 1;
    // A damaged or non-conforming stream must fail the decode, not be concealed.
    context_->err_recognition = AV_EF_CRCCHECK | AV_EF_BITSTREAM | AV_EF_BUFFER | AV_EF_EXPLODE;
    // Errors come back through LastError(); the offset moves the decoder's own
    // messages past every log level (the log keeps a level's low byte only).
    context_->log_level_offset = 190;
    if (const int rc = avcodec_open2(context_.get(), codec, nullptr); rc < 0) {
        throw std::runtime_error("cannot open the MPEG-4 decoder: " + AvErrorText(rc));
    }
}

Mpeg4TestDecoder::~Mpeg4TestDecoder() = default;

bool Mpeg4TestDecoder::Decode(const std::uint8_t* data, std::size_t size, DecodedPicture& picture) {
    error_.clear();
    // libavcodec reads up to AV_INPUT_BUFFER_PADDING_SIZE bytes past the end.
    if (const int rc = av_new_packet(packet_.get(), static_cast<int>(size)); rc < 0) {
        error_ = "av_new_packet: " + AvErrorText(rc);
        return false;
    }
    std::memcpy(packet_->data, data, size);
    const int sent = avcodec_send_packet(context_.get(), packet_.get());
    av_packet_unref(packet_.get());
    if (sent < 0) {
        error_ = "avcodec_send_packet: " + AvErrorText(sent);
        return false;
    }
    if (const int rc = avcodec_receive_frame(context_.get(), frame_.get()); rc < 0) {
        error_ = "avcodec_receive_frame: " + AvErrorText(rc);
        return false;
    }
    const AVFrame* f = frame_.get();
    if (f->format != AV_PIX_FMT_YUV420P) {
        error_ = "unexpected pixel format";
        av_frame_unref(frame_.get());
        return false;
    }
    picture.width = f->width;
    picture.height = f->height;
    picture.key_frame = f->key_frame != 0;
    CopyPlane(f->data[0], f->linesize[0], f->width, f->height, picture.y);
    CopyPlane(f->data[1], f->linesize[1], (f->width + 1) / 2, (f->height + 1) / 2, picture.u);
    CopyPlane(f->data[2], f->linesize[2], (f->width + 1) / 2, (f->height + 1) / 2, picture.v);
    av_frame_unref(frame_.get());
    return true;
}

bool Mpeg4TestDecoder::DecodePayload(const std::vector<std::uint8_t>& payload, DecodedPicture& picture) {
    if (payload.size() <= 4) {
        error_ = "payload holds no compressed frame";
        return false;
    }
    return Decode(payload.data() + 4, payload.size() - 4, picture);
}

std::vector<std::uint8_t> DecodedPicture::Rgb24() const {
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3);
    SwsContext* sws = sws_getContext(width, height, AV_PIX_FMT_YUV420P, width, height, AV_PIX_FMT_RGB24,
                                     SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (sws == nullptr) {
        throw std::runtime_error("libswscale cannot convert to RGB24");
    }
    const std::uint8_t* const planes[4] = {y.data(), u.data(), v.data(), nullptr};
    const int strides[4] = {width, (width + 1) / 2, (width + 1) / 2, 0};
    std::uint8_t* const out[4] = {rgb.data(), nullptr, nullptr, nullptr};
    const int out_strides[4] = {width * 3, 0, 0, 0};
    sws_scale(sws, planes, strides, 0, height, out, out_strides);
    sws_freeContext(sws);
    return rgb;
}

}  // namespace halvora::test
