#include "tests/support/OggToneCheck.h"

#include <cmath>
#include <numbers>

namespace halvora::test {

ToneMeasure MeasureTone(std::span<const float> interleaved, int channels, int channel, long rate,
                        double expected_hz, std::size_t skip) {
    std::vector<double> x;
    for (std::size_t i = (skip * channels) + channel; i < interleaved.size(); i += channels) {
        x.push_back(interleaved[i]);
    }
    ToneMeasure m;
    if (x.size() < 2 || rate <= 0) return m;

    // Rising zero crossings, interpolated between samples.
    double first = -1, last = -1;
    int crossings = 0;
    for (std::size_t i = 1; i < x.size(); ++i) {
        if (x[i - 1] < 0 && x[i] >= 0) {
            const double at = static_cast<double>(i - 1) + (-x[i - 1]) / (x[i] - x[i - 1]);
            if (first < 0) first = at;
            last = at;
            ++crossings;
        }
    }
    if (crossings >= 2) m.zero_crossing_hz = (crossings - 1) * static_cast<double>(rate) / (last - first);

    // Least-squares fit of a sin + b cos at the expected frequency.
    const double w = 2.0 * std::numbers::pi * expected_hz / static_cast<double>(rate);
    double ss = 0, cc = 0, sc = 0, xs = 0, xc = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double s = std::sin(w * static_cast<double>(i));
        const double c = std::cos(w * static_cast<double>(i));
        ss += s * s;
        cc += c * c;
        sc += s * c;
        xs += x[i] * s;
        xc += x[i] * c;
    }
    const double det = ss * cc - sc * sc;
    if (det == 0) return m;
    const double a = (xs * cc - xc * sc) / det;
    const double b = (xc * ss - xs * sc) / det;
    double signal = 0, noise = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double fit = a * std::sin(w * static_cast<double>(i)) + b * std::cos(w * static_cast<double>(i));
        signal += fit * fit;
        noise += (x[i] - fit) * (x[i] - fit);
    }
    m.amplitude = std::hypot(a, b);
    m.snr_db = noise > 0 ? 10.0 * std::log10(signal / noise) : 200.0;
    return m;
}

namespace {
template <typename Put>
std::vector<std::uint8_t> MakeTone(std::size_t frames, long rate, std::span<const double> freqs,
                                   double amplitude, std::size_t bytes_per_sample, Put put) {
    std::vector<std::uint8_t> out(frames * freqs.size() * bytes_per_sample);
    std::uint8_t* p = out.data();
    for (std::size_t i = 0; i < frames; ++i) {
        for (double f : freqs) {
            put(p, amplitude * std::sin(2.0 * std::numbers::pi * f * static_cast<double>(i) /
                                        static_cast<double>(rate)));
            p += bytes_per_sample;
        }
    }
    return out;
}
}  // namespace

std::vector<std::uint8_t> MakeTonePcm16(std::size_t frames, long rate,
                                        std::span<const double> frequencies, double amplitude) {
    return MakeTone(frames, rate, frequencies, amplitude, 2, [](std::uint8_t* p, double v) {
        const auto s = static_cast<std::int16_t>(std::lround(v * 32767.0));
        p[0] = static_cast<std::uint8_t>(s & 0xFF);
        p[1] = static_cast<std::uint8_t>((s >> 8) & 0xFF);
    });
}

std::vector<std::uint8_t> MakeTonePcm8(std::size_t frames, long rate,
                                       std::span<const double> frequencies, double amplitude) {
    return MakeTone(frames, rate, frequencies, amplitude, 1, [](std::uint8_t* p, double v) {
        p[0] = static_cast<std::uint8_t>(128 + std::lround(v * 127.0));
    });
}

}  // namespace halvora::test
