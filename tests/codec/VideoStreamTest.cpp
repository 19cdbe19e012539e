// The stream the program sends: divxx.so behind the video compressor, as
// fennick sets it up, fed a moving camera-like picture.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/ProcessClock.h"
#include "media/VideoCompressor.h"
#include "tests/support/CodecTestEnvironment.h"
#include "tests/support/Mpeg4TestDecoder.h"
#include "tests/support/ScopedTempFolder.h"
#include "tests/support/TestPicture.h"

namespace halvora {
namespace {

using test::DecodedPicture;
using test::Mpeg4TestDecoder;

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr double kFramesPerSecond = 8.0;
// A webcam's sensor noise: without it the scene is so clean that the encoder
// reaches its finest quantiser below 100 kbit/s and cannot spend a higher target.
constexpr int kCameraNoise = 2;

// One delivered frame and what the test knew when it was made.
struct Delivered {
    std::vector<std::uint8_t> payload;
    bool key = false;
    int picture = 0;                 // index of the test picture that went in
    std::int32_t frame_number = 0;   // FrameNumber before the call
    std::uint32_t compressed_size = 0;
    std::uint32_t clock_before = 0;
    std::uint32_t clock_after = 0;

    const std::uint8_t* Compressed() const { return payload.data() + 4; }
    std::size_t CompressedBytes() const { return payload.size() - 4; }
};

// The coding type of the first video object plane in a compressed frame:
// 0 intra, 1 predicted, 2 bidirectional, 3 sprite; -1 when there is none.
int VopCodingType(const Delivered& d) {
    const std::uint8_t* p = d.Compressed();
    for (std::size_t i = 0; i + 4 < d.CompressedBytes(); ++i) {
        if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1 && p[i + 3] == 0xB6) {
            return p[i + 4] >> 6;
        }
    }
    return -1;
}

class VideoStreamTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(env_.RunFennick().exit_code, 0); }

    // Compresses pictures [first, first + count) with an open compressor.
    std::vector<Delivered> Compress(VideoCompressor& compressor, int first, int count, int noise = kCameraNoise) {
        std::vector<Delivered> frames;
        for (int i = first; i < first + count; ++i) {
            const auto picture = test::MakeTestPicture(i, kWidth, kHeight, noise);
            Delivered d;
            d.picture = i;
            d.frame_number = compressor.FrameNumber();
            d.clock_before = ProcessClockMs();
            const bool delivered = compressor.CompressFrame(picture.data(), [&](const VideoPayload& p) {
                d.payload = p.bytes;
                d.key = p.key_flag != 0;
            });
            d.clock_after = ProcessClockMs();
            EXPECT_TRUE(delivered) << "picture " << i;
            if (!delivered) {
                break;
            }
            d.compressed_size = compressor.CompressedSize();
            frames.push_back(std::move(d));
        }
        return frames;
    }

    // A whole run at one setting, as the program makes it after start-up.
    std::vector<Delivered> Run(std::uint32_t bitrate, int count, int noise = kCameraNoise,
                               std::uint32_t key_interval = 10) {
        env_.SetCodecValue("Bitrate", bitrate);
        env_.SetCodecValue("Max Keyframe Interval", key_interval);
        VideoCompressor compressor;
        EXPECT_TRUE(compressor.OpenVideoCodec());
        return Compress(compressor, 0, count, noise);
    }

    test::CodecTestEnvironment env_;
};

TEST_F(VideoStreamTest, PayloadIsTheStampThenTheCompressedFrame) {
    const auto frames = Run(20000, 80);
    ASSERT_EQ(frames.size(), 80u);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const Delivered& d = frames[i];
        EXPECT_EQ(d.frame_number, static_cast<std::int32_t>(i));
        ASSERT_GT(d.compressed_size, 0u);
        EXPECT_EQ(d.payload.size(), d.compressed_size + 4) << "frame " << i;
        const std::uint32_t stamp = GetLe32(d.payload.data());
        EXPECT_GE(stamp, d.clock_before + i % 100) << "frame " << i;
        EXPECT_LE(stamp, d.clock_after + i % 100) << "frame " << i;
    }
}

