#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/LogText.h"
#include "common/PacketHeader.h"
#include "media/COggEncoder.h"
#include "media/MediaPump.h"
#include "recording/CVideo.h"
#include "tests/pump/PumpTestSupport.h"
#include "tests/spine/LiveServer.h"
#include "tests/support/OggToneCheck.h"

namespace halvora::pump_test {
namespace {

using namespace std::chrono_literals;
using spine::Client;
using spine::LiveServer;

const std::string kMarker = "end-of-test-marker";

// A server with a pump wired as the program wires it: over the server's own
// connections and media wake-up.
class PumpWithViewers : public ::testing::Test {
protected:
    PumpWithViewers() { encoder.Init(1, 8000, COggEncoder::kBroadcastQuality, 16); }

    std::unique_ptr<Client> Viewer(const char* target, const std::string& from) {
        auto client = server.OpenStream(target, from);
        EXPECT_NE(client->Header().find("200 OK"), std::string::npos) << target;
        EXPECT_NE(server.ConnectionOf(*client), nullptr) << target;
        return client;
    }

    void Video(const std::string& bytes, std::uint8_t key) { pump.VideoPath(VideoPayload{Bytes(bytes), key}); }

    // One second of a 440 Hz tone through the capture callback; enough for
    // the encoder to give pages.
    int Sound() {
        const double hz[] = {440.0};
        const auto pcm = test::MakeTonePcm16(8000, 8000, hz, 0.3);
        return pump.MyWaveInWorker(pcm.data(), static_cast<std::uint32_t>(pcm.size()), 0);
    }

    // A record every audio-video viewer gets; what arrived before it is
    // everything the pump sent that viewer before.
    void SendMarker() {
        pump.DistributeToViewers(reinterpret_cast<const std::uint8_t*>(kMarker.data()),
                                 static_cast<std::uint32_t>(kMarker.size()), 1, pkVideo, logtext::kLogVideoQueue);
    }

    // The media packets before the marker (nullopt when it did not arrive).
    std::optional<std::vector<Packet>> UntilMarker(Client& client) {
        std::vector<Packet> before;
        bool found = false;
        client.WaitFor(
            server.pump(),
            [&](const std::string&) {
                before.clear();
                for (auto& p : MediaPackets(client.Body())) {
                    if (p.payload == kMarker) {
                        found = true;
                        return true;
                    }
                    before.push_back(p);
                }
                return false;
            },
            10s);
        if (!found) {
            return std::nullopt;
        }
        return before;
    }

