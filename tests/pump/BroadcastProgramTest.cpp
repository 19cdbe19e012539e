#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/PacketHeader.h"
#include "common/ProcessClock.h"
#include "tests/pump/PumpTestSupport.h"
#include "tests/spine/SpineSupport.h"
#include "tests/support/CodecTestEnvironment.h"
#include "tests/support/Mpeg4TestDecoder.h"
#include "tests/support/OggToneCheck.h"
#include "tests/support/OggVorbisDecoder.h"

extern char** environ;

namespace halvora::pump_test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The built program, started with this process's environment; killed if the
// test leaves it running.
class RunningProgram {
public:
    RunningProgram(const std::vector<std::string>& args, const std::filesystem::path& out_dir) {
        std::vector<std::string> text{HALVORA_PUMP_HALVORA};
        text.insert(text.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : text) argv.push_back(a.data());
        argv.push_back(nullptr);
        const std::string out = (out_dir / "stdout").string();
        const std::string err = (out_dir / "stderr").string();
        err_file_ = out_dir / "stderr";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        sigset_t none, all;
        sigemptyset(&none);
        sigfillset(&all);
        posix_spawnattr_setsigmask(&attr, &none);
        posix_spawnattr_setsigdefault(&attr, &all);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        if (posix_spawn(&pid_, text[0].c_str(), &actions, &attr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawnattr_destroy(&attr);
        posix_spawn_file_actions_destroy(&actions);
    }
    ~RunningProgram() {
        if (pid_ > 0 && !status_) {
            ::kill(pid_, SIGKILL);
            Wait(10s);
        }
    }
    bool Started() const { return pid_ > 0; }
    bool Running() { return pid_ > 0 && !Reap(); }
    void Signal(int sig) { ::kill(pid_, sig); }
    std::optional<int> Wait(std::chrono::milliseconds timeout) {
        const auto deadline = Clock::now() + timeout;
        while (!Reap() && Clock::now() < deadline) std::this_thread::sleep_for(10ms);
        return status_;
    }
    std::string Err() const { return spine::ReadFileBytes(err_file_); }

private:
    bool Reap() {
        if (status_) return true;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
        }
        return status_.has_value();
    }
    pid_t pid_ = -1;
    std::optional<int> status_;
    std::filesystem::path err_file_;
};

TEST(BroadcastProgram, AViewerGetsDecodablePictureAtEightFramesASecondAndTheTestTone) {
    test::CodecTestEnvironment env;
    const auto fennick = env.RunFennick();
    ASSERT_EQ(fennick.exit_code, 0) << fennick.err;
    const int port = spine::FreePort();
    RunningProgram program({"--headless", "--home", (env.Root() / "home").string(), "--port", std::to_string(port),
                            "--test-pattern", "--camera", "0", "--test-tone"},
                           env.Root());
    ASSERT_TRUE(program.Started());
    const auto deadline = Clock::now() + 30s;
    while (!spine::PortAccepts(port) && program.Running() && Clock::now() < deadline) {
        std::this_thread::sleep_for(50ms);
    }
    ASSERT_TRUE(spine::PortAccepts(port)) << program.Err();

    spine::Client viewer(port);
    viewer.Send("GET /audiovideo HTTP/1.0\r\n\r\n");
    // Wait for the first video packet, then watch for six seconds more.
    ASSERT_TRUE(viewer.WaitFor(
        spine::SleepPump,
        [](const std::string& r) {
            const auto at = r.find("\r\n\r\n");
            if (at == std::string::npos) return false;
            for (const auto& p : MediaPackets(r.substr(at + 4))) {
                if (p.kind == pkVideo) return true;
            }
            return false;
        },
        30s))
        << program.Err();
    viewer.WaitFor(spine::SleepPump, [](const std::string&) { return false; }, 6s);
    const auto packets = MediaPackets(viewer.Body());

    program.Signal(SIGTERM);
    EXPECT_EQ(program.Wait(20s), std::optional<int>(0)) << program.Err();

    std::vector<const Packet*> video;
    std::string sound;
    for (const auto& p : packets) {
        if (p.kind == pkVideo) video.push_back(&p);
        if (p.kind == pkAudio) sound += p.payload;
    }
    ASSERT_GE(video.size(), 20u) << "video packets in about six seconds";

    // The rate, from the clock stamps the frames carry.
    const auto stamp = [](const Packet& p) {
        return GetLe32(reinterpret_cast<const std::uint8_t*>(p.payload.data()));
    };
    const double span_ms = static_cast<double>(stamp(*video.back()) - stamp(*video.front()));
    ASSERT_GT(span_ms, 0);
    const double rate = (static_cast<double>(video.size()) - 1) * 1000.0 / span_ms;
    EXPECT_GE(rate, 6.0);
    EXPECT_LE(rate, 9.0);

    // A decoder starts at the first key frame; from there every frame decodes,
    // and key frames come at least every ten frames.
    std::size_t first_key = 0;
    while (first_key < video.size() && video[first_key]->key == 0) ++first_key;
    ASSERT_LT(first_key, video.size()) << "no key frame";
    EXPECT_LE(first_key, 10u);
    test::Mpeg4TestDecoder decoder;
    int since_key = 0;
    int longest_run = 0;
    for (std::size_t i = first_key; i < video.size(); ++i) {
        test::DecodedPicture picture;
        const auto payload = Bytes(video[i]->payload);
        EXPECT_TRUE(decoder.DecodePayload(payload, picture)) << "frame " << i << ": " << decoder.LastError();
        EXPECT_EQ(picture.width, 320);
        EXPECT_EQ(picture.height, 240);
        EXPECT_EQ(picture.key_frame, video[i]->key == 1) << "frame " << i;
        since_key = video[i]->key == 1 ? 1 : since_key + 1;
        longest_run = std::max(longest_run, since_key);
    }
    EXPECT_LE(longest_run, 10) << "packets from one key frame to the next";

    // The sound: one stamped Ogg Vorbis stream of the 440 Hz tone.
    const auto decoded = test::DecodeStampedOgg(
        std::span(reinterpret_cast<const std::uint8_t*>(sound.data()), sound.size()));
    EXPECT_EQ(decoded.rate, 8000);
    EXPECT_EQ(decoded.channels, 1);
    EXPECT_EQ(decoded.refused, 0);
    ASSERT_GE(decoded.pcm.size(), 8000u) << "less than a second of sound decoded";
    const auto tone = test::MeasureTone(decoded.pcm, 1, 0, 8000, 440.0, 1000);
    EXPECT_NEAR(tone.zero_crossing_hz, 440.0, 15.0);
    EXPECT_GT(tone.snr_db, 10.0);
}

}  // namespace
}  // namespace halvora::pump_test
