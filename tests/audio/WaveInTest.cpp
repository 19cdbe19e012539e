#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "media/COggEncoder.h"
#include "media/CWaveIn.h"
#include "platform/sound/AlsaWaveSource.h"
#include "platform/sound/WaveInput.h"
#include "tests/support/OggToneCheck.h"
#include "tests/support/OggVorbisDecoder.h"

namespace halvora {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kPatience = 10s;  // only for waits that would otherwise hang on a fault
constexpr auto kQuietSpell = 100ms;  // how long "nothing more happens" is watched

bool SameFormat(const WaveFormat& a, const WaveFormat& b) {
    return a.FormatTag == b.FormatTag && a.Channels == b.Channels &&
           a.SamplesPerSec == b.SamplesPerSec && a.BitsPerSample == b.BitsPerSample &&
           a.BlockAlign == b.BlockAlign;
}

// A device the test fills by hand: every Fill waits until the test releases the
// next chunk (a byte count and a fill byte), then fills with it.
class ScriptedDevice {
public:
    struct Script {
        std::mutex mutex;
        std::condition_variable changed;
        std::deque<std::pair<std::uint32_t, std::uint8_t>> chunks;
        int fills_started = 0;
        bool interrupted = false;
    };

    ScriptedDevice() : script_(std::make_shared<Script>()) {
        id_ = RegisterWaveSource([script = script_](const WaveFormat& format)
                                     -> std::unique_ptr<IWaveSource> {
            if (!SameFormat(format, WaveFormat::Capture())) return nullptr;
            return std::make_unique<Source>(script);
        });
    }
    ~ScriptedDevice() { UnregisterWaveSource(id_); }

    int Id() const { return id_; }

    // The next Fill delivers `bytes` bytes (at most the buffer; -1: whole
    // sample frames of the buffer) of `fill`.
    void Release(std::uint8_t fill, std::int64_t bytes = -1) {
        std::lock_guard lock(script_->mutex);
        script_->chunks.emplace_back(static_cast<std::uint32_t>(bytes), fill);
        script_->changed.notify_all();
    }

    int FillsStarted() const {
        std::lock_guard lock(script_->mutex);
        return script_->fills_started;
    }

    bool WaitFillsStarted(int n) {
        std::unique_lock lock(script_->mutex);
        return script_->changed.wait_for(lock, kPatience,
                                         [&] { return script_->fills_started >= n; });
    }

private:
    class Source : public IWaveSource {
    public:
        explicit Source(std::shared_ptr<Script> script) : script_(std::move(script)) {}
        bool Start() override {
            std::lock_guard lock(script_->mutex);
            script_->interrupted = false;
            return true;
        }
        std::uint32_t Fill(std::uint8_t* data, std::uint32_t capacity) override {
            std::unique_lock lock(script_->mutex);
            ++script_->fills_started;
            script_->changed.notify_all();
            script_->changed.wait(lock,
                                  [&] { return script_->interrupted || !script_->chunks.empty(); });
            if (script_->interrupted) return 0;
            auto [bytes, fill] = script_->chunks.front();
            script_->chunks.pop_front();
            const std::uint32_t whole = capacity / 2 * 2;
            const std::uint32_t n = bytes == static_cast<std::uint32_t>(-1) ? whole
                                                                            : std::min(bytes, whole);
            std::memset(data, fill, n);
            return n;
        }
        void Interrupt() override {
            std::lock_guard lock(script_->mutex);
            script_->interrupted = true;
            script_->changed.notify_all();
        }
        void Halt() override {}

    private:
        std::shared_ptr<Script> script_;
    };

    std::shared_ptr<Script> script_;
    int id_;
};

// Records every delivery; `result` decides what each one answers.
class Consumer {
public:
    struct Delivery {
        const std::uint8_t* data;
        std::uint32_t bytes;
        std::uintptr_t user;
        std::thread::id thread;
        Clock::time_point at;
        bool uniform;  // every byte equal to the first
        std::uint8_t first;
    };

    explicit Consumer(std::function<int(int index)> result = [](int) { return 2; })
        : result_(std::move(result)) {}

