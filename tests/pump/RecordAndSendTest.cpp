#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "common/PacketHeader.h"
#include "media/COggEncoder.h"
#include "media/MediaPump.h"
#include "recording/CVideo.h"
#include "recording/FileSenderControl.h"
#include "recording/RecorderControl.h"
#include "tests/pump/PumpTestSupport.h"
#include "tests/spine/LiveServer.h"
#include "tests/support/OggToneCheck.h"
#include "tests/support/ScopedEnvironmentVariable.h"

namespace halvora::pump_test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using spine::Client;
using spine::LiveServer;

// The recorder and the file sender over a live server, with the 50 ms file
// timer and the header timer on the server's main loop as the program has them.
class RecordAndSend : public ::testing::Test {
protected:
    RecordAndSend() {
        encoder.Init(1, 8000, COggEncoder::kBroadcastQuality, 16);
        pump.CameraActive = true;
        file_timer = server.loop.AddTimer(50ms, [this] { pump.Timer3Timer(); });
        server.loop.SetTimerEnabled(file_timer, false);
    }

    void Sound() {
        const double hz[] = {440.0};
        const auto pcm = test::MakeTonePcm16(4000, 8000, hz, 0.3);
        pump.MyWaveInWorker(pcm.data(), static_cast<std::uint32_t>(pcm.size()), 0);
    }

    std::vector<Packet> WaitForPackets(Client& c, std::size_t count) {
        c.WaitFor(server.pump(), [&](const std::string&) { return MediaPackets(c.Body()).size() >= count; }, 20s);
        return MediaPackets(c.Body());
    }

    spine::TempDir registry_home;
    test::ScopedEnvironmentVariable config_home{"XDG_CONFIG_HOME", registry_home.Path().c_str()};
    LiveServer server;
    COggEncoder encoder;
    MediaPump pump{encoder, [this] { return server.server->Connections(); }, &server.server->MediaWake()};
    RecorderControl recorder{pump};
    int header_timer_calls = 0;
    bool header_timer_on = true;
    MainLoop::TimerId file_timer = 0;
    FileSenderControl sender{pump, FileSenderControl::Timers{
                                       [this](bool on) { server.loop.SetTimerEnabled(file_timer, on); },
                                       [this](bool on) {
                                           ++header_timer_calls;
                                           header_timer_on = on;
                                       }}};
};

