#pragma once

#include <cstdint>

namespace halvora {

// Header flags, as the system's wave header has them.
inline constexpr std::uint32_t kWhdrDone = 0x01;      // the device has filled it
inline constexpr std::uint32_t kWhdrPrepared = 0x02;  // prepared for a device
inline constexpr std::uint32_t kWhdrInQueue = 0x10;   // queued for filling

// One capture buffer as the device sees it. The owner sets Data, BufferLength
// and User; the device sets BytesRecorded and the done / in-queue flags.
struct WaveHeader {
    std::uint8_t* Data = nullptr;
    std::uint32_t BufferLength = 0;
    std::uint32_t BytesRecorded = 0;
    std::uintptr_t User = 0;
    std::uint32_t Flags = 0;
    std::uint32_t Loops = 0;
    WaveHeader* Next = nullptr;
    std::uintptr_t Reserved = 0;
};

}  // namespace halvora
