extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

#include "platform/capture/CaptureDecoder.h"
#include "tests/capture/CaptureTestSupport.h"

namespace halvora {
namespace {

using capturetest::GradientPicture;
using capturetest::MaxDifference;
using capturetest::Psnr;

struct ParametersFree {
    void operator()(AVCodecParameters* p) const { avcodec_parameters_free(&p); }
};
struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
using Parameters = std::unique_ptr<AVCodecParameters, ParametersFree>;
using Packet = std::unique_ptr<AVPacket, PacketFree>;

Parameters StreamParameters(AVCodecID codec, AVPixelFormat format, int width, int height,
                            AVColorRange range = AVCOL_RANGE_UNSPECIFIED) {
    Parameters par(avcodec_parameters_alloc());
    par->color_range = range;
    par->codec_type = AVMEDIA_TYPE_VIDEO;
    par->codec_id = codec;
    par->format = format;
    par->width = width;
    par->height = height;
    return par;
}

Packet MakePacket(const std::vector<std::uint8_t>& bytes) {
    Packet packet(av_packet_alloc());
    if (av_new_packet(packet.get(), static_cast<int>(bytes.size())) < 0) {
        throw std::bad_alloc();
    }
    std::memcpy(packet->data, bytes.data(), bytes.size());
    return packet;
}

std::uint8_t Clamp(double v) { return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L)); }

// BT.601 YUYV: each pair of pixels shares one chroma sample; bytes Y0 U Y1 V.
// Cameras mostly deliver studio range; some say they give full range.
template <bool kFullRange>
std::vector<std::uint8_t> PackYuyvRange(const Bitmap& picture) {
    std::vector<std::uint8_t> out;
    out.reserve(static_cast<std::size_t>(picture.width) * picture.height * 2);
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; x += 2) {
            double lum[2], u = 0, v = 0;
            for (int k = 0; k < 2; ++k) {
                const std::uint8_t* p = &picture.bgr[(static_cast<std::size_t>(y) * picture.width + x + k) * 3];
                const double b = p[0], g = p[1], r = p[2];
                if (kFullRange) {
                    lum[k] = 0.299 * r + 0.587 * g + 0.114 * b;
                    u += (128 - 0.168736 * r - 0.331264 * g + 0.5 * b) / 2;
                    v += (128 + 0.5 * r - 0.418688 * g - 0.081312 * b) / 2;
                } else {
                    lum[k] = 16 + 0.257 * r + 0.504 * g + 0.098 * b;
                    u += (128 - 0.148 * r - 0.291 * g + 0.439 * b) / 2;
                    v += (128 + 0.439 * r - 0.368 * g - 0.071 * b) / 2;
                }
            }
            out.insert(out.end(), {Clamp(lum[0]), Clamp(u), Clamp(lum[1]), Clamp(v)});
        }
    }
    return out;
}

std::vector<std::uint8_t> PackYuyv(const Bitmap& picture) { return PackYuyvRange<false>(picture); }

// A Motion-JPEG frame as a camera sends it: full-range 4:2:2, made by libavcodec's
// encoder from a hand-converted picture.
std::vector<std::uint8_t> EncodeMjpeg(const Bitmap& picture) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
    struct ContextFree {
        void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
    };
    struct FrameFree {
        void operator()(AVFrame* f) const { av_frame_free(&f); }
    };
    std::unique_ptr<AVCodecContext, ContextFree> enc(avcodec_alloc_context3(codec));
    enc->width = picture.width;
    enc->height = picture.height;
    enc->pix_fmt = AV_PIX_FMT_YUVJ422P;
    enc->time_base = {1, 30};
    enc->flags |= AV_CODEC_FLAG_QSCALE;
    enc->global_quality = FF_QP2LAMBDA * 2;
    if (avcodec_open2(enc.get(), codec, nullptr) < 0) {
        throw std::runtime_error("mjpeg encoder unavailable");
    }
    std::unique_ptr<AVFrame, FrameFree> frame(av_frame_alloc());
    frame->format = enc->pix_fmt;
    frame->width = picture.width;
    frame->height = picture.height;
    frame->quality = enc->global_quality;
    av_frame_get_buffer(frame.get(), 0);
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x) {
            const std::uint8_t* p = &picture.bgr[(static_cast<std::size_t>(y) * picture.width + x) * 3];
            const double b = p[0], g = p[1], r = p[2];
            frame->data[0][y * frame->linesize[0] + x] = Clamp(0.299 * r + 0.587 * g + 0.114 * b);
            if (x % 2 == 0) {
                frame->data[1][y * frame->linesize[1] + x / 2] = Clamp(128 - 0.168736 * r - 0.331264 * g + 0.5 * b);
                frame->data[2][y * frame->linesize[2] + x / 2] = Clamp(128 + 0.5 * r - 0.418688 * g - 0.081312 * b);
            }
        }
    }
    Packet packet(av_packet_alloc());
    if (avcodec_send_frame(enc.get(), frame.get()) < 0 || avcodec_receive_packet(enc.get(), packet.get()) < 0) {
        throw std::runtime_error("mjpeg encoding failed");
    }
    return std::vector<std::uint8_t>(packet->data, packet->data + packet->size);
}

