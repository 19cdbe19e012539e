#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace halvora::test {

// Measurements of a steady tone in decoded sound, to tell whether a tone fed to
// the encoder came back.
struct ToneMeasure {
    double zero_crossing_hz = 0;  // frequency from the rising zero crossings
    double amplitude = 0;         // of the best-fitting sine at the given frequency
    double snr_db = 0;            // that sine against everything else
};

// Measures every `channels`-th sample from `channel` on, after skipping `skip`
// frames (the decoder's start-up), against a sine of `expected_hz`.
ToneMeasure MeasureTone(std::span<const float> interleaved, int channels, int channel,
                        long rate, double expected_hz, std::size_t skip);

// `frames` frames of 16-bit little-endian PCM with a sine of frequencies[c] at
// `amplitude` of full scale on channel c, from phase 0.
std::vector<std::uint8_t> MakeTonePcm16(std::size_t frames, long rate,
                                        std::span<const double> frequencies, double amplitude);
// The same as 8-bit unsigned PCM (128 = silence).
std::vector<std::uint8_t> MakeTonePcm8(std::size_t frames, long rate,
                                       std::span<const double> frequencies, double amplitude);

}  // namespace halvora::test
