#pragma once

#include <cstdint>

namespace halvora {

inline constexpr std::uint16_t kWaveFormatPcm = 1;

// The published wave format record: PCM only.
struct WaveFormat {
    std::uint16_t FormatTag = kWaveFormatPcm;
    std::uint16_t Channels = 0;
    std::uint32_t SamplesPerSec = 0;
    std::uint32_t AvgBytesPerSec = 0;
    std::uint16_t BlockAlign = 0;
    std::uint16_t BitsPerSample = 0;

    // PCM with the given layout; the derived fields filled in.
    static WaveFormat Pcm(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits) {
        WaveFormat f;
        f.Channels = channels;
        f.SamplesPerSec = rate;
        f.BitsPerSample = bits;
        f.BlockAlign = static_cast<std::uint16_t>(channels * bits / 8);
        f.AvgBytesPerSec = rate * f.BlockAlign;
        return f;
    }
    // The broadcast's capture format: PCM, mono, 8000 Hz, 16-bit.
    static WaveFormat Capture() { return Pcm(1, 8000, 16); }
};

}  // namespace halvora