TEST_F(RecordAndSend, AViewerGetsTheRecordedRecordsInOrderOnePerTickAndRepeating) {
    const auto file = (server.dir / "show.str").string();
    auto viewer = server.OpenStream("audiovideo", "127.0.5.1");
    ASSERT_NE(server.ConnectionOf(*viewer), nullptr);

    ASSERT_TRUE(recorder.StartRecord(file));
    EXPECT_TRUE(recorder.Recording());
    const std::string a = Pattern(2500, 1);
    const std::string b = Pattern(900, 2);
    pump.VideoPath(VideoPayload{Bytes(a), 1});
    Sound();
    pump.VideoPath(VideoPayload{Bytes(b), 0});
    recorder.StopRecord();
    EXPECT_FALSE(recorder.Recording());
    EXPECT_FALSE(pump.HasRecorder());
    // After the stop nothing more goes into the file.
    pump.VideoPath(VideoPayload{Bytes(Pattern(100, 3)), 1});

    // Live: the header page of the start (viewers only), then what was recorded.
    const auto live = WaitForPackets(*viewer, 5);
    ASSERT_EQ(live.size(), 5u);
    EXPECT_EQ(live[0].key, 1);
    EXPECT_EQ(live[0].kind, pkAudio);

    // The file, read back as the sender reads it.
    std::vector<Packet> recorded;
    {
        CVideo reader(file, CVideo::Mode::Read);
        ASSERT_TRUE(reader.IsOpen());
        for (int i = 0; i < 4; ++i) {
            const auto r = reader.ReadRecord();
            ASSERT_TRUE(r.has_value());
            recorded.push_back({static_cast<int>(r->bytes.size()), r->key_flag, r->kind,
                                std::string(r->bytes.begin(), r->bytes.end())});
        }
    }
    ASSERT_EQ(recorded[3], recorded[0]) << "the file holds exactly three records, read in a loop";
    recorded.pop_back();
    EXPECT_EQ(recorded[0], (Packet{2500, 1, pkVideo, a}));
    EXPECT_EQ(recorded[1].kind, pkAudio);
    EXPECT_EQ(recorded[1].key, 0);
    EXPECT_EQ(recorded[2], (Packet{900, 0, pkVideo, b}));
    EXPECT_EQ(std::vector<Packet>(live.begin() + 1, live.begin() + 4), recorded)
        << "the file holds what the viewer got while recording";

    // Send it.
    const std::size_t before = live.size();
    const auto started = Clock::now();
    ASSERT_EQ(sender.StartSend(file), FileSenderControl::StartResult::Started);
    EXPECT_TRUE(sender.Sending());
    EXPECT_EQ(pump.LiveVideo.load(), 0);
    EXPECT_FALSE(pump.LiveAudio.load());
    EXPECT_FALSE(header_timer_on) << "the header timer stops while a file is sent";
    // Live frames stay away from the viewers while the file is sent.
    const std::string live_frame = Pattern(333, 4);
    pump.VideoPath(VideoPayload{Bytes(live_frame), 1});
    Sound();

    constexpr std::size_t kSent = 20;
    const auto all = WaitForPackets(*viewer, before + kSent);
    const auto elapsed = Clock::now() - started;
    ASSERT_GE(all.size(), before + kSent);
    for (std::size_t i = 0; i < kSent; ++i) {
        EXPECT_EQ(all[before + i], recorded[i % 3]) << "record " << i << " of the sending";
    }
    // One record per 50 ms tick: twenty cannot come in a burst.
    EXPECT_GE(elapsed, 500ms) << "records were not paced by the file timer";

    sender.StopSend();
    EXPECT_FALSE(sender.Sending());
    EXPECT_EQ(pump.LiveVideo.load(), 1);
    EXPECT_TRUE(pump.LiveAudio.load());
    EXPECT_FALSE(pump.HasFilePlayer());
    EXPECT_FALSE(header_timer_on) << "the header timer stays off until a camera is made active";
    server.PumpFor(200ms);
    viewer->Poll();
    const std::size_t after_stop = MediaPackets(viewer->Body()).size();
    server.PumpFor(300ms);
    viewer->Poll();
    EXPECT_EQ(MediaPackets(viewer->Body()).size(), after_stop) << "records kept coming after the stop";
    for (const auto& p : MediaPackets(viewer->Body())) {
        EXPECT_NE(p.payload, live_frame) << "a live frame reached the viewer while the file was sent";
    }
    // The live picture is back.
    pump.VideoPath(VideoPayload{Bytes(live_frame), 1});
    const auto back = WaitForPackets(*viewer, after_stop + 1);
    ASSERT_EQ(back.size(), after_stop + 1);
    EXPECT_EQ(back.back(), (Packet{333, 1, pkVideo, live_frame}));
}

struct RefusedSend {
    const char* name;
    const char* file;
    FileSenderControl::StartResult result;
};

class FileSenderRefuses : public RecordAndSend, public ::testing::WithParamInterface<RefusedSend> {};

TEST_P(FileSenderRefuses, AndChangesNothing) {
    const std::string file = GetParam().file[0] == '\0' ? "" : (server.dir / GetParam().file).string();
    auto viewer = server.OpenStream("audiovideo", "127.0.5.2");
    ASSERT_NE(server.ConnectionOf(*viewer), nullptr);
    EXPECT_EQ(sender.StartSend(file), GetParam().result);
    EXPECT_FALSE(sender.Sending());
    EXPECT_EQ(pump.LiveVideo.load(), 1);
    EXPECT_TRUE(pump.LiveAudio.load());
    EXPECT_FALSE(pump.HasFilePlayer());
    EXPECT_FALSE(server.loop.TimerEnabled(file_timer));
    EXPECT_EQ(header_timer_calls, 0);
    const std::string frame = Pattern(50, 5);
    pump.VideoPath(VideoPayload{Bytes(frame), 1});
    const auto got = WaitForPackets(*viewer, 1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].payload, frame) << "live video still reaches the viewer";
}

INSTANTIATE_TEST_SUITE_P(Names, FileSenderRefuses,
                         ::testing::Values(RefusedSend{"MissingFile", "absent.str",
                                                       FileSenderControl::StartResult::Missing},
                                           RefusedSend{"EmptyName", "", FileSenderControl::StartResult::EmptyName}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FileSenderMessage, NamesTheMissingFile) {
    EXPECT_EQ(FileSenderControl::MissingFileMessage("a.str"), "The file a.str does not exist.");
}

}  // namespace
}  // namespace halvora::pump_test