struct ConversionCase {
    const char* name;
    AVCodecID codec;
    AVPixelFormat format;
    AVColorRange range;
    std::vector<std::uint8_t> (*make)(const Bitmap&);
    double min_psnr;
    int max_difference;
};

class CaptureDecoderConversion : public ::testing::TestWithParam<ConversionCase> {};

TEST_P(CaptureDecoderConversion, GivesBackTheSourcePicture) {
    const ConversionCase& c = GetParam();
    const Bitmap source = GradientPicture(64, 48);
    CaptureDecoder decoder(*StreamParameters(c.codec, c.format, source.width, source.height, c.range));
    ASSERT_FALSE(decoder.HasPicture());

    ASSERT_TRUE(decoder.Decode(*MakePacket(c.make(source))));
    Bitmap out;
    decoder.ToBitmap(out);
    ASSERT_EQ(out.width, source.width);
    ASSERT_EQ(out.height, source.height);
    ASSERT_EQ(out.bgr.size(), source.bgr.size());
    // Wrong colour order, swapped chroma or the wrong range lose tens of levels;
    // an honest conversion only rounding and subsampling.
    EXPECT_GE(Psnr(out.bgr, source.bgr), c.min_psnr);
    EXPECT_LE(MaxDifference(out.bgr, source.bgr), c.max_difference);
}

INSTANTIATE_TEST_SUITE_P(
    CameraFormats, CaptureDecoderConversion,
    ::testing::Values(
        ConversionCase{"Yuyv", AV_CODEC_ID_RAWVIDEO, AV_PIX_FMT_YUYV422, AVCOL_RANGE_UNSPECIFIED, PackYuyv, 40.0, 8},
        ConversionCase{"YuyvFullRange", AV_CODEC_ID_RAWVIDEO, AV_PIX_FMT_YUYV422, AVCOL_RANGE_JPEG,
                       PackYuyvRange<true>, 40.0, 8},
        ConversionCase{"Mjpeg", AV_CODEC_ID_MJPEG, AV_PIX_FMT_NONE, AVCOL_RANGE_UNSPECIFIED, EncodeMjpeg, 35.0, 16}),
    [](const ::testing::TestParamInfo<ConversionCase>& info) { return std::string(info.param.name); });

TEST(CaptureDecoder, KeepsOnlyTheLatestPicture) {
    const Bitmap first = capturetest::SolidPicture(32, 16, 200, 30, 30);
    const Bitmap second = capturetest::SolidPicture(32, 16, 30, 30, 200);
    CaptureDecoder decoder(*StreamParameters(AV_CODEC_ID_RAWVIDEO, AV_PIX_FMT_YUYV422, 32, 16));
    ASSERT_TRUE(decoder.Decode(*MakePacket(PackYuyv(first))));
    ASSERT_TRUE(decoder.Decode(*MakePacket(PackYuyv(second))));
    Bitmap out;
    decoder.ToBitmap(out);
    EXPECT_LE(MaxDifference(out.bgr, second.bgr), 4);
}

TEST(CaptureDecoder, TornFrameIsSkippedAndTheLastGoodOneKept) {
    const Bitmap good = GradientPicture(64, 48);
    CaptureDecoder decoder(*StreamParameters(AV_CODEC_ID_MJPEG, AV_PIX_FMT_NONE, 64, 48));
    ASSERT_TRUE(decoder.Decode(*MakePacket(EncodeMjpeg(good))));
    const std::vector<std::uint8_t> garbage(300, 0x5A);
    EXPECT_FALSE(decoder.Decode(*MakePacket(garbage)));
    Bitmap out;
    decoder.ToBitmap(out);
    EXPECT_GE(Psnr(out.bgr, good.bgr), 35.0);
}

TEST(CaptureDecoder, NothingToConvertBeforeTheFirstPicture) {
    CaptureDecoder decoder(*StreamParameters(AV_CODEC_ID_RAWVIDEO, AV_PIX_FMT_YUYV422, 32, 16));
    Bitmap out;
    EXPECT_THROW(decoder.ToBitmap(out), std::runtime_error);
}

}  // namespace
}  // namespace halvora
