#include <algorithm>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "common/ProcessClock.h"
#include "media/COggEncoder.h"
#include "media/CWaveIn.h"
#include "tests/support/OggDemuxer.h"
#include "tests/support/OggToneCheck.h"
#include "tests/support/OggVorbisDecoder.h"

namespace halvora {
namespace {

using test::DecodeStampedOgg;
using test::DecodedStream;
using test::OggDemuxer;
using test::OggPacketData;
using test::VorbisPacketType;

constexpr int kRate = 8000;
constexpr std::size_t kFramesPerBuffer = 1382;  // one captured buffer
constexpr double kToneHz = 440.0;
constexpr double kToneAmplitude = 0.25;
// Frames the decoder needs before its output is steady.
constexpr std::size_t kDecoderStartFrames = 2048;

std::vector<std::uint8_t> ToneBuffers(int buffers, std::vector<double> freqs = {kToneHz},
                                      int bits = 16) {
    const std::size_t frames = kFramesPerBuffer * static_cast<std::size_t>(buffers);
    return bits == 8 ? test::MakeTonePcm8(frames, kRate, freqs, kToneAmplitude)
                     : test::MakeTonePcm16(frames, kRate, freqs, kToneAmplitude);
}

std::vector<VorbisPacketType> TypesOf(const std::vector<std::uint8_t>& pages) {
    OggDemuxer demuxer;
    demuxer.Feed(pages);
    std::vector<VorbisPacketType> types;
    for (const OggPacketData& p : demuxer.TakePackets()) {
        const auto stamped = test::SplitStamp(p.bytes);
        types.push_back(stamped ? test::VorbisTypeOf(stamped->vorbis)
                                : VorbisPacketType::Invalid);
    }
    return types;
}

// Drives an encoder the way the media pump does and keeps every byte it emits.
class OggEncoderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(encoder_.Init(1, kRate, COggEncoder::kBroadcastQuality, 16));
    }

    // The audio path: Encode and a flushing TakePages under the encoder lock.
    std::vector<std::uint8_t> Capture(const std::uint8_t* data, std::uint32_t bytes) {
        std::vector<std::uint8_t> pages;
        std::lock_guard guard(encoder_);
        EXPECT_TRUE(encoder_.Encode(data, bytes));
        encoder_.TakePages(true, pages);
        stream_.insert(stream_.end(), pages.begin(), pages.end());
        return pages;
    }

    // Feeds `pcm` in captured-buffer slices of `slice` bytes.
    void CaptureAll(const std::vector<std::uint8_t>& pcm, std::size_t slice) {
        for (std::size_t at = 0; at + slice <= pcm.size(); at += slice) {
            Capture(pcm.data() + at, static_cast<std::uint32_t>(slice));
        }
    }

    // The header step: WriteHeaders and TakePages under the encoder lock.
    std::vector<std::uint8_t> HeaderStep(bool flush) {
        std::vector<std::uint8_t> pages;
        std::lock_guard guard(encoder_);
        EXPECT_TRUE(encoder_.WriteHeaders());
        encoder_.TakePages(flush, pages);
        stream_.insert(stream_.end(), pages.begin(), pages.end());
        return pages;
    }

    COggEncoder encoder_;
    std::vector<std::uint8_t> stream_;  // everything taken out so far, in order
};

// --- The tone comes back -----------------------------------------------------

struct RoundTripCase {
    const char* name;
    int channels;
    int bits;
    std::vector<double> freqs;  // one per channel
};

void PrintTo(const RoundTripCase& c, std::ostream* os) { *os << c.name; }

class OggEncoderRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(OggEncoderRoundTrip, ToneComesBack) {
    const RoundTripCase& c = GetParam();
    COggEncoder encoder;
    ASSERT_TRUE(encoder.Init(c.channels, kRate, COggEncoder::kBroadcastQuality, c.bits));
    std::vector<std::uint8_t> stream;
    std::vector<std::uint8_t> pages;
    encoder.WriteHeaders();
    encoder.TakePages(true, pages);
    stream.insert(stream.end(), pages.begin(), pages.end());