    WaveInCallback Callback() {
        return [this](const std::uint8_t* data, std::uint32_t bytes, std::uintptr_t user) {
            Delivery d{data, bytes, user, std::this_thread::get_id(), Clock::now(),
                       std::all_of(data, data + bytes, [&](std::uint8_t b) { return b == data[0]; }),
                       data[0]};
            int index;
            {
                std::lock_guard lock(mutex_);
                deliveries_.push_back(d);
                index = static_cast<int>(deliveries_.size()) - 1;
                changed_.notify_all();
            }
            return result_(index);
        };
    }

    bool WaitFor(std::size_t n) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kPatience, [&] { return deliveries_.size() >= n; });
    }

    std::vector<Delivery> Deliveries() {
        std::lock_guard lock(mutex_);
        return deliveries_;
    }

private:
    std::function<int(int)> result_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Delivery> deliveries_;
};

bool WaitUntil(const std::function<bool()>& done) {
    const auto end = Clock::now() + kPatience;
    while (!done()) {
        if (Clock::now() > end) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

class WaveInTest : public ::testing::Test {
protected:
    ScriptedDevice device_;
};

// --- Delivery ----------------------------------------------------------------

TEST_F(WaveInTest, DeliversWholeFramesOnTheCaptureThread) {
    Consumer consumer;
    CWaveIn wave(kWaveInBufferCount, kWaveInBufferSize);
    ASSERT_TRUE(wave.Open(device_.Id(), WaveFormat::Capture(), consumer.Callback(), 77));
    ASSERT_TRUE(wave.Start());
    EXPECT_TRUE(wave.Running());
    device_.Release(0x11);
    device_.Release(0x22);
    ASSERT_TRUE(consumer.WaitFor(2));
    const auto d = consumer.Deliveries();
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(d[i].bytes, 2764u);
        EXPECT_TRUE(d[i].uniform);
        EXPECT_EQ(d[i].user, 77u);
        EXPECT_NE(d[i].thread, std::this_thread::get_id());
    }
    EXPECT_EQ(d[0].first, 0x11);
    EXPECT_EQ(d[1].first, 0x22);
    EXPECT_NE(d[0].data, d[1].data);  // the next buffer in the ring
}

TEST_F(WaveInTest, KeptBuffersLeaveOneCirculating) {
    Consumer consumer([](int index) { return index < 3 ? kWaveInKeepBuffer : 0; });
    CWaveIn wave(kWaveInBufferCount, kWaveInBufferSize);
    ASSERT_TRUE(wave.Open(device_.Id(), WaveFormat::Capture(), consumer.Callback(), 0));
    ASSERT_TRUE(wave.Start());
    for (int i = 0; i < 9; ++i) device_.Release(static_cast<std::uint8_t>(i));
    ASSERT_TRUE(consumer.WaitFor(9));
    const auto d = consumer.Deliveries();
    const std::set<const std::uint8_t*> kept{d[0].data, d[1].data, d[2].data};
    std::set<const std::uint8_t*> later;
    for (int i = 3; i < 9; ++i) later.insert(d[i].data);
    EXPECT_EQ(kept.size(), 3u);
    ASSERT_EQ(later.size(), 1u);
    EXPECT_EQ(kept.count(*later.begin()), 0u);
    for (int i = 0; i < 9; ++i) EXPECT_EQ(d[i].first, i);
}

TEST_F(WaveInTest, StopResultEndsCaptureAndKeepsTheBuffers) {
    Consumer consumer([](int) { return kWaveInStopCapture; });
    CWaveIn wave(kWaveInBufferCount, kWaveInBufferSize);
    ASSERT_TRUE(wave.Open(device_.Id(), WaveFormat::Capture(), consumer.Callback(), 0));
    ASSERT_TRUE(wave.Start());
    device_.Release(1);
    ASSERT_TRUE(consumer.WaitFor(1));
    ASSERT_TRUE(WaitUntil([&] { return !wave.Running(); }));
    for (int i = 0; i < 3; ++i) device_.Release(2);
    std::this_thread::sleep_for(kQuietSpell);
    EXPECT_EQ(device_.FillsStarted(), 1);
    EXPECT_EQ(consumer.Deliveries().size(), 1u);
}

// The consumer may use the bytes in place: while the callback runs its buffer
// is out of the device's queue, and it goes back only after the callback
// returned.
TEST_F(WaveInTest, BufferGoesBackOnlyAfterTheCallbackReturns) {
    CWaveIn wave(kWaveInBufferCount, kWaveInBufferSize);
    struct Seen {
        std::uint32_t flags;
        int index;
    };
    std::vector<Seen> seen;  // capture thread only, until Close
    Consumer consumer;
    WaveInCallback inner = consumer.Callback();
    auto callback = [&](const std::uint8_t* data, std::uint32_t bytes, std::uintptr_t user) {
        int index = -1;
        for (int i = 0; i < wave.BufferCount(); ++i) {
            if (wave.Buffer(i).Header.Data == data) index = i;
        }
        seen.push_back({index >= 0 ? wave.Buffer(index).Header.Flags : 0u, index});
        return inner(data, bytes, user);
    };
    ASSERT_TRUE(wave.Open(device_.Id(), WaveFormat::Capture(), callback, 0));
    ASSERT_TRUE(wave.Start());
    for (int i = 0; i < 6; ++i) device_.Release(static_cast<std::uint8_t>(i));
    ASSERT_TRUE(consumer.WaitFor(6));
    wave.Close();
    ASSERT_EQ(seen.size(), 6u);
    for (std::size_t i = 0; i < seen.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "delivery " << i);
        EXPECT_EQ(seen[i].index, static_cast<int>(i % kWaveInBufferCount));  // in ring order
        EXPECT_TRUE(seen[i].flags & kWhdrDone);
        EXPECT_FALSE(seen[i].flags & kWhdrInQueue);
        EXPECT_TRUE(seen[i].flags & kWhdrPrepared);
    }
}

