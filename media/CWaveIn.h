#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/sound/WaveInput.h"

namespace halvora {

// The consumer of captured sound: (recorded bytes, their count, the user value
// given to Open) -> one of the results below. Runs on the capture thread.
using WaveInCallback =
    std::function<int(const std::uint8_t* data, std::uint32_t bytes, std::uintptr_t user)>;

// Callback results.
inline constexpr int kWaveInStopCapture = 1;  // Stop(); this buffer is not handed back
inline constexpr int kWaveInKeepBuffer = 3;   // leave this buffer out of the device's queue
// Any other result hands the buffer back to the device (the audio worker uses 0 and 2).

// The broadcast's buffer geometry: 4 buffers of 2765 bytes. The device fills
// whole sample frames, so each comes back with 2764 bytes = 1382 samples =
// 172.75 ms of sound.
inline constexpr int kWaveInBufferCount = 4;
inline constexpr int kWaveInBufferSize = 2765;

// One capture buffer: its header for the device and the memory it points at.
class CWaveBufferIn {
public:
    CWaveBufferIn() = default;
    ~CWaveBufferIn();
    CWaveBufferIn(const CWaveBufferIn&) = delete;
    CWaveBufferIn& operator=(const CWaveBufferIn&) = delete;

    // Header.Data addresses `size` zeroed bytes owned here; Header.User points
    // back to this buffer.
    bool Allocate(std::uint32_t size);
    // Prepares the header for `device`; remembered in Device.
    bool Prepare(WaveInDevice& device);
    // Unprepares (if prepared) and frees the memory.
    void Release();

    WaveHeader Header{};
    WaveInDevice* Device = nullptr;  // the device the header is prepared for, or null

private:
    std::unique_ptr<std::uint8_t[]> memory_;
};

// The wave input with its ring of capture buffers. The device fills a buffer,
// the callback consumes it on the capture thread, and the buffer goes back to
// the device only after the callback has returned, so the consumer may use the
// bytes in place while the device fills the others.
//
// Open, Start, Stop and Close are called from one thread (the main thread);
// CWaveIn has no lock of its own. The capture thread reads the running flag and
// the callback through atomics. Stop and Close wait for a callback in progress
// to return, so never call them while holding a lock that the callback takes.
class CWaveIn {
public:
    CWaveIn(int buffer_count, int buffer_size);
    ~CWaveIn();
    CWaveIn(const CWaveIn&) = delete;
    CWaveIn& operator=(const CWaveIn&) = delete;

    // Whether the device can record the format, without opening it.
    static bool QueryFormat(int device_id, const WaveFormat& format);

    // Opens the device, allocates and prepares the buffers and stores the
    // callback. False, silently, when the device is missing or cannot record the
    // format, or a buffer cannot be made (what was done so far stays done).
    bool Open(int device_id, const WaveFormat& format, WaveInCallback callback,
              std::uintptr_t user);
    // Starts capturing and queues every buffer. False without an open device.
    bool Start();
    // Stops capturing; the buffers the device returns are not handed back.
    bool Stop();
    // Stop, then unprepares and frees the buffers and closes the device.
    bool Close();

    bool Running() const { return running_.load(); }
    int BufferCount() const { return buffer_count_; }
    int BufferSize() const { return buffer_size_; }
    // The buffer at `index` (0 .. BufferCount() - 1). Its header belongs to the
    // device while queued; look at it from the callback or while stopped.
    const CWaveBufferIn& Buffer(int index) const { return *buffers_.at(static_cast<std::size_t>(index)); }

private:
    struct Consumer {
        WaveInCallback callback;
        std::uintptr_t user = 0;
    };

    // The device's data procedure (capture thread).
    void OnBufferDone(WaveHeader& header);

    // Read by the capture thread without a lock.
    std::atomic<std::shared_ptr<const Consumer>> consumer_;
    std::atomic<bool> running_{false};

    const int buffer_count_;
    const int buffer_size_;
    std::vector<std::unique_ptr<CWaveBufferIn>> buffers_;
    std::unique_ptr<WaveInDevice> device_;
};

}  // namespace halvora
