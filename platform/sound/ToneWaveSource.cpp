#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <numbers>

#include "platform/sound/WaveInput.h"

namespace halvora {
namespace {

// The synthetic test tone. Pacing is measured from Start against the steady
// clock, frame by frame, so rounding never accumulates into drift.
class ToneWaveSource : public IWaveSource {
public:
    ToneWaveSource(const WaveFormat& format, const ToneOptions& options)
        : format_(format),
          options_(options),
          step_(2.0 * std::numbers::pi * options.frequency_hz / format.SamplesPerSec),
          peak_(options.amplitude * 32767.0) {}

    bool Start() override {
        std::lock_guard lock(mutex_);
        interrupted_ = false;
        start_ = Clock::now();
        frames_done_ = 0;
        return true;
    }

    std::uint32_t Fill(std::uint8_t* data, std::uint32_t capacity) override {
        const std::uint64_t wanted = capacity / format_.BlockAlign;
        if (wanted == 0) return 0;
        std::uint64_t frames = wanted;
        {
            std::unique_lock lock(mutex_);
            auto ready = ReadyAt(frames_done_ + wanted);
            const auto now = Clock::now();
            if (now - ready > kOverrunAfter * (ready - ReadyAt(frames_done_))) {
                // Nobody queued a buffer for a long time: that sound is lost,
                // as on a device that overran; pacing resumes from now.
                start_ += now - ready;
                ready = now;
            }
            if (wake_.wait_until(lock, ready, [this] { return interrupted_; })) {
                // Stopped early: only the sound recorded so far.
                frames = FramesBefore(Clock::now());
                frames = frames > frames_done_ ? std::min(frames - frames_done_, wanted) : 0;
            }
            frames_done_ += frames;
        }
        Synthesize(data, frames);
        return static_cast<std::uint32_t>(frames * format_.BlockAlign);
    }

    void Interrupt() override {
        std::lock_guard lock(mutex_);
        interrupted_ = true;
        wake_.notify_all();
    }

    void Halt() override {}

private:
    using Clock = std::chrono::steady_clock;
    // Falling this many buffers behind counts as an overrun.
    static constexpr int kOverrunAfter = 4;

    // When the sound up to frame `frame` has been "recorded".
    Clock::time_point ReadyAt(std::uint64_t frame) const {
        const std::chrono::duration<double> offset(static_cast<double>(frame) * options_.pace /
                                                   format_.SamplesPerSec);
        return start_ + std::chrono::duration_cast<Clock::duration>(offset);
    }

    std::uint64_t FramesBefore(Clock::time_point t) const {
        if (options_.pace <= 0.0) return UINT64_MAX;
        const std::chrono::duration<double> elapsed = t - start_;
        return static_cast<std::uint64_t>(elapsed.count() * format_.SamplesPerSec / options_.pace);
    }

    void Synthesize(std::uint8_t* data, std::uint64_t frames) {
        for (std::uint64_t i = 0; i < frames; ++i) {
            const auto value = static_cast<std::int16_t>(std::lround(peak_ * std::sin(phase_)));
            phase_ += step_;
            if (phase_ >= 2.0 * std::numbers::pi) phase_ -= 2.0 * std::numbers::pi;
            for (std::uint16_t c = 0; c < format_.Channels; ++c) {
                *data++ = static_cast<std::uint8_t>(value & 0xFF);
                *data++ = static_cast<std::uint8_t>((value >> 8) & 0xFF);
            }
        }
    }

    const WaveFormat format_;
    const ToneOptions options_;
    const double step_;  // phase advance per frame
    const double peak_;
    double phase_ = 0.0;  // capture thread only

    std::mutex mutex_;
    std::condition_variable wake_;
    // Guarded by mutex_.
    bool interrupted_ = false;
    Clock::time_point start_{};
    std::uint64_t frames_done_ = 0;
};

}  // namespace

std::unique_ptr<IWaveSource> MakeToneSource(const WaveFormat& format, const ToneOptions& options) {
    if (format.FormatTag != kWaveFormatPcm || format.BitsPerSample != 16 || format.Channels == 0 ||
        format.BlockAlign != format.Channels * 2 || format.SamplesPerSec < 1000 ||
        format.SamplesPerSec > 192000 || options.pace < 0.0) {
        return nullptr;
    }
    return std::make_unique<ToneWaveSource>(format, options);
}

}  // namespace halvora