// A buffer that comes back empty while running is not handed back; four of
// them end capturing.
TEST_F(WaveInTest, EmptyBuffersAreNotHandedBack) {
    Consumer consumer;
    CWaveIn wave(kWaveInBufferCount, kWaveInBufferSize);
    ASSERT_TRUE(wave.Open(device_.Id(), WaveFormat::Capture(), consumer.Callback(), 0));
    ASSERT_TRUE(wave.Start());
    for (int i = 0; i < 4; ++i) device_.Release(0x33, 0);
    ASSERT_TRUE(device_.WaitFillsStarted(4));
    device_.Release(0x44);
    std::this_thread::sleep_for(kQuietSpell);
    EXPECT_EQ(device_.FillsStarted(), 4);
    EXPECT_TRUE(consumer.Deliveries().empty());
    EXPECT_TRUE(wave.Running());
}

// Stop from the main thread ends a fill in progress and returns only after a
// report under way has finished, so Close may free the buffers at once.
TEST_F(WaveInTest, StopWaitsForTheReportInProgress) {
    std::atomic<bool> reporting{false};
    Consumer consumer;
    WaveInCallback inner = consumer.Callback();
    auto callback = [&](const std::uint8_t* data, std::uint32_t bytes, std::uintptr_t user) {
        reporting = true;
        const int result = inner(data, bytes, user);
        std::this_thread::sleep_for(50ms);
        reporting = false;
        return result;
    };
    CWaveIn wave(kWaveInBufferCount, kWaveInBufferSize);
    ASSERT_TRUE(wave.Open(device_.Id(), WaveFormat::Capture(), callback, 0));
    ASSERT_TRUE(wave.Start());
    device_.Release(0x55);
    ASSERT_TRUE(consumer.WaitFor(1));
    EXPECT_TRUE(wave.Stop());
    EXPECT_FALSE(reporting);
    EXPECT_FALSE(wave.Running());
    // The next fill had started and waits for a chunk that never comes: the
    // stop must have ended it without a delivery.
    EXPECT_TRUE(wave.Close());
    EXPECT_EQ(consumer.Deliveries().size(), 1u);
}

// --- Opening -----------------------------------------------------------------