// The stream is MPEG-4 Simple Profile: only intra and predicted planes, and
// the stream headers (visual object sequence, profile and level) in front of
// every key frame, so a viewer may join at any of them.
TEST_F(VideoStreamTest, IsSimpleProfileWithHeadersOnEveryKeyFrame) {
    const auto frames = Run(100000, 24);
    ASSERT_EQ(frames.size(), 24u);
    for (const Delivered& d : frames) {
        const int type = VopCodingType(d);
        EXPECT_TRUE(type == 0 || type == 1) << "frame " << d.picture << " has coding type " << type;
        EXPECT_EQ(d.key, type == 0) << "frame " << d.picture;
        const std::uint8_t* c = d.Compressed();
        const bool has_headers = d.CompressedBytes() > 5 && c[0] == 0 && c[1] == 0 && c[2] == 1 && c[3] == 0xB0;
        EXPECT_EQ(has_headers, d.key) << "frame " << d.picture;
        if (has_headers) {
            // profile_and_level_indication: Simple Profile levels 0 to 3.
            EXPECT_TRUE(c[4] == 0x08 || (c[4] >= 0x01 && c[4] <= 0x03))
                << "profile and level 0x" << std::hex << int{c[4]};
        }
    }
}

class VideoStreamKeyIntervalTest : public VideoStreamTest, public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(VideoStreamKeyIntervalTest, FirstFrameIsKeyAndNoRunIsLongerThanTheInterval) {
    const std::uint32_t interval = GetParam();
    const auto frames = Run(20000, 80, kCameraNoise, interval);
    ASSERT_EQ(frames.size(), 80u);
    EXPECT_TRUE(frames[0].key);
    std::size_t since_key = 0;  // frames since the last key frame, itself included
    for (const Delivered& d : frames) {
        since_key = d.key ? 1 : since_key + 1;
        ASSERT_LE(since_key, interval) << "frame " << d.picture;
    }
}

INSTANTIATE_TEST_SUITE_P(Intervals, VideoStreamKeyIntervalTest, ::testing::Values(10u, 4u, 1u));

struct QualityCase {
    std::uint32_t bitrate;
    double min_psnr;  // dB, every frame, luma
};

void PrintTo(const QualityCase& c, std::ostream* os) { *os << c.bitrate << " bit/s, " << c.min_psnr << " dB"; }

class VideoStreamQualityTest : public VideoStreamTest, public ::testing::WithParamInterface<QualityCase> {};

// Decoded by libavcodec (strict about the bitstream), every frame is close to
// the picture that went in, the right way up (the input rows are bottom-up).
TEST_P(VideoStreamQualityTest, EveryFrameDecodesCloseToTheInput) {
    const auto frames = Run(GetParam().bitrate, 80);
    ASSERT_EQ(frames.size(), 80u);
    Mpeg4TestDecoder decoder;
    for (const Delivered& d : frames) {
        DecodedPicture picture;
        ASSERT_TRUE(decoder.DecodePayload(d.payload, picture)) << "frame " << d.picture << ": " << decoder.LastError();
        ASSERT_EQ(picture.width, kWidth);
        ASSERT_EQ(picture.height, kHeight);
        EXPECT_EQ(picture.key_frame, d.key) << "frame " << d.picture;
        const auto input = test::MakeTestPicture(d.picture, kWidth, kHeight, kCameraNoise);
        EXPECT_GE(test::Psnr(picture.y, test::LumaOfBottomUpBgr(input.data(), kWidth, kHeight)), GetParam().min_psnr)
            << "frame " << d.picture;
    }
}

INSTANTIATE_TEST_SUITE_P(Bitrates, VideoStreamQualityTest,
                         ::testing::Values(QualityCase{20000, 30.0}, QualityCase{100000, 40.0}),
                         [](const ::testing::TestParamInfo<QualityCase>& info) {
                             return std::to_string(info.param.bitrate);
                         });

TEST_F(VideoStreamTest, DecoderMayStartAtAnyKeyFrame) {
    const auto frames = Run(20000, 80);
    ASSERT_EQ(frames.size(), 80u);
    std::vector<std::vector<std::uint8_t>> reference;  // luma from a decoder that saw everything
    Mpeg4TestDecoder full;
    for (const Delivered& d : frames) {
        DecodedPicture picture;
        ASSERT_TRUE(full.DecodePayload(d.payload, picture)) << full.LastError();
        reference.push_back(picture.y);
    }
    int starts = 0;
    for (std::size_t start = 1; start < frames.size(); ++start) {
        if (!frames[start].key) {
            continue;
        }
        ++starts;
        Mpeg4TestDecoder late;
        for (std::size_t i = start; i < frames.size(); ++i) {
            DecodedPicture picture;
            ASSERT_TRUE(late.DecodePayload(frames[i].payload, picture))
                << "joined at " << start << ", frame " << i << ": " << late.LastError();
            ASSERT_EQ(picture.y, reference[i]) << "joined at " << start << ", frame " << i;
        }
    }
    EXPECT_GE(starts, 7) << "80 frames at interval 10 hold at least 8 key frames";
}

