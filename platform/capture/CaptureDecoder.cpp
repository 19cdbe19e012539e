#include "platform/capture/CaptureDecoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <stdexcept>
#include <string>

namespace halvora {

void CaptureDecoder::CodecContextFree::operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
void CaptureDecoder::FrameFree::operator()(AVFrame* f) const { av_frame_free(&f); }
void CaptureDecoder::ScalerFree::operator()(SwsContext* s) const { sws_freeContext(s); }

CaptureDecoder::CaptureDecoder(const AVCodecParameters& params)
    : latest_(av_frame_alloc()), incoming_(av_frame_alloc()) {
    const AVCodec* codec = avcodec_find_decoder(params.codec_id);
    if (codec == nullptr) {
        throw std::runtime_error(std::string("no decoder for ") + avcodec_get_name(params.codec_id));
    }
    codec_.reset(avcodec_alloc_context3(codec));
    if (!codec_ || !latest_ || !incoming_ || avcodec_parameters_to_context(codec_.get(), &params) < 0) {
        throw std::runtime_error("cannot set up the decoder");
    }
    // Frame threads would only add a frame of delay and threads we do not own.
    codec_->thread_count = 1;
    if (avcodec_open2(codec_.get(), codec, nullptr) < 0) {
        throw std::runtime_error(std::string("cannot open the decoder for ") + codec->name);
    }
}

CaptureDecoder::~CaptureDecoder() = default;

bool CaptureDecoder::Decode(const AVPacket& packet) {
    if (avcodec_send_packet(codec_.get(), &packet) < 0) {
        return false;
    }
    bool got = false;
    while (avcodec_receive_frame(codec_.get(), incoming_.get()) == 0) {
        av_frame_unref(latest_.get());
        av_frame_move_ref(latest_.get(), incoming_.get());
        got = true;
    }
    has_picture_ = has_picture_ || got;
    return got;
}

bool CaptureDecoder::HasPicture() const { return has_picture_; }

void CaptureDecoder::ToBitmap(Bitmap& out) {
    if (!has_picture_) {
        throw std::runtime_error("no picture decoded yet");
    }
    const AVFrame& f = *latest_;
    const auto format = static_cast<AVPixelFormat>(f.format);
    if (f.width <= 0 || f.height <= 0) {
        throw std::runtime_error("decoded picture has no size");
    }
    // Full chroma interpolation keeps colour edges where the camera put them;
    // at the sizes involved its cost does not matter.
    const int flags = SWS_BILINEAR | SWS_FULL_CHR_H_INT | SWS_FULL_CHR_H_INP | SWS_ACCURATE_RND;
    SwsContext* s = sws_getCachedContext(scaler_.release(), f.width, f.height, format, f.width, f.height,
                                         AV_PIX_FMT_BGR24, flags, nullptr, nullptr, nullptr);
    scaler_.reset(s);
    if (s == nullptr) {
        const char* name = av_get_pix_fmt_name(format);
        throw std::runtime_error(std::string("cannot convert pixel format ") + (name ? name : "?"));
    }
    if (f.color_range == AVCOL_RANGE_JPEG) {
        // Motion-JPEG and some cameras give full-range YUV; the studio-range
        // default would wash the picture out.
        int* inv_table = nullptr;
        int* table = nullptr;
        int src_range = 0, dst_range = 0, brightness = 0, contrast = 0, saturation = 0;
        if (sws_getColorspaceDetails(s, &inv_table, &src_range, &table, &dst_range, &brightness, &contrast,
                                     &saturation) >= 0 &&
            src_range != 1) {
            sws_setColorspaceDetails(s, inv_table, 1, table, dst_range, brightness, contrast, saturation);
        }
    }

    out.width = f.width;
    out.height = f.height;
    out.bgr.resize(static_cast<std::size_t>(f.width) * f.height * 3);
    std::uint8_t* dst[4] = {out.bgr.data(), nullptr, nullptr, nullptr};
    const int dst_stride[4] = {f.width * 3, 0, 0, 0};
    if (sws_scale(s, f.data, f.linesize, 0, f.height, dst, dst_stride) != f.height) {
        throw std::runtime_error("picture conversion failed");
    }
}

}  // namespace halvora
