#include "drivers/divxx/Mpeg4Encoder.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/error.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include "drivers/divxx/Mpeg4OutputFormat.h"

namespace halvora::divxx {
namespace {

// Added to the level of every message logged against our codec context. The
// rate control warns on every frame of a noisy picture at a low bitrate; this
// pushes such messages past any log level a process sets (the quietest, panic,
// is 0; the noisiest, trace, 56), without touching FFmpeg's process-wide log
// level or callback, which other users share. The log keeps only the low byte
// of a level, so every shifted level must stay below 256: fatal (8) lands on
// 198 and trace on 246.
constexpr int kLogLevelOffset = 190;

// The video buffer never grows past this (bits): it bounds the size of one frame.
constexpr std::int64_t kMaxRateBuffer = 480000;

std::string AvErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof(text));
    return text;
}

}  // namespace

void Mpeg4Encoder::CodecContextFree::operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
void Mpeg4Encoder::FrameFree::operator()(AVFrame* f) const { av_frame_free(&f); }
void Mpeg4Encoder::PacketFree::operator()(AVPacket* p) const { av_packet_free(&p); }
void Mpeg4Encoder::SwsFree::operator()(SwsContext* s) const { sws_freeContext(s); }

Mpeg4Encoder::Mpeg4Encoder(const Picture& picture, const EncoderSettings& settings)
    : picture_(picture), settings_(settings) {}

Mpeg4Encoder::~Mpeg4Encoder() = default;

std::unique_ptr<Mpeg4Encoder> Mpeg4Encoder::Create(const Picture& picture, const EncoderSettings& settings,
                                                   std::string& error) {
    const AVCodec* codec = avcodec_find_encoder_by_name("mpeg4");
    if (codec == nullptr) {
        error = "libavcodec has no mpeg4 encoder";
        return nullptr;
    }
    std::unique_ptr<Mpeg4Encoder> encoder(new Mpeg4Encoder(picture, settings));
    encoder->context_.reset(avcodec_alloc_context3(codec));
    encoder->frame_.reset(av_frame_alloc());
    encoder->packet_.reset(av_packet_alloc());
    if (!encoder->context_ || !encoder->frame_ || !encoder->packet_) {
        error = "out of memory";
        return nullptr;
    }

    // Settings measured to give a strict Simple Profile stream whose rate
    // control holds the bitrate (libavcodec 5.1); each one matters.
    AVCodecContext* c = encoder->context_.get();
    c->log_level_offset = kLogLevelOffset;
    c->width = picture.width;
    c->height = picture.height;
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->time_base = AVRational{1, static_cast<int>(kFramesPerSecond)};
    c->framerate = AVRational{static_cast<int>(kFramesPerSecond), 1};
    c->max_b_frames = 0;
    c->gop_size = settings.key_interval;
    c->bit_rate = settings.bitrate;
    // The default tolerance lets the stream overshoot the target about twice.
    c->bit_rate_tolerance = static_cast<int>(settings.bitrate);
    c->rc_max_rate = 2 * settings.bitrate;
    c->rc_buffer_size = static_cast<int>(std::min(2 * settings.bitrate, kMaxRateBuffer));
    c->qmin = 2;
    c->qmax = 31;
    c->thread_count = 1;
    // Four motion vectors per macroblock and AC prediction are Simple Profile
    // tools; quarter-pel, GMC, interlacing and a global header are not used, so
    // every key frame carries the stream headers.
    c->flags |= AV_CODEC_FLAG_4MV | AV_CODEC_FLAG_AC_PRED;
    c->flags &= ~(AV_CODEC_FLAG_QPEL | AV_CODEC_FLAG_GLOBAL_HEADER | AV_CODEC_FLAG_INTERLACED_DCT |
                  AV_CODEC_FLAG_INTERLACED_ME);

    // No resync markers or data partitions (ps 0, data_partitioning 0) and
    // H.263 quantisation (mpeg_quant 0).
    for (const char* option : {"ps", "data_partitioning", "mpeg_quant"}) {
        if (const int rc = av_opt_set_int(c->priv_data, option, 0, 0); rc < 0) {
            error = std::string("mpeg4 option ") + option + ": " + AvErrorText(rc);
            return nullptr;
        }
    }
    if (const int rc = avcodec_open2(c, codec, nullptr); rc < 0) {
        error = "cannot open the mpeg4 encoder: " + AvErrorText(rc);
        return nullptr;
    }

    AVFrame* f = encoder->frame_.get();
    f->format = AV_PIX_FMT_YUV420P;
    f->width = picture.width;
    f->height = picture.height;
    if (const int rc = av_frame_get_buffer(f, 0); rc < 0) {
        error = "cannot allocate a picture: " + AvErrorText(rc);
        return nullptr;
    }
    // Same size in and out: libswscale takes its unscaled BGR24 to 4:2:0 path.
    encoder->scaler_.reset(sws_getContext(picture.width, picture.height, AV_PIX_FMT_BGR24, picture.width,
                                          picture.height, AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr,
                                          nullptr, nullptr));
    if (!encoder->scaler_) {
        error = "libswscale cannot convert BGR24 to YUV 4:2:0 at this size";
        return nullptr;
    }
    return encoder;
}

Mpeg4Encoder::Result Mpeg4Encoder::Encode(const std::uint8_t* bgr, bool force_key_frame, std::uint8_t* out,
                                          std::size_t capacity, std::size_t& written, bool& key_frame) {
    AVFrame* f = frame_.get();
    // The encoder may still hold a reference to the previous picture's buffer.
    if (av_frame_make_writable(f) < 0) {
        return Result::kFailed;
    }
    // A bottom-up picture is read from its last row with a negative stride, so
    // the encoder sees it the right way up.
    const std::uint8_t* source = picture_.bottom_up ? bgr + (picture_.height - 1) * picture_.row_bytes : bgr;
    const int stride = static_cast<int>(picture_.bottom_up ? -picture_.row_bytes : picture_.row_bytes);
    const std::uint8_t* const planes[4] = {source, nullptr, nullptr, nullptr};
    const int strides[4] = {stride, 0, 0, 0};
    if (sws_scale(scaler_.get(), planes, strides, 0, picture_.height, f->data, f->linesize) != picture_.height) {
        return Result::kFailed;
    }
    f->pts = next_pts_++;
    f->pict_type = force_key_frame ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;

    AVCodecContext* c = context_.get();
    AVPacket* p = packet_.get();
    if (avcodec_send_frame(c, f) < 0) {
        return Result::kFailed;
    }
    // Without B-frames or frame threads the encoder has no delay: the packet for
    // this picture is ready now.
    if (avcodec_receive_packet(c, p) < 0) {
        return Result::kFailed;
    }
    struct Unref {
        AVPacket* p;
        ~Unref() { av_packet_unref(p); }
    } unref{p};
    if (p->size <= 0) {
        return Result::kFailed;
    }
    if (static_cast<std::size_t>(p->size) > capacity) {
        return Result::kTooSmall;
    }
    std::memcpy(out, p->data, static_cast<std::size_t>(p->size));
    written = static_cast<std::size_t>(p->size);
    key_frame = (p->flags & AV_PKT_FLAG_KEY) != 0;
    return Result::kOk;
}

}  // namespace halvora::divxx