struct RateCase {
    std::uint32_t bitrate;
    int noise;  // enough detail for the encoder to spend the target
};

void PrintTo(const RateCase& c, std::ostream* os) { *os << c.bitrate << " bit/s, noise " << c.noise; }

class VideoStreamRateTest : public VideoStreamTest, public ::testing::WithParamInterface<RateCase> {};

TEST_P(VideoStreamRateTest, AverageBitrateIsWithinThirtyPercentOfTheTarget) {
    const auto frames = Run(GetParam().bitrate, 80, GetParam().noise);
    ASSERT_EQ(frames.size(), 80u);
    std::size_t bytes = 0;
    for (const Delivered& d : frames) {
        bytes += d.CompressedBytes();
    }
    const double bits_per_second = bytes * 8.0 / (frames.size() / kFramesPerSecond);
    EXPECT_GE(bits_per_second, 0.7 * GetParam().bitrate);
    EXPECT_LE(bits_per_second, 1.3 * GetParam().bitrate);
}

INSTANTIATE_TEST_SUITE_P(Targets, VideoStreamRateTest,
                         ::testing::Values(RateCase{30000, kCameraNoise}, RateCase{100000, kCameraNoise},
                                           RateCase{300000, 4}, RateCase{800000, 10}),
                         [](const ::testing::TestParamInfo<RateCase>& info) {
                             return std::to_string(info.param.bitrate);
                         });

// The Options dialog's restart: the codec is closed, the new bitrate written,
// the codec opened and begun again with the same formats.
TEST_F(VideoStreamTest, RestartTakesTheNewBitrateAndKeepsCounting) {
    env_.SetCodecValue("Bitrate", 20000);
    VideoCompressor compressor;
    ASSERT_TRUE(compressor.OpenVideoCodec());
    auto frames = Compress(compressor, 0, 40);

    compressor.RestartVideoCodecClose();
    env_.SetCodecValue("Bitrate", 100000);
    ASSERT_TRUE(compressor.RestartVideoCodecOpen());
    const auto after = Compress(compressor, 40, 40);
    ASSERT_EQ(frames.size(), 40u);
    ASSERT_EQ(after.size(), 40u);
    EXPECT_TRUE(after.front().key) << "a new run starts with a key frame";
    frames.insert(frames.end(), after.begin(), after.end());

    std::size_t bytes_before = 0;
    std::size_t bytes_after = 0;
    Mpeg4TestDecoder decoder;  // one viewer across the restart
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const Delivered& d = frames[i];
        EXPECT_EQ(d.frame_number, static_cast<std::int32_t>(i));
        const std::uint32_t stamp = GetLe32(d.payload.data());
        EXPECT_GE(stamp, d.clock_before + i % 100);
        EXPECT_LE(stamp, d.clock_after + i % 100);
        DecodedPicture picture;
        ASSERT_TRUE(decoder.DecodePayload(d.payload, picture)) << "frame " << i << ": " << decoder.LastError();
        (i < 40 ? bytes_before : bytes_after) += d.CompressedBytes();
    }
    // 20 kbit/s against 100 kbit/s: the frames grow about five times.
    EXPECT_GT(bytes_after, 3 * bytes_before);
    EXPECT_EQ(compressor.FrameNumber(), 80);
}

// libavcodec's rate control complains on every frame of a noisy picture at the
// lowest bitrate the Options dialog offers (1 kbit/s); none of it may reach the
// program's terminal.
TEST_F(VideoStreamTest, EncodingWritesNothingToTheTerminal) {
    const test::ScopedTempFolder folder;
    const auto captured = folder.Path() / "stderr";
    const int saved = dup(STDERR_FILENO);
    const int file = open(captured.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(saved, 0);
    ASSERT_GE(file, 0);
    dup2(file, STDERR_FILENO);
    close(file);
    const auto frames = Run(1000, 20, 10);
    dup2(saved, STDERR_FILENO);
    close(saved);
    EXPECT_EQ(frames.size(), 20u);
    std::ifstream in(captured, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EXPECT_EQ(text, "");
}

}  // namespace
}  // namespace halvora
