#pragma once

#include <cstdint>

namespace halvora {

// Where the samples come from. Fill runs on the device's capture thread only;
// Start and Halt run while that thread is not inside Fill.
class IWaveSource {
public:
    virtual ~IWaveSource() = default;
    // Prepares the source to deliver (capture begins). False: it cannot.
    virtual bool Start() = 0;
    // Writes up to `capacity` bytes (whole sample frames) into `data` and returns
    // how many: blocks until a buffer's worth of sound exists, or returns early
    // with what it has once Interrupt() is called. 0 means nothing was recorded.
    virtual std::uint32_t Fill(std::uint8_t* data, std::uint32_t capacity) = 0;
    // Makes a running or later Fill return at once; from any thread. Start
    // clears it.
    virtual void Interrupt() = 0;
    // Capture stops; sound made from now until the next Start is discarded.
    virtual void Halt() = 0;
};

}  // namespace halvora
