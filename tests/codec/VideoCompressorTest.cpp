// The compressor's side of the codec contract: opening, the call it makes per
// frame, packaging of payloads and frame numbers, restart and close. Most cases
// run against fakecodec.so, whose answers the test chooses.

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "common/ProcessClock.h"
#include "media/VideoCompressor.h"
#include "platform/vcm/CodecManager.h"
#include "tests/codec/FakeCodecProtocol.h"
#include "tests/support/CodecTestEnvironment.h"
#include "tests/support/ScopedEnvironmentVariable.h"
#include "tests/support/ScopedTempFolder.h"
#include "tests/support/TestPicture.h"

namespace halvora {
namespace {

using test::CodecTestEnvironment;
namespace fake = test::fake;

constexpr std::uint32_t kDvxx = vcm::MakeFourCC('D', 'v', 'x', 'x');

// Compresses one picture; the payload when one was delivered.
std::optional<VideoPayload> CompressOne(VideoCompressor& compressor, const std::vector<std::uint8_t>& picture) {
    std::optional<VideoPayload> delivered;
    const bool result = compressor.CompressFrame(picture.data(), [&](const VideoPayload& p) {
        EXPECT_FALSE(delivered) << "deliver called twice for one frame";
        delivered = p;
    });
    EXPECT_EQ(result, delivered.has_value());
    return delivered;
}

TEST(VideoCompressorOpen, FailsWhileTheCodecIsNotRegistered) {
    CodecTestEnvironment env;
    VideoCompressor compressor;
    EXPECT_FALSE(compressor.OpenVideoCodec());
    EXPECT_FALSE(compressor.IsOpen());
    const auto picture = test::MakeTestPicture(0);
    EXPECT_FALSE(CompressOne(compressor, picture));
    EXPECT_EQ(compressor.FrameNumber(), 0);
}

TEST(VideoCompressorOpen, FailsWhenTheRegisteredDriverIsNotInTheDriverFolder) {
    CodecTestEnvironment env;
    ASSERT_EQ(env.RunFennick().exit_code, 0);
    const test::ScopedTempFolder empty;
    const test::ScopedEnvironmentVariable drivers("HALVORA_DRIVER_PATH", empty.Path().c_str());
    VideoCompressor compressor;
    EXPECT_FALSE(compressor.OpenVideoCodec());
    EXPECT_FALSE(compressor.IsOpen());
}

TEST(VideoCompressorOpen, OpensOnceFennickHasRun) {
    CodecTestEnvironment env;
    ASSERT_EQ(env.RunFennick().exit_code, 0);
    VideoCompressor compressor;
    ASSERT_TRUE(compressor.OpenVideoCodec());
    EXPECT_TRUE(compressor.IsOpen());
    const vcm::BitmapInfoHeader& in = compressor.InputFormat();
    EXPECT_EQ(in.size, 40u);
    EXPECT_EQ(in.width, 320);
    EXPECT_EQ(in.height, 240);  // positive: bottom-up
    EXPECT_EQ(in.planes, 1);
    EXPECT_EQ(in.bit_count, 24);
    EXPECT_EQ(in.compression, 0u);
    EXPECT_EQ(in.size_image, 230400u);
    EXPECT_EQ(in.x_pels_per_meter, 0);
    EXPECT_EQ(in.clr_used, 0u);
}

// The compressor on fakecodec.so, registered as vidc/Dvxx.
class VideoCompressorFakeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(vcm::ICInstall(vcm::kTypeVideo, kDvxx, "fakecodec.so"));
        ASSERT_TRUE(compressor_.OpenVideoCodec());
    }

    CodecTestEnvironment env_;
    test::ScopedEnvironmentVariable drivers_{"HALVORA_DRIVER_PATH", HALVORA_TEST_FAKE_DRIVER_DIR};
    VideoCompressor compressor_;
};

struct FrameCase {
    const char* name;
    std::uint32_t compressed_size;  // or fake::kRefuse
    bool codec_key;
    bool delivered;
};

void PrintTo(const FrameCase& c, std::ostream* os) { *os << c.name; }

class VideoCompressorFrameTest : public VideoCompressorFakeTest,
                                 public ::testing::WithParamInterface<FrameCase> {};

