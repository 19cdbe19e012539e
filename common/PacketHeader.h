#pragma once

#include <array>
#include <cstdint>

namespace halvora {

// Packet kinds on the wire and in stream files.
enum PacketKind : int {
    pkStatus = 0,
    pkVideo = 1,
    pkAudio = 3,
    pkChat = 255,
};

// Record kinds in the queues: as above, except that a chat line is queued as -1
// and travels as its low byte, 255.
inline constexpr int kKindChatRecord = -1;

// The largest payload a 16-bit length can carry.
inline constexpr std::uint32_t kMaxPayload = 65535;

// The 4-byte header in front of every packet and every stream-file record:
// 16-bit little-endian length, key flag byte, kind byte. The one place where it
// is formed and read.
struct PacketHeader {
    std::uint16_t Length = 0;
    std::uint8_t KeyFlag = 0;
    std::uint8_t Kind = 0;

    // Callers guarantee size <= kMaxPayload (the queues and the writer refuse
    // anything larger), so the length never spills into the other bytes.
    static PacketHeader Make(std::uint32_t size, std::uint8_t key_flag, int kind) {
        return PacketHeader{static_cast<std::uint16_t>(size), key_flag,
                            static_cast<std::uint8_t>(kind & 0xFF)};
    }

    std::array<std::uint8_t, 4> Bytes() const {
        return {static_cast<std::uint8_t>(Length & 0xFF), static_cast<std::uint8_t>(Length >> 8),
                KeyFlag, Kind};
    }

    // Reads a header; bits 17..23 (beyond the key flag's lowest bit) are ignored.
    static PacketHeader Parse(const std::uint8_t* b) {
        PacketHeader h;
        h.Length = static_cast<std::uint16_t>(b[0] | (b[1] << 8));
        h.KeyFlag = static_cast<std::uint8_t>(b[2] & 1);
        h.Kind = b[3];
        return h;
    }
};

}  // namespace halvora