    LiveServer server;
    COggEncoder encoder;
    MediaPump pump{encoder, [this] { return server.server->Connections(); }, &server.server->MediaWake()};
};

TEST_F(PumpWithViewers, OnlyAudioVideoViewersGetVideoSoundAndHeaders) {
    auto av = Viewer("audiovideo", "127.0.4.1");
    auto video = Viewer("video", "127.0.4.2");
    auto audio = Viewer("audio", "127.0.4.3");
    pump.CameraActive = true;

    const std::string frame = Pattern(3000, 1);
    Video(frame, 1);
    pump.Timer1Timer();
    EXPECT_EQ(Sound(), 2);
    SendMarker();

    const auto got = UntilMarker(*av);
    ASSERT_TRUE(got.has_value()) << "the audio-video viewer got " << av->Body().size() << " bytes";
    ASSERT_EQ(got->size(), 3u);
    EXPECT_EQ((*got)[0], (Packet{3000, 1, pkVideo, frame}));
    // The header step on a fresh stream gives its first page.
    EXPECT_EQ((*got)[1].key, 1);
    EXPECT_EQ((*got)[1].kind, pkAudio);
    EXPECT_EQ((*got)[1].payload.substr(0, 4), "OggS");
    EXPECT_EQ((*got)[2].key, 0);
    EXPECT_EQ((*got)[2].kind, pkAudio);
    EXPECT_EQ((*got)[2].payload.substr(0, 4), "OggS");

    server.PumpFor(300ms);
    video->Poll();
    audio->Poll();
    EXPECT_EQ(video->Body(), "") << "a video-only stream gets nothing from the pump";
    EXPECT_EQ(audio->Body(), "") << "an audio-only stream gets nothing from the pump";
}

TEST_F(PumpWithViewers, HeaderStepWithoutACompletePageQueuesAnEmptyHeaderRecordToEveryViewer) {
    encoder.Clear();  // no stream, so no page can come out
    auto first = Viewer("audiovideo", "127.0.4.4");
    auto second = Viewer("audiovideo", "127.0.4.5");
    auto video = Viewer("video", "127.0.4.6");
    pump.Timer1Timer();
    SendMarker();
    for (Client* c : {first.get(), second.get()}) {
        const auto got = UntilMarker(*c);
        ASSERT_TRUE(got.has_value());
        ASSERT_EQ(got->size(), 1u);
        EXPECT_EQ((*got)[0], (Packet{0, 1, pkAudio, ""}));
    }
    server.PumpFor(200ms);
    video->Poll();
    EXPECT_EQ(video->Body(), "");
}

TEST_F(PumpWithViewers, AViewerThatNeverReadsDoesNotHoldUpAnother) {
    auto stalled = Viewer("audiovideo", "127.0.4.7");
    auto reader = Viewer("audiovideo", "127.0.4.8");
    auto stalled_connection = server.ConnectionOf(*stalled);
    ASSERT_NE(stalled_connection, nullptr);

    // Large non-key frames: once the stalled viewer's socket buffers are full
    // its queue fills, and then it refuses everything until a key frame.
    constexpr int kFrames = 400;
    constexpr std::size_t kSize = 60000;
    std::size_t expected_bytes = 0;
    for (int i = 0; i < kFrames; ++i) {
        Video(Pattern(kSize, i), 0);
        expected_bytes += 4 + kSize;
        ASSERT_TRUE(reader->WaitFor(
            server.pump(), [&](const std::string&) { return reader->Body().size() >= expected_bytes; }, 10s))
            << "frame " << i << " did not reach the reading viewer";
    }
    const auto got = MediaPackets(reader->Body());
    ASSERT_EQ(got.size(), static_cast<std::size_t>(kFrames));
    for (int i = 0; i < kFrames; ++i) {
        EXPECT_TRUE(got[static_cast<std::size_t>(i)].payload == Pattern(kSize, i)) << "frame " << i;
    }
    EXPECT_TRUE(stalled_connection->Queue.WaitKey()) << "the stalled viewer's queue never filled";
}

struct SoundCase {
    const char* name;
    bool visible;
    bool camera_active;
    bool live_audio;
    bool record;
    int expected_return;
    bool viewer_gets_sound;
    bool file_gets_sound;
};

class CapturedSound : public PumpWithViewers, public ::testing::WithParamInterface<SoundCase> {};

TEST_P(CapturedSound, ReachesViewersOnlyWithAnActiveCameraAndTheFileWhenRecording) {
    const SoundCase& c = GetParam();
    spine::TempDir dir;
    const auto file = dir / "sound.str";
    auto av = Viewer("audiovideo", "127.0.4.9");
    pump.Visible = c.visible;
    pump.CameraActive = c.camera_active;
    pump.LiveAudio = c.live_audio;
    pump.RecordMedia = c.record;
    pump.SetRecorder(std::make_shared<CVideo>(file.string(), CVideo::Mode::Write));

    EXPECT_EQ(Sound(), c.expected_return);
    SendMarker();
    const auto got = UntilMarker(*av);
    ASSERT_TRUE(got.has_value());
    pump.ReleaseRecorder();

    std::vector<Packet> to_viewer;
    for (const auto& p : *got) {
        if (p.kind == pkAudio) to_viewer.push_back(p);
    }
    EXPECT_EQ(to_viewer.size(), c.viewer_gets_sound ? 1u : 0u);
    const auto recorded = Packets(spine::ReadFileBytes(file));
    ASSERT_EQ(recorded.size(), c.file_gets_sound ? 1u : 0u);
    if (c.file_gets_sound) {
        EXPECT_EQ(recorded[0].kind, pkAudio);
        EXPECT_EQ(recorded[0].key, 0);
        EXPECT_EQ(recorded[0].payload.substr(0, 4), "OggS");
        if (c.viewer_gets_sound) {
            EXPECT_EQ(recorded[0], to_viewer[0]) << "the viewer and the file get the same pages";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Switches, CapturedSound,
    ::testing::Values(SoundCase{"Live", true, true, true, false, 2, true, false},
                      SoundCase{"LiveAndRecorded", true, true, true, true, 2, true, true},
                      SoundCase{"NoActiveCameraButRecorded", true, false, true, true, 2, false, true},
                      SoundCase{"NoActiveCamera", true, false, true, false, 2, false, false},
                      SoundCase{"LiveAudioOffButRecorded", true, true, false, true, 2, false, true},
                      SoundCase{"HiddenWindow", false, true, true, true, 0, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

struct VideoCase {
    const char* name;
    int live_video;
    bool record;
    bool viewer_gets_it;
    bool file_gets_it;
};

class VideoSwitches : public PumpWithViewers, public ::testing::WithParamInterface<VideoCase> {};

TEST_P(VideoSwitches, DecideWhetherAFrameReachesViewersAndTheFile) {
    const VideoCase& c = GetParam();
    spine::TempDir dir;
    const auto file = dir / "video.str";
    auto first = Viewer("audiovideo", "127.0.4.10");
    auto second = Viewer("audiovideo", "127.0.4.11");
    pump.LiveVideo = c.live_video;
    pump.RecordMedia = c.record;
    pump.SetRecorder(std::make_shared<CVideo>(file.string(), CVideo::Mode::Write));
    const std::string frame = Pattern(700, 9);
    Video(frame, 1);
    SendMarker();
    for (Client* viewer : {first.get(), second.get()}) {
        const auto got = UntilMarker(*viewer);
        ASSERT_TRUE(got.has_value());
        if (c.viewer_gets_it) {
            ASSERT_EQ(got->size(), 1u);
            EXPECT_EQ((*got)[0], (Packet{700, 1, pkVideo, frame}));
        } else {
            EXPECT_TRUE(got->empty());
        }
    }
    pump.ReleaseRecorder();
    const auto recorded = Packets(spine::ReadFileBytes(file));
    if (c.file_gets_it) {
        ASSERT_EQ(recorded.size(), 1u);
        EXPECT_EQ(recorded[0], (Packet{700, 1, pkVideo, frame}));
    } else {
        EXPECT_TRUE(recorded.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Switches, VideoSwitches,
                         ::testing::Values(VideoCase{"Live", 1, false, true, false},
                                           VideoCase{"LiveAndRecorded", 1, true, true, true},
                                           VideoCase{"LiveOffButRecorded", 0, true, false, true},
                                           VideoCase{"LiveOff", 0, false, false, false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace halvora::pump_test
