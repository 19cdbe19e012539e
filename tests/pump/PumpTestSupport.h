#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/PacketHeader.h"

namespace halvora::pump_test {

// One packet as a viewer reads it off the stream.
struct Packet {
    int length = 0;
    int key = 0;
    int kind = 0;
    std::string payload;

    bool operator==(const Packet&) const = default;
};

// The whole packets at the start of a stream body.
inline std::vector<Packet> Packets(const std::string& body) {
    std::vector<Packet> out;
    std::size_t at = 0;
    while (body.size() - at >= 4) {
        const auto* b = reinterpret_cast<const unsigned char*>(body.data() + at);
        const int length = b[0] | (b[1] << 8);
        if (body.size() - at - 4 < static_cast<std::size_t>(length)) {
            break;
        }
        out.push_back({length, b[2], b[3], body.substr(at + 4, static_cast<std::size_t>(length))});
        at += 4 + static_cast<std::size_t>(length);
    }
    return out;
}

// The media packets only (status packets left out).
inline std::vector<Packet> MediaPackets(const std::string& body) {
    std::vector<Packet> out;
    for (auto& p : Packets(body)) {
        if (p.kind != pkStatus) {
            out.push_back(std::move(p));
        }
    }
    return out;
}

inline std::vector<std::uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

inline std::string Pattern(std::size_t n, int salt) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) {
        s[i] = static_cast<char>((i * 31 + static_cast<std::size_t>(salt) * 7) & 0xFF);
    }
    return s;
}

}  // namespace halvora::pump_test
