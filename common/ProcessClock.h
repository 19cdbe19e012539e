#pragma once

#include <cstdint>

namespace halvora {

// Milliseconds since the program started, as an unsigned 32-bit count that wraps
// after about 49.7 days. The one clock behind every video and audio stamp, so a
// viewer can pace the picture against the sound.
std::uint32_t ProcessClockMs();

// Writes v as 4 little-endian bytes at out.
inline void PutLe32(std::uint8_t* out, std::uint32_t v) {
    out[0] = static_cast<std::uint8_t>(v);
    out[1] = static_cast<std::uint8_t>(v >> 8);
    out[2] = static_cast<std::uint8_t>(v >> 16);
    out[3] = static_cast<std::uint8_t>(v >> 24);
}

inline std::uint32_t GetLe32(const std::uint8_t* in) {
    return static_cast<std::uint32_t>(in[0]) | (static_cast<std::uint32_t>(in[1]) << 8) |
           (static_cast<std::uint32_t>(in[2]) << 16) | (static_cast<std::uint32_t>(in[3]) << 24);
}

}  // namespace halvora
