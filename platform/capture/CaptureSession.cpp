#include "platform/capture/CaptureSession.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavdevice/avdevice.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
#include <libavutil/pixdesc.h>
}

#include <linux/videodev2.h>

#include <cctype>
#include <stdexcept>

#include "common/CLog.h"
#include "platform/capture/CaptureDecoder.h"
#include "platform/capture/CaptureMode.h"
#include "platform/capture/V4l2Device.h"

namespace halvora {

namespace {

constexpr std::string_view kLogPrefix = "TVideoCapture: ";
// How long the reader sleeps when a camera has no frame ready yet.
constexpr std::chrono::milliseconds kPollInterval{5};

void InitLibraries() {
    static std::once_flag once;
    std::call_once(once, [] {
        avdevice_register_all();
        // libavdevice and the decoders report to stderr by default; the failures
        // that matter reach our own log through return codes.
        av_log_set_level(AV_LOG_QUIET);
    });
}

std::string AvErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

std::string Upper(std::string text) {
    for (auto& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

// The mode text for what the input reports, named the way Video4Linux2 names it
// where we know the format.
std::string DescribeMode(const AVCodecParameters& par) {
    const PixelFormatInfo* info = nullptr;
    std::string fallback_name;
    int fallback_bits = 24;
    if (par.codec_id == AV_CODEC_ID_MJPEG) {
        info = FindPixelFormat(V4L2_PIX_FMT_MJPEG);
    } else if (par.codec_id == AV_CODEC_ID_RAWVIDEO) {
        const auto format = static_cast<AVPixelFormat>(par.format);
        const char* name = av_get_pix_fmt_name(format);
        if (name != nullptr) {
            info = FindPixelFormatByFfmpegName(name);
            fallback_name = Upper(name);
        }
        if (const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format)) {
            fallback_bits = av_get_bits_per_pixel(desc);
        }
    } else {
        fallback_name = Upper(avcodec_get_name(par.codec_id));
    }
    return info != nullptr ? ModeText(par.width, par.height, info->bits, info->name)
                           : ModeText(par.width, par.height, fallback_bits, fallback_name);
}

struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};

}  // namespace

void CaptureSession::FormatContextClose::operator()(AVFormatContext* c) const { avformat_close_input(&c); }

CaptureSession::CaptureSession(const VideoSource& source, Offer offer)
    : name_(source.name), offer_(std::move(offer)) {
    InitLibraries();
    const AVInputFormat* format = av_find_input_format(source.input_format.c_str());
    if (format == nullptr) {
        throw std::runtime_error("video input \"" + source.input_format + "\" is not available");
    }
    const bool camera = source.input_format == "v4l2";

    AVDictionary* options = nullptr;
    if (camera) {
        if (auto mode = ChooseCaptureMode(QueryCaptureModes(source.url))) {
            const std::string size = std::to_string(mode->width) + "x" + std::to_string(mode->height);
            av_dict_set(&options, "video_size", size.c_str(), 0);
            av_dict_set(&options, "input_format", FindPixelFormat(mode->fourcc)->ffmpeg_input, 0);
        }
    }
    AVFormatContext* context = avformat_alloc_context();
    if (context == nullptr) {
        av_dict_free(&options);
        throw std::bad_alloc();
    }
    if (camera) {
        // A camera that stalls must not keep the reader from seeing a stop.
        context->flags |= AVFMT_FLAG_NONBLOCK;
    }
    const int opened = avformat_open_input(&context, source.url.c_str(), format, &options);  // frees context on failure
    av_dict_free(&options);
    if (opened < 0) {
        throw std::runtime_error("cannot open video device \"" + name_ + "\": " + AvErrorText(opened));
    }
    input_.reset(context);

    stream_index_ = av_find_best_stream(context, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (stream_index_ < 0) {
        throw std::runtime_error("video device \"" + name_ + "\" gives no video stream");
    }
    const AVStream* stream = context->streams[stream_index_];
    decoder_ = std::make_unique<CaptureDecoder>(*stream->codecpar);
    time_base_ = av_q2d(stream->time_base);
    paced_ = !camera;
    mode_text_ = DescribeMode(*stream->codecpar);
}

CaptureSession::~CaptureSession() {
    {
        std::lock_guard guard(stop_mutex_);
        stop_ = true;
    }
    stop_wake_.notify_all();
    if (reader_.joinable()) {
        reader_.join();
    }
}

void CaptureSession::Start() {
    if (!reader_.joinable()) {
        reader_ = std::thread([this] { ReadLoop(); });
    }
}

void CaptureSession::SetPreview(bool wanted, std::chrono::milliseconds interval) {
    preview_interval_ms_ = interval.count();
    preview_wanted_ = wanted;
}

bool CaptureSession::WaitUntil(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(stop_mutex_);
    return !stop_wake_.wait_until(lock, deadline, [this] { return stop_; });
}

void CaptureSession::ReadLoop() {
    try {
        std::unique_ptr<AVPacket, PacketFree> packet(av_packet_alloc());
        if (!packet) {
            throw std::bad_alloc();
        }
        const auto start = std::chrono::steady_clock::now();
        std::int64_t first_pts = AV_NOPTS_VALUE;
        for (;;) {
            {
                std::lock_guard guard(stop_mutex_);
                if (stop_) {
                    return;
                }
            }
            const int read = av_read_frame(input_.get(), packet.get());
            if (read == AVERROR(EAGAIN)) {
                if (!WaitUntil(std::chrono::steady_clock::now() + kPollInterval)) {
                    return;
                }
                continue;
            }
            if (read < 0) {
                // Unplugged, or the driver gave up: nothing more will come.
                ended_ = true;
                LogError(kLogPrefix, "video device \"" + name_ + "\" stopped delivering frames: " + AvErrorText(read));
                return;
            }
            if (packet->stream_index != stream_index_) {
                av_packet_unref(packet.get());
                continue;
            }
            if (paced_ && packet->pts != AV_NOPTS_VALUE) {
                if (first_pts == AV_NOPTS_VALUE) {
                    first_pts = packet->pts;
                }
                const auto due = start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                             std::chrono::duration<double>((packet->pts - first_pts) * time_base_));
                if (!WaitUntil(due)) {
                    av_packet_unref(packet.get());
                    return;
                }
            }
            const bool decoded = decoder_->Decode(*packet);
            av_packet_unref(packet.get());
            if (decoded) {
                OfferPicture();
            }
        }
    } catch (const std::exception& e) {
        ended_ = true;
        LogError(kLogPrefix, "video device \"" + name_ + "\" failed: " + e.what());
    }
}

void CaptureSession::OfferPicture() {
    const auto now = std::chrono::steady_clock::now();
    const bool grab = grab_requested_.exchange(false);
    bool preview = false;
    if (preview_wanted_ && !preview_in_flight_ && now >= next_preview_) {
        preview = true;
        preview_in_flight_ = true;
        next_preview_ = now + std::chrono::milliseconds(preview_interval_ms_.load());
    }
    if (!grab && !preview) {
        return;
    }
    auto frame = std::make_shared<Bitmap>();
    frame->captured = now;
    try {
        decoder_->ToBitmap(*frame);
    } catch (const std::exception& e) {
        // Try again with the next frame; say so once, not 30 times a second.
        if (grab) {
            grab_requested_ = true;
        }
        if (preview) {
            preview_in_flight_ = false;
        }
        if (!conversion_failure_logged_) {
            conversion_failure_logged_ = true;
            LogError(kLogPrefix, "video device \"" + name_ + "\": " + e.what());
        }
        return;
    }
    offer_(std::move(frame), grab, preview);
}

}  // namespace halvora