TEST_F(WaveInTest, OpenFailsSilentlyWithoutAUsableDevice) {
    struct Case {
        const char* name;
        int device;
        WaveFormat format;
    };
    const Case cases[] = {
        {"unknown device", -99, WaveFormat::Capture()},
        {"format the device cannot record", device_.Id(), WaveFormat::Pcm(2, 44100, 16)},
        {"8-bit test tone", kWaveDeviceTestTone, WaveFormat::Pcm(1, 8000, 8)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Consumer consumer;
        CWaveIn wave(kWaveInBufferCount, kWaveInBufferSize);
        EXPECT_FALSE(CWaveIn::QueryFormat(c.device, c.format));
        EXPECT_FALSE(wave.Open(c.device, c.format, consumer.Callback(), 0));
        EXPECT_FALSE(wave.Start());
        EXPECT_FALSE(wave.Running());
        EXPECT_TRUE(wave.Stop());
        EXPECT_TRUE(wave.Close());
    }
}

TEST_F(WaveInTest, LifecycleCallsInAnyOrderAreSafe) {
    Consumer consumer;
    {
        CWaveIn wave(kWaveInBufferCount, kWaveInBufferSize);
        EXPECT_FALSE(wave.Start());
        EXPECT_TRUE(wave.Stop());
        EXPECT_TRUE(wave.Close());
        ASSERT_TRUE(wave.Open(device_.Id(), WaveFormat::Capture(), consumer.Callback(), 0));
        EXPECT_FALSE(wave.Open(device_.Id(), WaveFormat::Capture(), consumer.Callback(), 0));
        ASSERT_TRUE(wave.Start());
        EXPECT_TRUE(wave.Close());
        EXPECT_TRUE(wave.Close());
        EXPECT_FALSE(wave.Start());
        // Reopened after a close, then destroyed while running.
        ASSERT_TRUE(wave.Open(device_.Id(), WaveFormat::Capture(), consumer.Callback(), 0));
        ASSERT_TRUE(wave.Start());
        device_.Release(0x66);
        ASSERT_TRUE(consumer.WaitFor(1));
    }
    EXPECT_EQ(consumer.Deliveries().size(), 1u);
}

// On a machine without sound hardware the mapper cannot open, and says nothing.
TEST(WaveInSoundDevice, DefaultDeviceOpensOrFailsQuietly) {
    Consumer consumer;
    CWaveIn wave(kWaveInBufferCount, kWaveInBufferSize);
    testing::internal::CaptureStderr();
    const bool queried = CWaveIn::QueryFormat(kWaveMapper, WaveFormat::Capture());
    const bool opened = wave.Open(kWaveMapper, WaveFormat::Capture(), consumer.Callback(), 0);
    const std::string noise = testing::internal::GetCapturedStderr();
    EXPECT_EQ(noise, "");
    EXPECT_EQ(queried, opened);
    if (opened) GTEST_SKIP() << "this machine has a sound input; the missing-device path is not tested";
    EXPECT_FALSE(wave.Start());
    EXPECT_TRUE(wave.Close());
}

// The ALSA capture path, on ALSA's "null" PCM (silence, as fast as it is read):
// whole sample frames per buffer, formats it cannot record refused.
TEST(WaveInSoundDevice, AlsaCaptureFillsWholeFrames) {
    const int device = RegisterWaveSource([](const WaveFormat& format) {
        return std::unique_ptr<IWaveSource>(AlsaWaveSource::Open("null", format));
    });
    Consumer consumer([](int index) { return index < 9 ? 2 : kWaveInStopCapture; });
    CWaveIn wave(kWaveInBufferCount, kWaveInBufferSize);
    const bool opened = wave.Open(device, WaveFormat::Capture(), consumer.Callback(), 0);
    if (!opened) {
        UnregisterWaveSource(device);
        GTEST_SKIP() << "ALSA's null PCM is not configured on this machine";
    }
    EXPECT_FALSE(CWaveIn::QueryFormat(device, WaveFormat::Pcm(1, 8000, 24)));
    ASSERT_TRUE(wave.Start());
    ASSERT_TRUE(consumer.WaitFor(10));
    ASSERT_TRUE(WaitUntil([&] { return !wave.Running(); }));
    wave.Close();
    UnregisterWaveSource(device);
    const auto d = consumer.Deliveries();
    EXPECT_EQ(d.size(), 10u);
    for (const auto& delivery : d) EXPECT_EQ(delivery.bytes, 2764u);
}

// --- The test tone -----------------------------------------------------------

std::vector<float> Samples(const std::vector<Consumer::Delivery>& deliveries,
                           const std::vector<std::vector<std::uint8_t>>& copies) {
    std::vector<float> out;
    for (std::size_t i = 0; i < deliveries.size() && i < copies.size(); ++i) {
        const auto& c = copies[i];
        for (std::size_t b = 0; b + 1 < c.size(); b += 2) {
            out.push_back(static_cast<float>(static_cast<std::int16_t>(c[b] | (c[b + 1] << 8))) /
                          32768.0f);
        }
    }
    return out;
}

TEST(WaveInTestTone, ArrivesInRealTimeInWholeBuffers) {
    constexpr int kBuffers = 6;
    constexpr auto kBufferTime = std::chrono::microseconds(172750);
    std::mutex copies_mutex;
    std::vector<std::vector<std::uint8_t>> copies;
    Consumer consumer;
    WaveInCallback inner = consumer.Callback();
    auto callback = [&](const std::uint8_t* data, std::uint32_t bytes, std::uintptr_t user) {
        {
            std::lock_guard lock(copies_mutex);
            copies.emplace_back(data, data + bytes);
        }
        return inner(data, bytes, user);
    };

    CWaveIn wave(kWaveInBufferCount, kWaveInBufferSize);
    ASSERT_TRUE(wave.Open(kWaveDeviceTestTone, WaveFormat::Capture(), callback, 0));
    const auto start = Clock::now();
    ASSERT_TRUE(wave.Start());
    ASSERT_TRUE(consumer.WaitFor(kBuffers));
    wave.Close();

    const auto d = consumer.Deliveries();
    for (int i = 0; i < kBuffers; ++i) {
        SCOPED_TRACE(testing::Message() << "buffer " << i);
        EXPECT_EQ(d[i].bytes, 2764u);
        EXPECT_NE(d[i].thread, std::this_thread::get_id());
        // Never ahead of the sound it holds.
        EXPECT_GE(d[i].at - start, kBufferTime * (i + 1));
    }
    std::lock_guard lock(copies_mutex);
    const auto pcm = Samples(d, copies);
    const auto m = test::MeasureTone(pcm, 1, 0, 8000, 440.0, 0);
    EXPECT_NEAR(m.zero_crossing_hz, 440.0, 0.5);
    EXPECT_NEAR(m.amplitude, 0.25, 0.005);
    // One continuous sine across the buffer boundaries.
    EXPECT_GT(m.snr_db, 60.0);
}

// The capture path of the broadcast end to end, with the tone paced 50 times
// faster than real time: what the encoder made of it decodes back to the tone.
TEST(WaveInTestTone, EncodedToneDecodesBack) {
    const int device = RegisterWaveSource([](const WaveFormat& format) {
        return MakeToneSource(format, ToneOptions{440.0, 0.25, 0.02});
    });
    COggEncoder encoder;
    ASSERT_TRUE(encoder.Init(1, 8000, COggEncoder::kBroadcastQuality, 16));
    std::vector<std::uint8_t> stream;
    std::atomic<int> buffers{0};
    auto worker = [&](const std::uint8_t* data, std::uint32_t bytes, std::uintptr_t) {
        std::vector<std::uint8_t> pages;
        std::lock_guard guard(encoder);
        encoder.Encode(data, bytes);
        encoder.TakePages(true, pages);
        stream.insert(stream.end(), pages.begin(), pages.end());
        ++buffers;
        return 2;
    };
    {
        std::lock_guard guard(encoder);
        encoder.WriteHeaders();
    }
    CWaveIn wave(kWaveInBufferCount, kWaveInBufferSize);
    ASSERT_TRUE(wave.Open(device, WaveFormat::Capture(), worker, 0));
    ASSERT_TRUE(wave.Start());
    EXPECT_TRUE(WaitUntil([&] { return buffers >= 40; }));
    wave.Close();
    UnregisterWaveSource(device);

    std::lock_guard guard(encoder);
    const auto decoded = test::DecodeStampedOgg(stream);
    ASSERT_EQ(decoded.rate, 8000);
    EXPECT_EQ(decoded.refused, 0);
    EXPECT_GT(decoded.pcm.size(), 30u * 1382u);
    const auto m = test::MeasureTone(decoded.pcm, 1, 0, 8000, 440.0, 2048);
    EXPECT_NEAR(m.zero_crossing_hz, 440.0, 4.4);
    EXPECT_GT(m.snr_db, 15.0);
}

}  // namespace
}  // namespace halvora