    const std::vector<std::uint8_t> pcm = ToneBuffers(40, c.freqs, c.bits);
    const std::size_t slice = kFramesPerBuffer * c.channels * (c.bits / 8);
    for (std::size_t at = 0; at + slice <= pcm.size(); at += slice) {
        ASSERT_TRUE(encoder.Encode(pcm.data() + at, static_cast<std::uint32_t>(slice)));
        encoder.TakePages(true, pages);
        stream.insert(stream.end(), pages.begin(), pages.end());
    }

    const DecodedStream decoded = DecodeStampedOgg(stream);
    ASSERT_EQ(decoded.channels, c.channels);
    ASSERT_EQ(decoded.rate, kRate);
    EXPECT_EQ(decoded.refused, 0);
    // Nearly all of the sound fed in, less what the encoder still holds back.
    EXPECT_GT(decoded.pcm.size(), (pcm.size() / (c.bits / 8)) * 3 / 4);
    for (int ch = 0; ch < c.channels; ++ch) {
        const auto m = test::MeasureTone(decoded.pcm, c.channels, ch, kRate, c.freqs[ch],
                                                kDecoderStartFrames);
        SCOPED_TRACE(testing::Message() << "channel " << ch);
        EXPECT_NEAR(m.zero_crossing_hz, c.freqs[ch], c.freqs[ch] * 0.01);
        EXPECT_NEAR(m.amplitude, kToneAmplitude, kToneAmplitude * 0.2);
        EXPECT_GT(m.snr_db, 15.0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, OggEncoderRoundTrip,
    ::testing::Values(RoundTripCase{"Mono16", 1, 16, {kToneHz}},
                      RoundTripCase{"Mono8", 1, 8, {kToneHz}},
                      RoundTripCase{"Stereo16", 2, 16, {kToneHz, 660.0}}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Stream layout -----------------------------------------------------------

TEST_F(OggEncoderTest, StreamStartsWithHeadersAndEveryPacketIsStamped) {
    struct Step {
        std::uint32_t before, after;
        std::vector<std::uint8_t> pages;
    };
    std::vector<Step> steps;
    const auto pcm = ToneBuffers(12);
    const std::uint32_t bytes = kFramesPerBuffer * 2;
    {
        const std::uint32_t before = ProcessClockMs();
        auto pages = HeaderStep(true);
        steps.push_back({before, ProcessClockMs(), std::move(pages)});
    }
    for (std::size_t at = 0; at + bytes <= pcm.size(); at += bytes) {
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
        const std::uint32_t before = ProcessClockMs();
        auto pages = Capture(pcm.data() + at, bytes);
        steps.push_back({before, ProcessClockMs(), std::move(pages)});
    }

    // Each packet carries the clock of the moment it was made.
    OggDemuxer demuxer;
    std::vector<std::uint32_t> stamps;
    for (const Step& step : steps) {
        demuxer.Feed(step.pages);
        for (const OggPacketData& p : demuxer.TakePackets()) {
            const auto stamped = test::SplitStamp(p.bytes);
            ASSERT_TRUE(stamped.has_value());
            EXPECT_GE(stamped->stamp, step.before);
            EXPECT_LE(stamped->stamp, step.after);
            stamps.push_back(stamped->stamp);
        }
    }
    ASSERT_GT(stamps.size(), 6u);
    EXPECT_TRUE(std::is_sorted(stamps.begin(), stamps.end()));
    EXPECT_LT(stamps.front(), stamps.back());
    ASSERT_TRUE(demuxer.Serial().has_value());
    EXPECT_GE(*demuxer.Serial(), 0);
    EXPECT_LE(*demuxer.Serial(), 32767);
    EXPECT_EQ(demuxer.Holes(), 0);
    EXPECT_EQ(demuxer.SkippedBytes(), 0);

    // The first page is the stream's beginning and holds the identification
    // header alone.
    ASSERT_FALSE(demuxer.Pages().empty());
    EXPECT_TRUE(demuxer.Pages()[0].bos);
    EXPECT_EQ(demuxer.Pages()[0].packets_completed, 1);

    const DecodedStream decoded = DecodeStampedOgg(stream_);
    ASSERT_GE(decoded.types.size(), 4u);
    EXPECT_EQ(decoded.types[0], VorbisPacketType::Identification);
    EXPECT_EQ(decoded.types[1], VorbisPacketType::Comment);
    EXPECT_EQ(decoded.types[2], VorbisPacketType::Setup);
    for (std::size_t i = 3; i < decoded.types.size(); ++i) {
        EXPECT_EQ(decoded.types[i], VorbisPacketType::Audio) << "packet " << i;
    }
    EXPECT_EQ(decoded.refused, 0);
    EXPECT_EQ(decoded.comments, std::vector<std::string>{"ENCODER=Zentravis Pellamor @"});
    EXPECT_FALSE(decoded.vendor.empty());
}

TEST_F(OggEncoderTest, FlushRightAfterHeadersGivesAllThree) {
    const auto pages = HeaderStep(true);
    EXPECT_EQ(TypesOf(pages),
              (std::vector<VorbisPacketType>{VorbisPacketType::Identification,
                                             VorbisPacketType::Comment,
                                             VorbisPacketType::Setup}));
    std::vector<std::uint8_t> more;
    EXPECT_FALSE(encoder_.TakePages(true, more));
}

// Before any page has left the stream, page-out forces out the first page,
// which holds the identification header alone; the header step relies on it
// when no sound is captured.
TEST_F(OggEncoderTest, FirstPageOutHoldsIdentificationAlone) {
    const auto pages = HeaderStep(false);
    EXPECT_EQ(TypesOf(pages), std::vector<VorbisPacketType>{VorbisPacketType::Identification});
}

TEST_F(OggEncoderTest, TakePagesReplacesOutput) {
    HeaderStep(true);
    std::vector<std::uint8_t> out{1, 2, 3};
    EXPECT_FALSE(encoder_.TakePages(true, out));
    EXPECT_TRUE(out.empty());
}

// --- Input conversion --------------------------------------------------------

// Vorbis packets only (stamps dropped), for comparing two encodings.
std::vector<std::vector<std::uint8_t>> VorbisPackets(const std::vector<std::uint8_t>& stream) {
    OggDemuxer demuxer;
    demuxer.Feed(stream);
    std::vector<std::vector<std::uint8_t>> out;
    for (const OggPacketData& p : demuxer.TakePackets()) {
        out.push_back(test::SplitStamp(p.bytes).value().vorbis);
    }
    return out;
}

// A captured buffer of 2765 bytes holds 1382 samples and one stray byte; the
// stray byte must neither become a sample nor shift the ones after it.
TEST(OggEncoder, OddTrailingByteIsIgnored) {
    const auto pcm = ToneBuffers(20);
    const std::uint32_t whole = kFramesPerBuffer * 2;
    std::vector<std::uint8_t> buffer(whole + 1);
    std::vector<std::uint8_t> pages;

    auto encode = [&](std::uint32_t bytes) {
        COggEncoder encoder;
        EXPECT_TRUE(encoder.Init(1, kRate, COggEncoder::kBroadcastQuality, 16));
        std::vector<std::uint8_t> stream;
        encoder.WriteHeaders();
        for (std::size_t at = 0; at + whole <= pcm.size(); at += whole) {
            std::copy_n(pcm.begin() + static_cast<long>(at), whole, buffer.begin());
            buffer[whole] = 0x7F;
            EXPECT_TRUE(encoder.Encode(buffer.data(), bytes));
            encoder.TakePages(true, pages);
            stream.insert(stream.end(), pages.begin(), pages.end());
        }
        return stream;
    };
    const auto even = VorbisPackets(encode(whole));
    const auto odd = VorbisPackets(encode(whole + 1));
    ASSERT_GT(even.size(), 10u);
    EXPECT_EQ(even, odd);
}

// 2764 bytes of 16-bit mono are 1382 samples: the granule position (samples
// out so far) trails the samples fed in by less than the encoder's look-ahead.
TEST_F(OggEncoderTest, BufferOf2764BytesIs1382Samples) {
    constexpr int kBuffers = 30;
    CaptureAll(ToneBuffers(kBuffers), kFramesPerBuffer * 2);
    OggDemuxer demuxer;
    demuxer.Feed(stream_);
    std::int64_t last_granule = -1;
    for (const OggPacketData& p : demuxer.TakePackets()) {
        if (p.granulepos >= 0) last_granule = p.granulepos;
    }
    const std::int64_t fed = static_cast<std::int64_t>(kFramesPerBuffer) * kBuffers;
    EXPECT_LE(last_granule, fed);
    EXPECT_GT(last_granule, fed - 2 * static_cast<std::int64_t>(kFramesPerBuffer));
}

TEST(OggEncoder, OtherSampleWidthsAreRefusedAndLeaveTheStreamAlone) {
    const auto pcm = ToneBuffers(20);
    for (int bits : {0, 4, 12, 24, 32}) {
        SCOPED_TRACE(testing::Message() << bits << " bits");
        COggEncoder encoder;
        ASSERT_TRUE(encoder.Init(1, kRate, COggEncoder::kBroadcastQuality, bits));
        std::vector<std::uint8_t> pages;
        encoder.WriteHeaders();
        encoder.TakePages(true, pages);
        for (int i = 0; i < 20; ++i) {
            EXPECT_FALSE(encoder.Encode(pcm.data() + i * 2764, 2764));
        }
        EXPECT_FALSE(encoder.TakePages(true, pages));
        EXPECT_TRUE(pages.empty());
    }
}

TEST(OggEncoder, FewerBytesThanOneFrameDoNothing) {
    COggEncoder encoder;
    ASSERT_TRUE(encoder.Init(2, kRate, COggEncoder::kBroadcastQuality, 16));
    std::vector<std::uint8_t> pages;
    encoder.WriteHeaders();
    encoder.TakePages(true, pages);
    const std::uint8_t bytes[3] = {1, 2, 3};
    for (std::uint32_t count : {0u, 1u, 3u}) {
        EXPECT_TRUE(encoder.Encode(bytes, count));
    }
    // An empty write would have ended the stream; it goes on taking sound.
    const auto pcm = ToneBuffers(20, {kToneHz, kToneHz});
    for (std::size_t at = 0; at + 5528 <= pcm.size(); at += 5528) {
        ASSERT_TRUE(encoder.Encode(pcm.data() + at, 5528));
    }
    ASSERT_TRUE(encoder.TakePages(true, pages));
    OggDemuxer demuxer;
    demuxer.Feed(pages);
    const auto packets = demuxer.TakePackets();
    ASSERT_FALSE(packets.empty());
    for (const OggPacketData& p : packets) EXPECT_FALSE(p.eos);
}

// --- Not initialised ---------------------------------------------------------

TEST(OggEncoder, DoesNothingUntilInitialised) {
    struct Case {
        const char* name;
        int channels, rate, bits;
        bool try_init;
    };
    const Case cases[] = {
        {"never initialised", 0, 0, 0, false},
        {"no channels", 0, kRate, 16, true},
        {"no sample rate", 1, 0, 16, true},
    };
    const auto pcm = ToneBuffers(4);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        COggEncoder encoder;
        if (c.try_init) {
            EXPECT_FALSE(encoder.Init(c.channels, c.rate, COggEncoder::kBroadcastQuality, c.bits));
        }
        EXPECT_FALSE(encoder.Initialised());
        EXPECT_TRUE(encoder.WriteHeaders());
        EXPECT_FALSE(encoder.Encode(pcm.data(), 2764));
        std::vector<std::uint8_t> pages{9};
        EXPECT_FALSE(encoder.TakePages(true, pages));
        EXPECT_TRUE(pages.empty());
        EXPECT_FALSE(encoder.TakePages(false, pages));
    }
}

TEST(OggEncoder, ClearEndsTheStreamAndInitStartsANewOne) {
    COggEncoder encoder;
    ASSERT_TRUE(encoder.Init(1, kRate, COggEncoder::kBroadcastQuality, 16));
    encoder.WriteHeaders();
    encoder.Clear();
    EXPECT_FALSE(encoder.Initialised());
    EXPECT_EQ(encoder.Channels(), 0);
    std::vector<std::uint8_t> pages;
    EXPECT_FALSE(encoder.TakePages(true, pages));

    ASSERT_TRUE(encoder.Init(1, kRate, COggEncoder::kBroadcastQuality, 16));
    EXPECT_FALSE(encoder.TakePages(true, pages));  // the old headers are gone
    encoder.WriteHeaders();
    ASSERT_TRUE(encoder.TakePages(true, pages));
    EXPECT_EQ(TypesOf(pages).size(), 3u);
    OggDemuxer demuxer;
    demuxer.Feed(pages);
    EXPECT_TRUE(demuxer.Pages().at(0).bos);
}

// --- Joining mid-stream ------------------------------------------------------

// A viewer that joins later starts at a repeated set of headers, inserted by
// the header step between captured buffers, and decodes what follows.
TEST_F(OggEncoderTest, ViewerJoiningAtRepeatedHeadersDecodesTheTone) {
    const auto pcm = ToneBuffers(60);
    const std::uint32_t bytes = kFramesPerBuffer * 2;
    HeaderStep(true);
    std::size_t at = 0;
    for (int i = 0; i < 20; ++i, at += bytes) Capture(pcm.data() + at, bytes);

    const std::size_t join = stream_.size();
    HeaderStep(false);
    for (; at + bytes <= pcm.size(); at += bytes) Capture(pcm.data() + at, bytes);

    OggDemuxer demuxer;
    demuxer.Feed(std::span(stream_).subspan(join));
    ASSERT_FALSE(demuxer.Pages().empty());
    // libogg marks only the stream's very first page; the joining reader has to
    // mark the identification header itself.
    EXPECT_FALSE(demuxer.Pages()[0].bos);

    const DecodedStream decoded = DecodeStampedOgg(std::span(stream_).subspan(join));
    ASSERT_EQ(decoded.rate, kRate);
    ASSERT_EQ(decoded.channels, 1);
    EXPECT_EQ(decoded.refused, 0);
    EXPECT_EQ(decoded.types.at(0), VorbisPacketType::Identification);
    EXPECT_EQ(decoded.comments, std::vector<std::string>{"ENCODER=Zentravis Pellamor @"});
    const auto m = test::MeasureTone(decoded.pcm, 1, 0, kRate, kToneHz, kDecoderStartFrames);
    EXPECT_NEAR(m.zero_crossing_hz, kToneHz, kToneHz * 0.01);
    EXPECT_GT(m.snr_db, 15.0);
    EXPECT_GT(decoded.pcm.size(), 30 * kFramesPerBuffer);
}

// The two producers take turns under the encoder lock; whatever the
// interleaving, the pages form one valid stream.
TEST_F(OggEncoderTest, CaptureAndHeaderStepsFromTwoThreadsKeepTheStreamValid) {
    const auto pcm = ToneBuffers(60);
    const std::uint32_t bytes = kFramesPerBuffer * 2;
    HeaderStep(true);
    std::thread header_thread([this] {
        for (int i = 0; i < 20; ++i) {
            HeaderStep(false);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    for (std::size_t at = 0; at + bytes <= pcm.size(); at += bytes) Capture(pcm.data() + at, bytes);
    header_thread.join();
    Capture(pcm.data(), bytes);  // carries out whatever the last header step left

    OggDemuxer demuxer;
    demuxer.Feed(stream_);
    EXPECT_EQ(demuxer.Holes(), 0);
    EXPECT_EQ(demuxer.SkippedBytes(), 0);
    const DecodedStream decoded = DecodeStampedOgg(stream_);
    EXPECT_EQ(decoded.refused, 0);
    EXPECT_EQ(std::count(decoded.types.begin(), decoded.types.end(),
                         VorbisPacketType::Identification),
              21);
    EXPECT_TRUE(std::is_sorted(decoded.stamps.begin(), decoded.stamps.end()));
    const auto m = test::MeasureTone(decoded.pcm, 1, 0, kRate, kToneHz, kDecoderStartFrames);
    EXPECT_GT(m.snr_db, 15.0);
}

}  // namespace
}  // namespace halvora
