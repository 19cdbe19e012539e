#pragma once

#include <functional>
#include <memory>

#include "platform/sound/IWaveSource.h"
#include "platform/sound/WaveHeader.h"

namespace halvora {

// Called on the capture thread for every buffer that leaves the device's queue:
// filled (BytesRecorded bytes, possibly fewer after a reset) or returned empty
// by Reset. The device never touches the buffer again until it is queued anew.
using WaveInDataProc = std::function<void(WaveHeader& header)>;

// One open wave input device. It owns a capture thread that takes the queued
// buffers in order, fills each one from the source and reports it through the
// data procedure. Destroying the device closes it: capture stops and the thread
// ends. None of these calls may be made from inside the data procedure except
// AddBuffer, Reset and Stop.
class WaveInDevice {
public:
    WaveInDevice(std::unique_ptr<IWaveSource> source, WaveInDataProc proc);
    ~WaveInDevice();
    WaveInDevice(const WaveInDevice&) = delete;
    WaveInDevice& operator=(const WaveInDevice&) = delete;

    // Marks a header as usable by this device (waveInPrepareHeader). False when
    // the header has no memory.
    bool Prepare(WaveHeader& header);
    // Releases it again (waveInUnprepareHeader). False while it is queued.
    bool Unprepare(WaveHeader& header);
    // Appends a prepared buffer to the capture queue (waveInAddBuffer).
    bool AddBuffer(WaveHeader& header);
    // Begins capturing into the queued buffers (waveInStart).
    bool Start();
    // Stops capturing and returns every queued buffer through the data procedure
    // at once, the one being filled with what it holds (waveInReset). Called from
    // another thread it returns only after the capture thread has finished the
    // report it was making, so no report runs once it has returned.
    void Reset();
    // Pauses capturing: the buffer being filled comes back with what it holds,
    // the others stay queued (waveInStop).
    void Stop();

private:
    struct State;
    static void CaptureLoop(State& state);

    std::shared_ptr<State> state_;
};

}  // namespace halvora
