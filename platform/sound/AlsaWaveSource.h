#pragma once

#include <atomic>
#include <memory>

#include "platform/sound/IWaveSource.h"
#include "platform/sound/WaveFormat.h"

typedef struct _snd_pcm snd_pcm_t;

namespace halvora {

// Capture from an ALSA PCM, one buffer of whole sample frames per Fill. The PCM
// is opened non-blocking so that a reset never waits for the hardware.
class AlsaWaveSource : public IWaveSource {
public:
    static constexpr const char* kDefaultPcm = "default";
    // Frames per period: one capture buffer of the broadcast (172.75 ms at 8 kHz).
    static constexpr unsigned long kPeriodFrames = 1382;

    // Null when the PCM is missing or cannot record the format (8-bit unsigned
    // or 16-bit signed little-endian PCM); ALSA's own complaints are kept off
    // the terminal.
    static std::unique_ptr<AlsaWaveSource> Open(const char* pcm_name, const WaveFormat& format);
    ~AlsaWaveSource() override;

    bool Start() override;
    std::uint32_t Fill(std::uint8_t* data, std::uint32_t capacity) override;
    void Interrupt() override;
    void Halt() override;

private:
    AlsaWaveSource(snd_pcm_t* pcm, std::uint32_t block_align);

    snd_pcm_t* pcm_;
    const std::uint32_t block_align_;
    std::atomic<bool> interrupted_{false};
};

}  // namespace halvora
