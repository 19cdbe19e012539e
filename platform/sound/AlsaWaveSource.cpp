#include "platform/sound/AlsaWaveSource.h"

#include <cerrno>
#include <mutex>

#include <alsa/asoundlib.h>

namespace halvora {
namespace {

// A machine without a sound card is normal for a broadcast server; ALSA would
// otherwise print its configuration complaints on every open.
void QuietAlsaError(const char*, int, const char*, int, const char*, ...) {}

void SilenceAlsaOnce() {
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(&QuietAlsaError); });
}

// How long one wait for sound lasts before the interrupt flag is looked at again.
constexpr int kWaitSliceMs = 50;

bool ConfigurePcm(snd_pcm_t* pcm, const WaveFormat& format) {
    snd_pcm_format_t sample_format;
    if (format.BitsPerSample == 16) {
        sample_format = SND_PCM_FORMAT_S16_LE;
    } else if (format.BitsPerSample == 8) {
        sample_format = SND_PCM_FORMAT_U8;
    } else {
        return false;
    }
    snd_pcm_hw_params_t* hw = nullptr;
    if (snd_pcm_hw_params_malloc(&hw) < 0) return false;
    std::unique_ptr<snd_pcm_hw_params_t, void (*)(snd_pcm_hw_params_t*)> owner(
        hw, snd_pcm_hw_params_free);
    snd_pcm_uframes_t period = AlsaWaveSource::kPeriodFrames;
    snd_pcm_uframes_t buffer = 4 * AlsaWaveSource::kPeriodFrames;
    int dir = 0;
    return snd_pcm_hw_params_any(pcm, hw) >= 0 &&
           snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED) >= 0 &&
           snd_pcm_hw_params_set_format(pcm, hw, sample_format) >= 0 &&
           snd_pcm_hw_params_set_channels(pcm, hw, format.Channels) >= 0 &&
           snd_pcm_hw_params_set_rate(pcm, hw, format.SamplesPerSec, 0) >= 0 &&
           snd_pcm_hw_params_set_period_size_near(pcm, hw, &period, &dir) >= 0 &&
           snd_pcm_hw_params_set_buffer_size_near(pcm, hw, &buffer) >= 0 &&
           snd_pcm_hw_params(pcm, hw) >= 0;
}

}  // namespace

std::unique_ptr<AlsaWaveSource> AlsaWaveSource::Open(const char* pcm_name,
                                                     const WaveFormat& format) {
    if (format.FormatTag != kWaveFormatPcm || format.Channels == 0 ||
        format.BlockAlign != format.Channels * format.BitsPerSample / 8) {
        return nullptr;
    }
    SilenceAlsaOnce();
    snd_pcm_t* pcm = nullptr;
    if (snd_pcm_open(&pcm, pcm_name, SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK) < 0) {
        return nullptr;
    }
    if (!ConfigurePcm(pcm, format)) {
        snd_pcm_close(pcm);
        return nullptr;
    }
    return std::unique_ptr<AlsaWaveSource>(new AlsaWaveSource(pcm, format.BlockAlign));
}

AlsaWaveSource::AlsaWaveSource(snd_pcm_t* pcm, std::uint32_t block_align)
    : pcm_(pcm), block_align_(block_align) {}

AlsaWaveSource::~AlsaWaveSource() { snd_pcm_close(pcm_); }

bool AlsaWaveSource::Start() {
    interrupted_ = false;
    if (snd_pcm_state(pcm_) != SND_PCM_STATE_PREPARED && snd_pcm_prepare(pcm_) < 0) return false;
    return snd_pcm_start(pcm_) >= 0;
}

std::uint32_t AlsaWaveSource::Fill(std::uint8_t* data, std::uint32_t capacity) {
    const snd_pcm_uframes_t wanted = capacity / block_align_;
    snd_pcm_uframes_t got = 0;
    while (got < wanted && !interrupted_) {
        const snd_pcm_sframes_t r = snd_pcm_readi(pcm_, data + got * block_align_, wanted - got);
        if (r > 0) {
            got += static_cast<snd_pcm_uframes_t>(r);
        } else if (r == -EAGAIN || r == 0) {
            snd_pcm_wait(pcm_, kWaitSliceMs);
        } else if (snd_pcm_recover(pcm_, static_cast<int>(r), 1) < 0 || snd_pcm_start(pcm_) < 0) {
            // The device went away: the buffer comes back with what it holds.
            break;
        }
    }
    return static_cast<std::uint32_t>(got * block_align_);
}

void AlsaWaveSource::Interrupt() { interrupted_ = true; }

void AlsaWaveSource::Halt() { snd_pcm_drop(pcm_); }

}  // namespace halvora