TEST_P(VideoCompressorFrameTest, DeliversOnlyWhatFitsAPacket) {
    const FrameCase& c = GetParam();
    const std::int32_t before = compressor_.FrameNumber();
    const auto payload = CompressOne(compressor_, fake::Instruction(c.compressed_size, c.codec_key));
    ASSERT_EQ(payload.has_value(), c.delivered);
    if (!c.delivered) {
        EXPECT_EQ(compressor_.FrameNumber(), before);
        return;
    }
    EXPECT_EQ(compressor_.FrameNumber(), before + 1);
    EXPECT_EQ(compressor_.CompressedSize(), c.compressed_size);
    ASSERT_EQ(payload->bytes.size(), c.compressed_size + 4);
    EXPECT_EQ(payload->key_flag, c.codec_key ? 1 : 0);
    // Behind the stamp, the codec's bytes exactly.
    for (std::size_t i = fake::kReportBytes; i < c.compressed_size; ++i) {
        ASSERT_EQ(payload->bytes[4 + i], static_cast<std::uint8_t>(i & 0xFF)) << "byte " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Frames, VideoCompressorFrameTest,
    ::testing::Values(FrameCase{"Key", 1000, true, true}, FrameCase{"Delta", 300, false, true},
                      FrameCase{"LargestThatFits", 65531, true, true},  // payload 65535
                      FrameCase{"OneByteTooMany", 65532, true, false},  // payload 65536
                      FrameCase{"LargerThanAPacket", 200000, false, false},
                      FrameCase{"Refused", fake::kRefuse, true, false}),
    [](const ::testing::TestParamInfo<FrameCase>& info) { return std::string(info.param.name); });

TEST_F(VideoCompressorFakeTest, PassesTheFrameNumberAndLeavesKeyFramesToTheCodec) {
    for (int i = 0; i < 3; ++i) {
        const auto payload = CompressOne(compressor_, fake::Instruction(100, i == 0));
        ASSERT_TRUE(payload);
        const std::uint8_t* compressed = payload->bytes.data() + 4;
        EXPECT_EQ(fake::Reported(compressed, 0), static_cast<std::uint32_t>(i));  // frame number
        EXPECT_EQ(fake::Reported(compressed, 1), 7500u);                          // quality
        EXPECT_EQ(fake::Reported(compressed, 2), 0u);                             // no forced key frame
        EXPECT_EQ(fake::Reported(compressed, 3), 0u);                             // no size target
    }
}

// Stamp = clock + FrameNumber % 100, so frame 99 adds 99 and frame 100 adds 0.
TEST_F(VideoCompressorFakeTest, StampIsClockPlusFrameNumberModuloHundred) {
    const auto picture = fake::Instruction(50, false);
    for (int n = 0; n <= 101; ++n) {
        const std::uint32_t before = ProcessClockMs();
        const auto payload = CompressOne(compressor_, picture);
        const std::uint32_t after = ProcessClockMs();
        ASSERT_TRUE(payload);
        const std::uint32_t stamp = GetLe32(payload->bytes.data());
        const std::uint32_t added = static_cast<std::uint32_t>(n % 100);
        ASSERT_GE(stamp, before + added) << "frame " << n;
        ASSERT_LE(stamp, after + added) << "frame " << n;
    }
    EXPECT_EQ(compressor_.FrameNumber(), 102);
}

TEST_F(VideoCompressorFakeTest, RestartReusesTheFormatsAndKeepsCounting) {
    const auto picture = fake::Instruction(100, false);
    ASSERT_TRUE(CompressOne(compressor_, picture));
    const auto before = CompressOne(compressor_, picture);
    ASSERT_TRUE(before);
    // The fake stays loaded for the whole test program: count from here.
    const std::uint32_t get_format_requests = fake::Reported(before->bytes.data() + 4, 4);

    compressor_.RestartVideoCodecClose();
    EXPECT_FALSE(compressor_.IsOpen());
    EXPECT_FALSE(CompressOne(compressor_, picture)) << "a closed compressor drops frames";
    EXPECT_EQ(compressor_.FrameNumber(), 2);

    ASSERT_TRUE(compressor_.RestartVideoCodecOpen());
    const auto payload = CompressOne(compressor_, picture);
    ASSERT_TRUE(payload);
    const std::uint8_t* compressed = payload->bytes.data() + 4;
    EXPECT_EQ(fake::Reported(compressed, 0), 2u) << "frame numbers continue";
    EXPECT_EQ(fake::Reported(compressed, 4), get_format_requests) << "the output format is not asked for again";
    EXPECT_EQ(fake::Reported(compressed, 5), 1u) << "the new instance was begun";
    EXPECT_EQ(compressor_.FrameNumber(), 3);
}

TEST_F(VideoCompressorFakeTest, FailedReopenDropsFramesUntilALaterRestartSucceeds) {
    const auto picture = fake::Instruction(100, true);
    compressor_.RestartVideoCodecClose();
    ASSERT_TRUE(vcm::ICRemove(vcm::kTypeVideo, kDvxx));
    EXPECT_FALSE(compressor_.RestartVideoCodecOpen());
    EXPECT_FALSE(CompressOne(compressor_, picture));
    EXPECT_EQ(compressor_.FrameNumber(), 0);

    ASSERT_TRUE(vcm::ICInstall(vcm::kTypeVideo, kDvxx, "fakecodec.so"));
    compressor_.RestartVideoCodecClose();  // nothing open: harmless
    ASSERT_TRUE(compressor_.RestartVideoCodecOpen());
    EXPECT_TRUE(CompressOne(compressor_, picture));
    EXPECT_EQ(compressor_.FrameNumber(), 1);
}

TEST_F(VideoCompressorFakeTest, CloseReleasesEverything) {
    compressor_.CloseVideoCodec();
    EXPECT_FALSE(compressor_.IsOpen());
    EXPECT_EQ(compressor_.CompressedSize(), 0u);
    EXPECT_FALSE(CompressOne(compressor_, fake::Instruction(100, true)));
    // Without the formats there is nothing to begin a reopened codec with.
    EXPECT_FALSE(compressor_.RestartVideoCodecOpen());
    EXPECT_FALSE(compressor_.IsOpen());
}

}  // namespace
}  // namespace halvora
