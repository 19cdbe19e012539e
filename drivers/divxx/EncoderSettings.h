#pragma once

#include <cstdint>

namespace halvora::divxx {

// What the codec key says about rate control, read when compression begins.
struct EncoderSettings {
    static constexpr std::int64_t kDefaultBitrate = 20000;   // bit/s
    static constexpr int kDefaultKeyInterval = 10;           // frames
    static constexpr std::int64_t kMinBitrate = 1000;
    static constexpr std::int64_t kMaxBitrate = 20'000'000;
    static constexpr int kMaxKeyInterval = 1000;

    std::int64_t bitrate = kDefaultBitrate;
    int key_interval = kDefaultKeyInterval;

    // From the raw registry words. The Options dialog stores whatever the
    // operator typed, so a word is taken as a signed integer: a value that is
    // missing or not positive means "not set" and gives the default; a positive
    // one is clamped into the range the encoder can honour.
    static EncoderSettings FromValues(const std::uint32_t* bitrate, const std::uint32_t* key_interval);

    // Reads "Bitrate" and "Max Keyframe Interval" from the codec key of the
    // per-user registry (an unreadable registry gives the defaults).
    static EncoderSettings FromRegistry();
};

}  // namespace halvora::divxx
