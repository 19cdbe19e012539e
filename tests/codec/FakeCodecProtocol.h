#pragma once

// What tests and fakecodec.so agree on (see FakeCodecDriver.cpp).

#include <cstdint>
#include <cstring>
#include <vector>

namespace halvora::test::fake {

inline constexpr std::uint32_t kRefuse = 0xFFFFFFFFu;
// Larger than a bitmap info header, so the compressor must use what it is told.
inline constexpr int kFormatBlockSize = 48;
inline constexpr std::size_t kReportBytes = 24;

// A 230400-byte "picture" telling the fake what to produce.
inline std::vector<std::uint8_t> Instruction(std::uint32_t compressed_size, bool key_frame) {
    std::vector<std::uint8_t> picture(320 * 240 * 3, 0);
    std::memcpy(picture.data(), &compressed_size, 4);
    picture[4] = key_frame ? 1 : 0;
    return picture;
}

// Field i (0 frame number, 1 quality, 2 flags, 3 desired size, 4 get-format
// requests, 5 begin requests) of the report at the start of a compressed frame.
inline std::uint32_t Reported(const std::uint8_t* compressed, int field) {
    std::uint32_t v = 0;
    std::memcpy(&v, compressed + 4 * field, 4);
    return v;
}

}  // namespace halvora::test::fake
