#include "drivers/divxx/EncoderSettings.h"

#include <algorithm>
#include <optional>

#include "platform/registry/CodecKey.h"
#include "platform/registry/RegistryStore.h"

namespace halvora::divxx {

EncoderSettings EncoderSettings::FromValues(const std::uint32_t* bitrate, const std::uint32_t* key_interval) {
    EncoderSettings settings;
    if (bitrate != nullptr) {
        const auto value = static_cast<std::int32_t>(*bitrate);
        if (value > 0) {
            settings.bitrate = std::clamp<std::int64_t>(value, kMinBitrate, kMaxBitrate);
        }
    }
    if (key_interval != nullptr) {
        const auto value = static_cast<std::int32_t>(*key_interval);
        if (value > 0) {
            settings.key_interval = std::min(value, kMaxKeyInterval);
        }
    }
    return settings;
}

EncoderSettings EncoderSettings::FromRegistry() {
    const RegistryStore store;
    const std::optional<std::uint32_t> bitrate = store.ReadDWord(kCodecKeyPath, "Bitrate");
    const std::optional<std::uint32_t> interval = store.ReadDWord(kCodecKeyPath, "Max Keyframe Interval");
    return FromValues(bitrate ? &*bitrate : nullptr, interval ? &*interval : nullptr);
}

}  // namespace halvora::divxx
